#include "psychometrics/irt/StoredRuns.h"

#include "psychometrics/Columns.h"
#include "psychometrics/ItemAnalysis.h"
#include "psychometrics/irt/Internal.h"

#include <algorithm>
#include <set>

namespace psychometrics::irt {

Responses responsesOf(const std::vector<int>& questions, const std::vector<int32_t>& points, size_t runs,
                      std::vector<std::vector<int>>* pointsOfLevel) {
    Responses r;
    r.persons = runs;
    r.items = questions.size();
    r.labels = questions;
    r.scores.assign(runs * r.items, int8_t(kMissing));
    std::vector<std::vector<int>> levels(r.items);
    std::vector<size_t> tooMany;
    for (size_t i = 0; i < r.items; ++i) {
        std::set<int32_t> seen;
        for (size_t p = 0; p < runs; ++p)
            if (points[p * r.items + i] != kUnanswered) seen.insert(points[p * r.items + i]);
        levels[i].assign(seen.begin(), seen.end());
        if (levels[i].size() > 100) tooMany.push_back(i);
    }
    if (!tooMany.empty())
        throw AnalysisError(
            QStringLiteral("Слишком много разных значений баллов: %1.").arg(detail::itemNames(r, tooMany)));
    for (size_t p = 0; p < runs; ++p)
        for (size_t i = 0; i < r.items; ++i) {
            const int32_t v = points[p * r.items + i];
            if (v == kUnanswered) continue;
            const auto at = std::lower_bound(levels[i].begin(), levels[i].end(), v);
            r.scores[p * r.items + i] = int8_t(at - levels[i].begin());
        }
    if (pointsOfLevel) *pointsOfLevel = std::move(levels);
    return r;
}

CriterionCalibration calibrateStoredRuns(const QString& database, int test, int krit, Model model,
                                         const Options& options) {
    const CriterionScores s = criterionScores(database, test, krit);
    CriterionCalibration c;
    c.test = test;
    c.krit = krit;
    c.testName = s.testName;
    c.runs = s.runs;
    for (const Item& i : s.items)
        c.questions.push_back(i.question);
    if (c.questions.size() < 2)
        throw AnalysisError(
            QStringLiteral("В ключе критерия № %1 теста № %2 меньше двух вопросов: калибровать нечего.")
                .arg(krit)
                .arg(test));
    const Responses r = responsesOf(c.questions, s.scores, s.runs, &c.pointsOfLevel);
    c.fit = calibrate(r, model, options);
    return c;
}

} // namespace psychometrics::irt
