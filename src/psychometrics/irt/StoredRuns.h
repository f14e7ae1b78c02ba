#pragma once
#include "psychometrics/irt/Calibration.h"

#include <QString>

// Calibration of one criterion of a test from the runs stored in a database (a folder or a
// server): the path morv-db irt and the windows share.
namespace psychometrics::irt {

struct CriterionCalibration {
    int test = 0, krit = 0;
    QString testName;
    std::vector<int> questions;                  // per column of the responses
    std::vector<std::vector<int>> pointsOfLevel; // per column: the points each score level stands for
    size_t runs = 0;                             // runs that answered any item of the criterion
    Calibration fit;
};

// An item's distinct points, in order, become its score levels 0..m: the models need
// consecutive whole scores from zero, whatever the points of the options are.
Responses responsesOf(const std::vector<int>& questions, const std::vector<int32_t>& points, size_t runs,
                      std::vector<std::vector<int>>* pointsOfLevel = nullptr);

CriterionCalibration calibrateStoredRuns(const QString& database, int test, int krit, Model model,
                                         const Options& options = {});

} // namespace psychometrics::irt
