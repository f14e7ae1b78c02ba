#include "stats/Descriptive.h"

#include <cmath>

namespace stats {

Real addAbsDeviation(Real total, Real v, Real mean) {
    return store(total + std::fabs(v - mean));
}

Real addSquaredDeviation(Real total, Real v, Real mean) {
    const Real d = v - mean;
    return store(total + d * d);
}

Real mean(Real sum, int n) {
    return store(sum / n);
}

Real meanDeviation(Real absTotal, int n) {
    return store(absTotal / n);
}

Real variance(Real squaredTotal, int n) {
    return store(n < 30 ? squaredTotal / (n - 1) : squaredTotal / n);
}

Real standardDeviation(Real variance) {
    return store(std::sqrt(variance));
}

std::optional<Real> correlation(Real sumOfProducts, Real meanX, Real meanY, Real sdX, Real sdY, int n) {
    const Real divisor = sdX * sdY * (n - 1);
    if (divisor == 0) return std::nullopt;
    return store((sumOfProducts - meanY * (meanX * n)) / divisor);
}

Real expectedFrequency(Real columnTotal, Real rowTotal, Real grandTotal) {
    return store(columnTotal * rowTotal / grandTotal);
}

Real addChiSquareTerm(Real chi, Real observed, Real expected) {
    const Real d = observed - expected;
    return store(chi + d * d / expected);
}

Real degreesOfFreedom(Real categories1, Real categories2) {
    return store((categories1 - 1) * (categories2 - 1));
}

Summary summarize(const std::vector<Real>& values) {
    Summary s;
    s.count = int(values.size());
    if (s.count == 0) return s;
    // Read back as shown, as the window's next button reads its edit.
    auto shown = [](Real v) { return store(*readDecimal(fixed4(v))); };
    Real sum = 0;
    for (Real v : values)
        sum = addValue(sum, v);
    s.mean = mean(sum, s.count);
    const Real m = shown(*s.mean);
    Real absTotal = 0, squares = 0;
    for (Real v : values) {
        absTotal = addAbsDeviation(absTotal, v, m);
        squares = addSquaredDeviation(squares, v, m);
    }
    s.meanDeviation = meanDeviation(absTotal, s.count);
    if (s.count == 1) return s; // no variance of one value
    s.variance = variance(squares, s.count);
    s.standardDeviation = standardDeviation(shown(*s.variance));
    return s;
}

} // namespace stats
