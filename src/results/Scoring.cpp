#include "results/Scoring.h"

#include "dataset/Table.h"

#include <algorithm>

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
    for (int k = 1; k <= criteria; ++k) {
        int sum = 0;
        t.summa->filterBy(keyFilter(run.test, k));
        for (t.summa->first(); !t.summa->eof(); t.summa->next()) {
            if (onKeyRow) onKeyRow();
            sum += answerPoints(t, int(t.summaSUMVOPR->asInteger()));
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
