#pragma once
#include <optional>
#include <vector>

// Item response models on one footing: an item scored 0..m answers category h with probability
// proportional to exp(Σ_{l≤h} a·(θ − δ_l)). One threshold is the Rasch model (a = 1) or the
// two-parameter logistic model; several are the partial credit model.
namespace psychometrics::irt {

struct ItemParameters {
    double a = 1;                   // discrimination
    std::vector<double> thresholds; // δ_1..δ_m, logits
    int maxScore() const { return int(thresholds.size()); }
};

// P(X = 0..m | θ) into p (resized).
void categoryProbabilities(const ItemParameters& item, double theta, std::vector<double>& p);
// Expected score and its variance at θ.
struct Moments {
    double mean = 0, variance = 0;
};
Moments itemMoments(const ItemParameters& item, double theta);
// Fisher information of the item at θ: a²·Var(X | θ).
double itemInformation(const ItemParameters& item, double theta);
double testInformation(const std::vector<ItemParameters>& items, double theta);

// A person's answers: scores[i] is item i's score, or kMissing for an item not answered.
inline constexpr int kMissing = -1;

struct PersonEstimate {
    double eap = 0, eapSe = 0;      // posterior mean and SD under a standard normal prior
    std::optional<double> ml, mlSe; // maximum likelihood; none for a zero or full score
};
PersonEstimate estimatePerson(const std::vector<ItemParameters>& items, const std::vector<int>& scores);
// Maximum likelihood θ by Newton's method with step halving; none where it is infinite.
std::optional<double> mlTheta(const std::vector<ItemParameters>& items, const std::vector<int>& scores);

struct CurvePoint {
    double theta = 0, information = 0, se = 0;
};
// Test information and the standard error 1/√I on an even grid from..to.
std::vector<CurvePoint> informationCurve(const std::vector<ItemParameters>& items, double from = -4,
                                         double to = 4, int points = 33);

// Gauss–Hermite nodes and weights for a standard normal density (weights add up to 1).
struct Quadrature {
    std::vector<double> nodes, weights;
};
Quadrature normalQuadrature(int points);

} // namespace psychometrics::irt
