#include "services/Answers.h"

#include "dataset/Table.h"

namespace services {

const char* const kAnswerKey = "NOMU;NOMTESTIR;NOMTESTA;NOMVOPR";

uint32_t answerRow(db::Table* rezult, const results::RunKey& run, int question, int answer,
                   const QDate& today, bool* made) {
    const std::vector<db::Variant> key = {run.org, run.testee, run.test, question};
    return rezult->findOrAppendStored(
        QLatin1String(kAnswerKey), key,
        {double(run.org), double(run.testee), today, run.test, question, answer}, made);
}

int storedChoice(const db::Table* rezult, uint32_t rec) {
    const db::Variant stored = rezult->storedValue(rec, rezult->fieldByName(QStringLiteral("OTVET")));
    return stored.isNull() ? -1 : int(stored.toInt());
}

void recordChoice(db::Table* rezult, uint32_t rec, int chosen) {
    rezult->writeStored(rec, rezult->fieldByName(QStringLiteral("OTVET")), chosen);
}

std::vector<int> unanswered(db::Table* rezult, int first, int last) {
    std::vector<int> missing;
    const db::Field* otvet = rezult->fieldByName(QStringLiteral("OTVET"));
    for (int q = first; q <= last; ++q)
        if (!rezult->locate(QStringLiteral("NOMVOPR"), {q}) || !results::isAnswer(otvet->value()))
            missing.push_back(q);
    return missing;
}

} // namespace services
