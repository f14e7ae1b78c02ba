#pragma once
// Shared by the estimators; not part of the calibration's interface.
#include "psychometrics/Columns.h"
#include "psychometrics/irt/Calibration.h"

#include <vector>

namespace psychometrics::irt::detail {

// The items and persons the likelihood uses, after leaving out items everybody scored the same
// and (for CML) persons with a zero or full score, until neither changes.
struct Prepared {
    std::vector<size_t> columns; // kept items
    std::vector<int> maxScore;   // per kept item
    std::vector<int8_t> used;    // per person: in the likelihood
    Calibration result;          // counts and left-out items filled in
};
Prepared prepare(const Responses& data, Model model);

// "вопросы 3, 7" for columns of the data.
QString itemNames(const Responses& data, const std::vector<size_t>& columns);

// Estimates that did not settle, naming the items that ran off (wild) if any.
AnalysisError notConverged(const Responses& data, int iterations, const std::vector<size_t>& wild);

// Inverts a symmetric positive definite n×n matrix in place; false if it is not.
bool invertSpd(std::vector<double>& a, size_t n);

Calibration fitCml(const Responses& data, Prepared prepared, const Options& options);
Calibration fitMml(const Responses& data, Prepared prepared, const Options& options);

} // namespace psychometrics::irt::detail
