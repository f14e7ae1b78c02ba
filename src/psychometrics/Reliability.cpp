#include "psychometrics/Reliability.h"

#include <cmath>

namespace psychometrics {

namespace {

// Alpha of k items from the sum of their variances and the variance of their total.
std::optional<double> alphaOf(size_t k, double itemVariances, double totalVariance) {
    if (k < 2 || !(totalVariance > 0)) return std::nullopt;
    return double(k) / double(k - 1) * (1.0 - itemVariances / totalVariance);
}

} // namespace

ScaleFigures analyseScale(const std::vector<double>& scores, size_t k) {
    ScaleFigures f;
    f.items.resize(k);
    const size_t n = k ? scores.size() / k : 0;
    f.runs = n;
    if (n == 0) return f;

    std::vector<double> mean(k, 0.0);
    double totalMean = 0;
    bool dichotomous = true;
    for (size_t r = 0; r < n; ++r) {
        const double* x = &scores[r * k];
        for (size_t i = 0; i < k; ++i) {
            mean[i] += x[i];
            dichotomous = dichotomous && (x[i] == 0 || x[i] == 1);
        }
    }
    for (size_t i = 0; i < k; ++i) {
        mean[i] /= double(n);
        totalMean += mean[i];
    }
    f.totalMean = totalMean;
    f.dichotomous = dichotomous;

    // Deviations from the means, so that large scores lose no precision.
    std::vector<double> ss(k, 0.0), cross(k, 0.0);
    double totalSs = 0;
    for (size_t r = 0; r < n; ++r) {
        const double* x = &scores[r * k];
        double d = 0;
        for (size_t i = 0; i < k; ++i)
            d += x[i] - mean[i];
        for (size_t i = 0; i < k; ++i) {
            const double di = x[i] - mean[i];
            ss[i] += di * di;
            cross[i] += di * d;
        }
        totalSs += d * d;
    }
    if (n < 2) {
        for (size_t i = 0; i < k; ++i)
            f.items[i].mean = mean[i];
        return f;
    }
    const double df = double(n - 1);
    const double totalVar = totalSs / df;
    f.totalSd = std::sqrt(totalVar);
    double sumVar = 0;
    bool allVary = true;
    std::vector<double> sd(k);
    for (size_t i = 0; i < k; ++i) {
        sumVar += ss[i] / df;
        sd[i] = std::sqrt(ss[i] / df);
        allVary = allVary && sd[i] > 0;
    }
    f.alpha = alphaOf(k, sumVar, totalVar);

    for (size_t i = 0; i < k; ++i) {
        ItemFigures& it = f.items[i];
        const double var = ss[i] / df, covTotal = cross[i] / df;
        it.mean = mean[i];
        it.sd = sd[i];
        // The rest score is the total without the item.
        const double restVar = totalVar - 2 * covTotal + var;
        if (var > 0 && restVar > 0) it.itemRest = (covTotal - var) / std::sqrt(var * restVar);
        if (k >= 3) it.alphaIfDropped = alphaOf(k - 1, sumVar - var, restVar);
    }

    if (allVary && k >= 2) {
        // The sum of all entries of the correlation matrix is the variance of Σ x_i/s_i.
        double zSs = 0;
        for (size_t r = 0; r < n; ++r) {
            const double* x = &scores[r * k];
            double u = 0;
            for (size_t i = 0; i < k; ++i)
                u += (x[i] - mean[i]) / sd[i];
            zSs += u * u;
        }
        const double kk = double(k);
        const double meanR = (zSs / df - kk) / (kk * (kk - 1));
        const double denom = 1 + (kk - 1) * meanR;
        if (denom != 0) f.standardizedAlpha = kk * meanR / denom;
    }
    return f;
}

} // namespace psychometrics
