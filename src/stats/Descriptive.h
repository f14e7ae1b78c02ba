#pragma once
#include "stats/Numbers.h"

#include <vector>

// The formulas of the statistics windows, shared with the reports. Every running total is kept
// as a 6-byte real after each addition, as the windows keep it.
namespace stats {

inline Real addValue(Real sum, Real v) {
    return store(sum + v);
}
Real addAbsDeviation(Real total, Real v, Real mean);
Real addSquaredDeviation(Real total, Real v, Real mean);

// n > 0.
Real mean(Real sum, int n);
Real meanDeviation(Real absTotal, int n);
// Below 30 values the sample estimate (n - 1), else the population one; n != 1.
Real variance(Real squaredTotal, int n);
// variance >= 0.
Real standardDeviation(Real variance);
// Bravais-Pearson from the sum of products and the shown means and deviations; nothing when a
// deviation is 0.
std::optional<Real> correlation(Real sumOfProducts, Real meanX, Real meanY, Real sdX, Real sdY, int n);

// Chi-square: the expected frequency of a cell from its column and row totals and the grand
// total (not 0), one cell's term added to the running sum, and the degrees of freedom.
Real expectedFrequency(Real columnTotal, Real rowTotal, Real grandTotal);
Real addChiSquareTerm(Real chi, Real observed, Real expected);
Real degreesOfFreedom(Real categories1, Real categories2);

// The four figures of one sample as the statistics window arrives at them: each step reads the
// figure before it as shown, with four decimals.
struct Summary {
    int count = 0;
    std::optional<Real> mean, meanDeviation, variance, standardDeviation;
};
Summary summarize(const std::vector<Real>& values);

} // namespace stats
