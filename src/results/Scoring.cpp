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
// The stored answer to a question and its answer set, with the question's row current.
struct Answered {
    int64_t answer = 0;
    db::Variant set;
};
std::optional<Answered> answered(const RunTables& t, int question) {
    // Every miss is checked: the cursors would otherwise stand on some unrelated row.
    if (!t.rezult->locate(QStringLiteral("NOMVOPR"), {question})) return std::nullopt;
    const db::Variant a = t.rezultOTVET->value();
    if (a.isNull() || a.toInt() < 0) return std::nullopt;
    if (!t.vopros->locate(QStringLiteral("NVOPR"), {question})) return std::nullopt;
    return Answered{a.toInt(), t.voprosNOTV->value()};
}

// The points of each answer set's options in the order a filter on the set shows them, from one
// pass over the options of the sets the test's questions use (vopros holds them): a filter per
// question costs a server a round trip each.
using SetPoints = std::map<double, std::vector<int>>;
SetPoints answerSetPoints(const RunTables& t) {
    SetPoints sets;
    for (t.vopros->first(); !t.vopros->eof(); t.vopros->next())
        if (!t.voprosNOTV->value().isNull()) sets[t.voprosNOTV->value().toDouble()];
    if (sets.empty()) return sets;
    const db::Field* set = t.otvet->fieldByName(QStringLiteral("NOMOTV"));
    t.otvet->filterBy(QStringLiteral("NOMOTV>=%1 and NOMOTV<=%2")
                          .arg(sets.begin()->first, 0, 'f', 0)
                          .arg(sets.rbegin()->first, 0, 'f', 0));
    for (t.otvet->first(); !t.otvet->eof(); t.otvet->next()) {
        const auto it = sets.find(set->value().toDouble());
        if (it == sets.end()) continue;
        const db::Variant p = t.otvetBOTVET->value();
        it->second.push_back(p.isNull() ? 0 : int(p.toInt()));
    }
    return sets;
}

int pointsOf(const RunTables& t, const SetPoints& sets, int question) {
    const std::optional<Answered> a = answered(t, question);
    if (!a || a->set.isNull()) return 0;
    const auto it = sets.find(double(a->set.toInt()));
    if (it == sets.end()) return 0;
    const std::optional<size_t> place = optionPlace(a->answer, it->second.size());
    return place ? it->second[*place] : 0;
}
} // namespace

std::optional<Choice> chosenOption(const RunTables& t, int question) {
    const std::optional<Answered> answer = answered(t, question);
    if (!answer) return std::nullopt;
    const db::Variant a(answer->answer);
    if (!narrowToAnswerSet(t.otvet, answer->set)) return std::nullopt;
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
    // The key and the options read once each, not filtered again for every criterion and question.
    const SetPoints sets = answerSetPoints(t);
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
            sum += pointsOf(t, sets, question);
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
