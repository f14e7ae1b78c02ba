#include "reports/Reports.h"

#include "exchange/Catalogue.h"
#include "psychometrics/Texts.h"
#include "results/Archive.h"
#include "results/Pseudonym.h"
#include "stats/Descriptive.h"

#include <QDate>

namespace reports {

using results::Archive;
using results::CriterionResult;
using results::RunResult;

namespace {

const QString kDash = QStringLiteral("—");

QString dateText(const QDate& d) {
    return d.isNull() ? QStringLiteral("не указана") : d.toString(QStringLiteral("dd.MM.yyyy"));
}

QString orNot(const QString& s, const QString& missing) {
    return s.isEmpty() ? missing : s;
}

QString testeeName(const results::Testee& t) {
    const QString name = t.fullName();
    return name.isEmpty() ? QStringLiteral("тестируемый № %1 (фамилия и имя не указаны)").arg(t.number)
                          : name;
}

QString institutionName(const results::Institution& i) {
    const QString name = orNot(i.name, QStringLiteral("учреждение № %1 (название не указано)").arg(i.number));
    return i.subdivision.isEmpty() ? name : name + QStringLiteral(", ") + i.subdivision;
}

QString testName(const results::TestInfo& t) {
    return QStringLiteral("%1 (№ %2)")
        .arg(orNot(t.name, QStringLiteral("без названия")), QString::number(t.number));
}

// Who made the test, where it was published and its terms, as one line; empty when the database
// keeps none for it.
QString sourceLine(Archive& a, int test) {
    const std::optional<exchange::Licence> l = exchange::readLicence(a.directory(), test);
    if (!l) return {};
    QStringList parts;
    for (const QString& s : {l->author, l->source})
        if (!s.trimmed().isEmpty()) parts << s.trimmed();
    QString line = parts.join(QStringLiteral(", "));
    if (!l->terms.trimmed().isEmpty())
        line += (line.isEmpty() ? QString() : QStringLiteral("; ")) + QStringLiteral("условия: ") +
                l->terms.trimmed();
    return line;
}

// The test's name, and its source under it when it has one.
void addTestRows(Fields& f, Archive& a, const results::TestInfo& test) {
    f.rows.push_back({QStringLiteral("Тест"), testName(test)});
    if (const QString source = sourceLine(a, test.number); !source.isEmpty())
        f.rows.push_back({QStringLiteral("Источник теста"), source});
}

results::Institution institutionOf(Archive& a, int org) {
    const std::optional<results::Institution> i = a.institution(org);
    if (!i) throw ReportError(QStringLiteral("Учреждение № %1 не найдено: отчёт не составлен.").arg(org));
    return *i;
}

results::Testee testeeOf(Archive& a, int org, int testee) {
    const std::optional<results::Testee> t = a.testee(org, testee);
    if (!t)
        throw ReportError(QStringLiteral("Тестируемый № %1 учреждения № %2 не найден: отчёт не составлен.")
                              .arg(testee)
                              .arg(org));
    return *t;
}

results::TestInfo testOf(Archive& a, int test) {
    const std::optional<results::TestInfo> t = a.test(test);
    if (!t) throw ReportError(QStringLiteral("Тест № %1 не найден: отчёт не составлен.").arg(test));
    return *t;
}

Fields particulars(const results::Institution& org, const results::Testee& t) {
    const QString unknown = QStringLiteral("не указан");
    return Fields{{{QStringLiteral("Учреждение"), institutionName(org)},
                   {QStringLiteral("Тестируемый"), testeeName(t)},
                   {QStringLiteral("Пол"), orNot(t.sex, unknown)},
                   {QStringLiteral("Год рождения"), t.birthYear ? QString::number(*t.birthYear) : unknown},
                   {QStringLiteral("Образование"), orNot(t.education, QStringLiteral("не указано"))}}};
}

QString scoreText(const CriterionResult& c) {
    return c.score ? QString::number(*c.score, 'g', 15) : QStringLiteral("нет балла");
}

QString levelText(const CriterionResult& c) {
    if (!c.score) return kDash;
    return c.level ? c.level->name : QStringLiteral("вне диапазонов");
}

// What a run without scores lacks, or empty when it has some.
QString missingScores(const RunResult& r, const results::TestInfo& test) {
    if (test.criteria == 0) return QStringLiteral("У теста не указано ни одного критерия: оценивать нечего.");
    if (!r.scored())
        return QStringLiteral("Результаты не подсчитаны: ответы ещё не обработаны (меню «Результаты»).");
    return {};
}

Table scoreTable(const RunResult& r) {
    Table t{{QStringLiteral("Критерий"), QStringLiteral("Балл"), QStringLiteral("Уровень")},
            {14, 14, 72},
            {0, 1},
            {}};
    for (const CriterionResult& c : r.criteria)
        t.rows.push_back({QString::number(c.krit), scoreText(c), levelText(c)});
    return t;
}

// The criteria's standard scores against the test's norms; nothing for a test without norms.
void addStandardScores(Report& rep, const QString& dir, const results::Testee& testee, const RunResult& r) {
    const std::vector<psychometrics::NormGroup> norms = psychometrics::readNorms(dir, r.key.test);
    if (norms.empty()) return;
    rep.add(Heading{QStringLiteral("Стандартные баллы"), 2});
    Table t{QStringList{QStringLiteral("Критерий")} + psychometrics::scoreHeadings() +
                QStringList{QStringLiteral("Группа норм")},
            {10, 9, 7, 8, 10, 11, 45},
            {0, 1, 2, 3, 4, 5},
            {}};
    for (const CriterionResult& c : r.criteria) {
        if (!c.score) continue;
        const psychometrics::NormResult n =
            psychometrics::standardScores(norms, c.krit, *c.score, testee.sex, testee.birthYear, r.date);
        t.rows.push_back(
            QStringList{QString::number(c.krit)} + psychometrics::scoreCells(n) +
            QStringList{n.scores ? n.scores->group.describe() : QStringLiteral("нет: ") + n.why});
    }
    rep.add(t);
    rep.add(
        Paragraph{QStringLiteral("Возраст — на дату тестирования по году рождения. z — отклонение балла от "
                                 "среднего группы в стандартных отклонениях; T = 50 + 10z; стены 1–10 и "
                                 "станайны 1–9 — те же баллы в шкалах со средним 5,5 и 5; процентиль — доля "
                                 "группы с баллом не выше."),
                  false});
}

} // namespace

Report runReport(Archive& a, const results::RunKey& key) {
    const results::Institution org = institutionOf(a, key.org);
    const results::Testee testee = testeeOf(a, key.org, key.testee);
    const results::TestInfo test = testOf(a, key.test);
    const RunResult r = a.run(key, true);
    const bool answered =
        std::any_of(r.answers.begin(), r.answers.end(), [](const auto& x) { return x.choice; });
    if (!r.scored() && !answered && r.date.isNull())
        throw ReportError(QStringLiteral("%1 не проходил(а) тест «%2»: отчёт не составлен.")
                              .arg(testeeName(testee), orNot(test.name, QString::number(test.number))));

    Report rep;
    rep.title = QStringLiteral("Результаты тестирования — %1").arg(testeeName(testee));
    rep.signatureLine = true;
    rep.add(Heading{QStringLiteral("Результаты тестирования"), 1});
    Fields f = particulars(org, testee);
    addTestRows(f, a, test);
    f.rows.push_back({QStringLiteral("Дата тестирования"), dateText(r.date)});
    rep.add(f);

    rep.add(Heading{QStringLiteral("Результаты по критериям"), 2});
    if (const QString missing = missingScores(r, test); !missing.isEmpty()) {
        rep.add(Paragraph{missing, true});
    } else {
        rep.add(scoreTable(r));
        addStandardScores(rep, a.directory(), testee, r);
        for (const CriterionResult& c : r.criteria) {
            QString head = QStringLiteral("Критерий %1").arg(c.krit);
            if (!c.score) {
                rep.add(Paragraph{head + QStringLiteral(": балла нет — критерий не подсчитан."), true});
            } else if (!c.level) {
                rep.add(
                    Paragraph{head + QStringLiteral(": балл %1 не попадает ни в один диапазон уровней теста.")
                                         .arg(scoreText(c)),
                              true});
            } else {
                rep.add(Paragraph{head + QStringLiteral(", уровень «%1» (баллы от %2 до %3)")
                                             .arg(c.level->name, QString::number(c.level->min),
                                                  QString::number(c.level->max)),
                                  false});
                if (!c.level->text.trimmed().isEmpty()) rep.add(Paragraph{c.level->text.trimmed(), false});
            }
        }
        if (r.criteria.size() > 1) {
            rep.add(Heading{QStringLiteral("Баллы по критериям"), 2});
            BarChart chart;
            for (const CriterionResult& c : r.criteria)
                if (c.score) chart.bars.push_back({c.krit, *c.score});
            rep.add(chart);
        }
    }

    rep.add(PageBreak{});
    rep.add(Heading{QStringLiteral("Приложение. Ответы"), 2});
    if (r.answers.empty()) {
        rep.add(Paragraph{QStringLiteral("В тесте нет ни одного вопроса."), true});
    } else {
        Table t{{QStringLiteral("№"), QStringLiteral("Вопрос"), QStringLiteral("Выбранный ответ"),
                 QStringLiteral("Баллы")},
                {7, 50, 33, 10},
                {0, 3},
                {}};
        for (const results::AnswerResult& x : r.answers)
            t.rows.push_back({QString::number(x.question), x.text,
                              x.choice ? x.choice->text : QStringLiteral("нет ответа"),
                              x.choice ? QString::number(x.choice->points) : kDash});
        rep.add(t);
    }
    return rep;
}

Report testeeReport(Archive& a, int orgNumber, int testeeNumber) {
    const results::Institution org = institutionOf(a, orgNumber);
    const results::Testee testee = testeeOf(a, orgNumber, testeeNumber);
    const std::vector<RunResult> runs = a.history(orgNumber, testeeNumber);
    if (runs.empty())
        throw ReportError(
            QStringLiteral("%1 не проходил(а) ни одного теста: отчёт не составлен.").arg(testeeName(testee)));

    Report rep;
    rep.title = QStringLiteral("История тестирования — %1").arg(testeeName(testee));
    rep.footer = testeeName(testee);
    rep.add(Heading{QStringLiteral("История тестирования"), 1});
    Fields f = particulars(org, testee);
    f.rows.push_back({QStringLiteral("Пройдено тестов"), QString::number(runs.size())});
    rep.add(f);
    for (const RunResult& r : runs) {
        const std::optional<results::TestInfo> test = a.test(r.key.test);
        const results::TestInfo info =
            test ? *test : results::TestInfo{r.key.test, QStringLiteral("тест удалён"), 0};
        rep.add(Heading{QStringLiteral("%1 — %2").arg(dateText(r.date), testName(info)), 2});
        if (const QString source = sourceLine(a, r.key.test); !source.isEmpty())
            rep.add(Paragraph{QStringLiteral("Источник теста: ") + source, false});
        if (const QString missing = missingScores(r, info); !missing.isEmpty())
            rep.add(Paragraph{missing, true});
        else
            rep.add(scoreTable(r));
    }
    return rep;
}

Report groupReport(Archive& a, int orgNumber, int testNumber, const std::function<bool(int, int)>& progress,
                   bool anonymous) {
    const results::Institution org = institutionOf(a, orgNumber);
    const results::TestInfo test = testOf(a, testNumber);
    if (test.criteria == 0)
        throw ReportError(
            QStringLiteral("У теста «%1» не указано ни одного критерия: групповой отчёт не составлен.")
                .arg(orNot(test.name, QString::number(test.number))));
    bool stopped = false;
    const std::vector<RunResult> runs = a.group(orgNumber, testNumber, [&](int done, int total) {
        if (progress && !progress(done, total)) stopped = true;
        return !stopped;
    });
    if (stopped) throw Cancelled();
    if (runs.empty())
        throw ReportError(
            QStringLiteral("В учреждении «%1» нет тестируемых с подсчитанными результатами теста «%2»: "
                           "отчёт не составлен.")
                .arg(institutionName(org), orNot(test.name, QString::number(test.number))));

    std::map<int, results::Testee> people;
    for (results::Testee& t : a.testees(orgNumber))
        people.emplace(t.number, std::move(t));

    Report rep;
    rep.title = QStringLiteral("Результаты группы — %1").arg(orNot(test.name, QString::number(test.number)));
    rep.footer = institutionName(org) + QStringLiteral(" — ") + testName(test);
    rep.landscape = test.criteria > 4;
    rep.add(Heading{QStringLiteral("Результаты группы"), 1});
    Fields f{{{QStringLiteral("Учреждение"), institutionName(org)}}};
    addTestRows(f, a, test);
    f.rows.push_back({QStringLiteral("Тестируемых"), QString::number(runs.size())});
    f.rows.push_back({QStringLiteral("Дата отчёта"), dateText(QDate::currentDate())});
    rep.add(f);

    // The criteria share about two thirds of the width; the name takes what is left.
    Table t;
    t.header = {QStringLiteral("№"), anonymous ? QStringLiteral("Код") : QStringLiteral("Тестируемый"),
                QStringLiteral("Дата")};
    const int each = std::clamp(70 / test.criteria, 5, 30);
    t.widths = {5, 100 - 5 - 11 - each * test.criteria, 11};
    if (t.widths[1] < 12) t.widths[1] = 12;
    for (int k = 1; k <= test.criteria; ++k) {
        t.header << QStringLiteral("Кр. %1").arg(k);
        t.widths.push_back(each);
    }
    t.numeric = {0};
    t.small = test.criteria > 3;
    std::vector<std::vector<stats::Real>> scores(size_t(test.criteria));
    const std::vector<psychometrics::NormGroup> norms = psychometrics::readNorms(a.directory(), testNumber);
    for (const RunResult& r : runs) {
        const auto who = people.find(r.key.testee);
        QString name = who != people.end() ? testeeName(who->second)
                                           : QStringLiteral("нет анкеты тестируемого № %1").arg(r.key.testee);
        if (anonymous) name = results::pseudonym(orgNumber, r.key.testee);
        QStringList row{QString::number(r.key.testee), name, dateText(r.date)};
        for (const CriterionResult& c : r.criteria) {
            if (c.score) scores[size_t(c.krit - 1)].push_back(*c.score);
            QString cell = c.score ? scoreText(c) + QStringLiteral("\n") + levelText(c) : kDash;
            if (c.score && !norms.empty() && who != people.end()) {
                const psychometrics::NormResult n = psychometrics::standardScores(
                    norms, c.krit, *c.score, who->second.sex, who->second.birthYear, r.date);
                if (n.scores && n.scores->t) cell += QStringLiteral("\nT ") + psychometrics::scoreCells(n)[1];
            }
            row << cell;
        }
        t.rows.push_back(row);
    }
    QStringList mean{QString(), QStringLiteral("Среднее"), QString()};
    QStringList sd{QString(), QStringLiteral("Стандартное отклонение"), QString()};
    for (const auto& values : scores) {
        const stats::Summary s = stats::summarize(values);
        mean << (s.mean ? stats::fixed4(*s.mean) : kDash);
        sd << (s.standardDeviation ? stats::fixed4(*s.standardDeviation) : kDash);
    }
    t.rows.push_back(mean);
    t.rows.push_back(sd);
    rep.add(Heading{QStringLiteral("Баллы и уровни"), 2});
    rep.add(t);
    if (!norms.empty())
        rep.add(
            Paragraph{QStringLiteral("Третья строка клетки — T-балл (50 + 10z) по нормам группы тестируемого "
                                     "(пол и возраст на дату тестирования), где такая группа есть."),
                      false});
    rep.add(Paragraph{
        QStringLiteral("В клетке — балл и уровень; «—» — нет балла. Среднее и стандартное отклонение — по "
                       "тестируемым, у которых критерий подсчитан; стандартное отклонение по выборке "
                       "до 30 человек; по одному значению не вычисляется."),
        true});
    return rep;
}

} // namespace reports
