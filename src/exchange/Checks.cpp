#include "Checks.h"

#include <QSet>
#include <algorithm>
#include <cmath>
#include <map>

namespace exchange {

namespace {

[[noreturn]] void refuse(const QString& what) {
    throw ExchangeError(what);
}

// Field sizes of the catalogue tables.
constexpr int kNameChars = 80, kQuestionChars = 200, kOptionChars = 200, kLevelChars = 80,
              kLicenceChars = 200;
constexpr int kMaxSmallint = 32767;

void fits(const QString& text, int chars, const QString& where, const QString& field) {
    if (text.size() > chars)
        refuse(QStringLiteral("%1: поле «%2» длиннее %3 знаков (%4)")
                   .arg(where, field)
                   .arg(chars)
                   .arg(text.size()));
}

bool whole(double v) {
    return std::isfinite(v) && v == std::floor(v) && std::fabs(v) <= kMaxSmallint;
}

void checkQuestions(const TestFile& t, const std::map<int, const AnswerSet*>& sets) {
    if (t.questions.empty()) refuse(QStringLiteral("В тесте нет ни одного вопроса"));
    if (t.questions.size() > size_t(kMaxSmallint))
        refuse(QStringLiteral("В тесте %1 вопросов: больше %2 таблица вопросов не держит")
                   .arg(t.questions.size())
                   .arg(kMaxSmallint));
    int expected = 1;
    for (const Question& q : t.questions) {
        const QString where = QStringLiteral("Вопрос %1").arg(q.number);
        if (q.number != expected)
            refuse(QStringLiteral("Вопросы должны идти по порядку 1, 2, 3…: на месте %1-го стоит вопрос %2")
                       .arg(expected)
                       .arg(q.number));
        ++expected;
        fits(q.text, kQuestionChars, where, QStringLiteral("Текст вопроса"));
        if (!sets.count(q.answerSet))
            refuse(QStringLiteral("%1: набора ответов %2 нет в файле").arg(where).arg(q.answerSet));
        if (q.columns < 1 || q.columns > 16)
            refuse(QStringLiteral("%1: поле «Колонок» должно быть от 1 до 16, а не %2")
                       .arg(where)
                       .arg(q.columns));
    }
}

std::map<int, const AnswerSet*> checkSets(const TestFile& t) {
    std::map<int, const AnswerSet*> sets;
    for (const AnswerSet& s : t.answerSets) {
        const QString where = QStringLiteral("Набор ответов %1").arg(s.number);
        if (s.number < 1) refuse(QStringLiteral("%1: номер набора должен быть больше нуля").arg(where));
        if (!sets.emplace(s.number, &s).second)
            refuse(QStringLiteral("%1 встречается в файле дважды").arg(where));
        if (s.options.empty()) refuse(QStringLiteral("%1: в наборе нет ни одного ответа").arg(where));
        int i = 0;
        for (const Option& o : s.options) {
            const QString at = QStringLiteral("%1, ответ %2").arg(where).arg(++i);
            fits(o.text, kOptionChars, at, QStringLiteral("Ответ"));
            if (!whole(o.points))
                refuse(QStringLiteral("%1: баллы должны быть целым числом от −32767 до 32767, а не %2")
                           .arg(at)
                           .arg(o.points));
        }
    }
    return sets;
}

// Levels sorted by their lower ends must follow each other without a shared score and without
// a whole score left out between the lowest and the highest possible score.
void checkLevels(const TestFile& t, const Criterion& c) {
    if (c.levels.empty()) return;
    const QString where = QStringLiteral("Критерий %1").arg(c.number);
    std::vector<const Level*> levels;
    for (const Level& l : c.levels) {
        fits(l.name, kLevelChars, QStringLiteral("%1, уровень «%2»").arg(where, l.name.left(20)),
             QStringLiteral("Уровень"));
        if (l.min > l.max)
            refuse(QStringLiteral("%1, уровень «%2»: минимум %3 больше максимума %4")
                       .arg(where, l.name)
                       .arg(l.min)
                       .arg(l.max));
        levels.push_back(&l);
    }
    std::stable_sort(levels.begin(), levels.end(),
                     [](const Level* a, const Level* b) { return a->min < b->min; });
    for (size_t i = 1; i < levels.size(); ++i)
        if (levels[i]->min <= levels[i - 1]->max)
            refuse(QStringLiteral("%1: уровни «%2» (%3–%4) и «%5» (%6–%7) перекрываются")
                       .arg(where, levels[i - 1]->name)
                       .arg(levels[i - 1]->min)
                       .arg(levels[i - 1]->max)
                       .arg(levels[i]->name)
                       .arg(levels[i]->min)
                       .arg(levels[i]->max));
    const auto [lo, hi] = possibleScores(t, c);
    // Scores are sums of whole points: the first whole score no level holds is the gap.
    double next = lo;
    for (const Level* l : levels) {
        if (next > hi) break;
        if (std::ceil(l->min) > next)
            refuse(QStringLiteral("%1: балл %2 не попадает ни в один уровень (возможны баллы от %3 до %4)")
                       .arg(where)
                       .arg(next)
                       .arg(lo)
                       .arg(hi));
        next = std::max(next, std::floor(l->max) + 1);
    }
    if (next <= hi)
        refuse(QStringLiteral("%1: балл %2 не попадает ни в один уровень (возможны баллы от %3 до %4)")
                   .arg(where)
                   .arg(next)
                   .arg(lo)
                   .arg(hi));
}

void checkCriteria(const TestFile& t) {
    if (t.criterionCount < 0 || t.criterionCount > kMaxSmallint)
        refuse(QStringLiteral("Число критериев %1 недопустимо").arg(t.criterionCount));
    QSet<int> seen;
    for (const Criterion& c : t.criteria) {
        const QString where = QStringLiteral("Критерий %1").arg(c.number);
        if (c.number < 1 || c.number > t.criterionCount)
            refuse(QStringLiteral("%1: номер вне 1…%2 (число критериев теста)")
                       .arg(where)
                       .arg(t.criterionCount));
        if (seen.contains(c.number)) refuse(QStringLiteral("%1 встречается в файле дважды").arg(where));
        seen.insert(c.number);
        for (int q : c.questions)
            if (q < 1 || size_t(q) > t.questions.size())
                refuse(QStringLiteral("%1: ключ называет вопрос %2, а в тесте вопросы 1…%3")
                           .arg(where)
                           .arg(q)
                           .arg(t.questions.size()));
        checkLevels(t, c);
    }
}

void checkRest(const TestFile& t) {
    fits(t.name, kNameChars, QStringLiteral("Тест"), QStringLiteral("Название теста"));
    if (t.name.trimmed().isEmpty()) refuse(QStringLiteral("У теста нет названия"));
    for (const NormRow& n : t.norms) {
        if (n.criterion < 1 || n.criterion > t.criterionCount)
            refuse(QStringLiteral("Нормы: критерия %1 в тесте нет").arg(n.criterion));
        fits(n.sex, 1, QStringLiteral("Нормы критерия %1").arg(n.criterion), QStringLiteral("Пол"));
    }
    if (t.licence) {
        fits(t.licence->author, kLicenceChars, QStringLiteral("Лицензия"), QStringLiteral("Автор"));
        fits(t.licence->source, kLicenceChars, QStringLiteral("Лицензия"), QStringLiteral("Источник"));
        fits(t.licence->terms, kLicenceChars, QStringLiteral("Лицензия"),
             QStringLiteral("Условия использования"));
    }
}

} // namespace

std::pair<double, double> possibleScores(const TestFile& t, const Criterion& c) {
    std::map<int, std::pair<double, double>> ofSet;
    for (const AnswerSet& s : t.answerSets) {
        double lo = s.options.front().points, hi = lo;
        for (const Option& o : s.options)
            lo = std::min(lo, o.points), hi = std::max(hi, o.points);
        ofSet[s.number] = {lo, hi};
    }
    double lo = 0, hi = 0;
    for (int q : c.questions) {
        const auto [a, b] = ofSet.at(t.questions[size_t(q - 1)].answerSet);
        lo += a, hi += b;
    }
    return {lo, hi};
}

void check(const TestFile& test) {
    checkRest(test);
    const auto sets = checkSets(test);
    checkQuestions(test, sets);
    checkCriteria(test);
}

} // namespace exchange
