#pragma once
#include "psychometrics/Reliability.h"

#include <QString>
#include <functional>
#include <limits>
#include <vector>

// Item analysis of a test from its stored runs: for each criterion, the questions its scoring
// key counts are the items, and an item's score is the points of the chosen option (times the
// number of the criterion's key rows that name the question, so that the items add up to the
// criterion's score).
namespace psychometrics {

struct Item {
    int question = 0;
    int weight = 1; // key rows of the criterion naming the question
    ItemFigures figures;
};

struct CriterionAnalysis {
    int krit = 0;
    std::vector<Item> items; // in question number order
    size_t complete = 0;     // runs with every item answered: the runs analysed
    size_t leftOut = 0;      // runs with an item missing
    int strayKeyRows = 0;    // key rows naming no question of the test: they add nothing
    ScaleFigures scale;
    // An item that lowers the scale: its correlation with the rest is negative, or alpha rises
    // without it.
    bool flagged(size_t item) const;
};

struct TestAnalysis {
    int test = 0;
    QString name;
    size_t runs = 0; // runs with any answer row of the test
    std::vector<CriterionAnalysis> criteria;
};

// Reads test's questions, options, key and answer rows from the database (a folder or a server) and
// analyses each criterion 1..KOLKRIT. A run is one testee's answer rows of the test; of several
// rows of one question the first in stored order counts, as the scoring finds it.
// progress(done, total) runs now and then while the answer rows are read; returning false stops
// with AnalysisError. Throws AnalysisError for a test that is not there or has no criteria.
TestAnalysis analyseTest(const QString& database, int test,
                         const std::function<bool(qint64, qint64)>& progress = {});

// One criterion's item scores per run, items left unanswered kept as such: what item response
// models are fitted to. A run is counted when it answered any item of the criterion.
struct CriterionScores {
    QString testName;
    std::vector<Item> items; // in question number order; figures left empty
    size_t runs = 0;
    std::vector<int32_t> scores; // runs × items: points times weight, or kUnanswered
};
inline constexpr int32_t kUnanswered = std::numeric_limits<int32_t>::min();

// Throws AnalysisError for a test that is not there or a criterion outside 1..KOLKRIT.
CriterionScores criterionScores(const QString& database, int test, int krit);

} // namespace psychometrics
