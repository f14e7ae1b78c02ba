#include "services/Answers.h"

#include "dataset/Table.h"

namespace services {

const char* const kAnswerKey = "NOMU;NOMTESTIR;NOMTESTA;NOMVOPR";

uint32_t answerRow(db::Table* rezult, const results::RunKey& run, int question, int answer,
                   const QDate& today, bool* made) {
    std::vector<bool> appended;
    const uint32_t rec = answerRows(rezult, {{run, question}}, {answer}, today, &appended).front();
    if (made) *made = appended.front();
    return rec;
}

std::vector<uint32_t> answerRows(db::Table* rezult, const std::vector<std::pair<results::RunKey, int>>& shown,
                                 const std::vector<int>& answers, const QDate& today,
                                 std::vector<bool>* made) {
    std::vector<std::vector<db::Variant>> keys, values;
    for (size_t i = 0; i < shown.size(); ++i) {
        const auto& [run, question] = shown[i];
        keys.push_back({run.org, run.testee, run.test, question});
        values.push_back({double(run.org), double(run.testee), today, run.test, question, answers[i]});
    }
    const std::vector<db::RowId> recs =
        rezult->findOrAppendStoredMany(QLatin1String(kAnswerKey), keys, values, made);
    return {recs.begin(), recs.end()};
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
