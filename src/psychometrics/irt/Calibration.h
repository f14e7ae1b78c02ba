#pragma once
#include "psychometrics/irt/Model.h"

#include <QString>
#include <cstdint>
#include <vector>

// Calibration of items from a persons × items table of scores: the Rasch and the partial credit
// model by conditional maximum likelihood, the two-parameter logistic model by marginal maximum
// likelihood (Bock–Aitkin EM over Gauss–Hermite quadrature, Newton steps per item in the M-step).
namespace psychometrics::irt {

enum class Model { Rasch, PartialCredit, TwoPl };

struct Responses {
    size_t persons = 0, items = 0;
    std::vector<int8_t> scores;  // persons × items: 0..m, or kMissing
    std::vector<double> weights; // how many persons answered so (empty: one each)
    std::vector<int> labels;     // the items' question numbers, for messages
    int at(size_t p, size_t i) const { return scores[p * items + i]; }
    double weight(size_t p) const { return weights.empty() ? 1.0 : weights[p]; }
};

struct ItemFit {
    size_t column = 0; // the item's column in Responses
    ItemParameters parameters;
    std::vector<double> thresholdSe;
    double aSe = 0; // 2PL only
    double infit = 0, outfit = 0;
};

struct Calibration {
    Model model = Model::Rasch;
    std::vector<ItemFit> items;        // the items estimated
    std::vector<size_t> constantItems; // columns all persons scored the same: left out
    double personsUsed = 0;            // weighted count of persons in the likelihood
    double personsExtreme = 0;         // zero or full score: left out of CML
    double personsWithMissing = 0;     // used, with some item not answered
    double logLikelihood = 0;          // conditional for CML, marginal for MML
    int iterations = 0;
    double largestGradient = 0;
    std::vector<ItemParameters> parameters() const;
};

struct Options {
    int maxIterations = 0; // 0: the method's own default
    double tolerance = 0;  // 0: the method's own default
    int quadraturePoints = 21;
};

// Throws AnalysisError (in the user's words, naming the items) for data that cannot be
// calibrated: too few items or persons left, an item scored otherwise than its model allows,
// or estimates that do not settle (a category no one reached among the runs used ends so).
Calibration calibrate(const Responses& data, Model model, const Options& options = {});

} // namespace psychometrics::irt
