#include "results/Scoring.h"

#include "dataset/Table.h"

#include <algorithm>
#include <map>

namespace results {

namespace {
db::Field* field(db::Table* t, const char* name) {
    return t->fieldByName(QString::fromLatin1(name));
}
} // namespace

RunTables::RunTables(db::Table* vopros, db::Table* otvet, db::Table* rezult, db::Table* summa, db::Table* rez)
    : vopros(vopros), otvet(otvet), rezult(rezult), summa(summa), rez(rez),
      voprosNVOPR(field(vopros, "NVOPR")), voprosNOTV(field(vopros, "NOTV")),
      otvetOTVET(field(otvet, "OTVET")), otvetBOTVET(field(otvet, "BOTVET")),
      rezultNOMVOPR(field(rezult, "NOMVOPR")), rezultOTVET(field(rezult, "OTVET")),
      summaSUMVOPR(field(summa, "SUMVOPR")), rezKRIT(field(rez, "KRIT")), rezBALL(field(rez, "BALL")) {}

namespace {
// What scoring a run reads, from one pass over each table: a locate or a filter per question
// costs a server a round trip each. The first answer row of a question counts, as a locate
// finds it.
struct RunAnswers {
    std::map<int, db::Variant> chosen;         // question -> OTVET
    std::map<int, db::Variant> setOf;          // question -> its answer set
    std::map<double, std::vector<int>> points; // answer set -> its options' points, in order
};

RunAnswers readRun(const RunTables& t) {
    RunAnswers r;
    for (t.rezult->first(); !t.rezult->eof(); t.rezult->next())
        if (!t.rezultNOMVOPR->value().isNull())
            r.chosen.emplace(int(t.rezultNOMVOPR->value().toInt()), t.rezultOTVET->value());
    for (t.vopros->first(); !t.vopros->eof(); t.vopros->next()) {
        if (t.voprosNVOPR->value().isNull()) continue;
        const db::Variant set = t.voprosNOTV->value();
        r.setOf.emplace(int(t.voprosNVOPR->value().toInt()), set);
        if (!set.isNull()) r.points[double(set.toInt())];
    }
    if (r.points.empty()) return r;
    // The options of those sets in the order a filter on one set shows them.
    const db::Field* set = t.otvet->fieldByName(QStringLiteral("NOMOTV"));
    t.otvet->filterBy(QStringLiteral("NOMOTV>=%1 and NOMOTV<=%2")
                          .arg(r.points.begin()->first, 0, 'f', 0)
                          .arg(r.points.rbegin()->first, 0, 'f', 0));
    for (t.otvet->first(); !t.otvet->eof(); t.otvet->next()) {
        const auto it = r.points.find(set->value().toDouble());
        if (it == r.points.end()) continue;
        const db::Variant p = t.otvetBOTVET->value();
        it->second.push_back(p.isNull() ? 0 : int(p.toInt()));
    }
    return r;
}

int pointsOf(const RunAnswers& r, int question) {
    const auto a = r.chosen.find(question);
    if (a == r.chosen.end() || a->second.isNull() || a->second.toInt() < 0) return 0;
    const auto s = r.setOf.find(question);
    if (s == r.setOf.end() || s->second.isNull()) return 0;
    const auto p = r.points.find(double(s->second.toInt()));
    if (p == r.points.end()) return 0;
    const std::optional<size_t> place = optionPlace(a->second.toInt(), p->second.size());
    return place ? p->second[*place] : 0;
}
} // namespace

std::optional<Choice> chosenOption(const RunTables& t, int question) {
    // Every miss is checked: the cursors would otherwise stand on some unrelated row.
    if (!t.rezult->locate(QStringLiteral("NOMVOPR"), {question})) return std::nullopt;
    const db::Variant a = t.rezultOTVET->value();
    if (a.isNull() || a.toInt() < 0) return std::nullopt;
    if (!t.vopros->locate(QStringLiteral("NVOPR"), {question})) return std::nullopt;
    if (!narrowToAnswerSet(t.otvet, t.voprosNOTV->value())) return std::nullopt;
    const std::optional<size_t> place = optionPlace(a.toInt(), size_t(t.otvet->recordCount()));
    if (!place) return std::nullopt;
    Choice c;
    c.index = int(*place);
    t.otvet->moveBy(c.index);
    const db::Variant points = t.otvetBOTVET->value();
    c.points = points.isNull() ? 0 : int(points.toInt());
    c.text = t.otvetOTVET->value().toString();
    return c;
}

std::optional<size_t> optionPlace(std::optional<int64_t> stored, size_t options) {
    if (!stored || *stored < 0 || options == 0) return std::nullopt;
    return size_t(std::min<int64_t>(*stored, int64_t(options) - 1));
}

int answerPoints(const RunTables& t, int question) {
    const std::optional<Choice> c = chosenOption(t, question);
    return c ? c->points : 0;
}

void scoreRun(const RunTables& t, const RunKey& run, int criteria, const QDate& today,
              const std::function<void()>& onKeyRow) {
    t.vopros->filterBy(questionsFilter(run.test));
    const QString restriction = runFilter(run);
    t.rezult->filterBy(restriction);
    t.rez->filterBy(restriction);
    // The answers, the key and the options read once each, not again for every criterion and question.
    const RunAnswers answers = readRun(t);
    std::map<double, std::vector<int>> keys;
    t.summa->filterBy(testKeyFilter(run.test));
    const db::Field* krit = t.summa->fieldByName(QStringLiteral("KRIT"));
    for (t.summa->first(); !t.summa->eof(); t.summa->next())
        if (!krit->value().isNull())
            keys[krit->value().toDouble()].push_back(int(t.summaSUMVOPR->asInteger()));
    for (int k = 1; k <= criteria; ++k) {
        int sum = 0;
        for (int question : keys[double(k)]) {
            if (onKeyRow) onKeyRow();
            sum += pointsOf(answers, question);
        }
        if (t.rez->locate(QStringLiteral("KRIT"), {k})) {
            t.rez->edit();
            t.rezBALL->setValue(double(sum));
        } else {
            t.rez->append();
            t.rez->setFields({double(run.org), double(run.testee), today, run.test, k, double(sum)});
        }
        try {
            t.rez->post();
        } catch (...) {
            // Nobody can correct a score by hand; a pending row would fail again at every later
            // move of the table.
            t.rez->cancel();
            throw;
        }
    }
}

std::optional<double> scoreOf(const RunTables& t, int krit) {
    if (!t.rez->locate(QStringLiteral("KRIT"), {krit})) return std::nullopt;
    // As stored: a score written by another program or edited in the tables may hold a fraction.
    return t.rezBALL->asFloat();
}

} // namespace results
