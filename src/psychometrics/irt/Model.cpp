#include "psychometrics/irt/Model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace psychometrics::irt {

void categoryProbabilities(const ItemParameters& item, double theta, std::vector<double>& p) {
    const size_t m = item.thresholds.size();
    p.resize(m + 1);
    // Cumulative logits, shifted by their largest so that exp never overflows.
    double z = 0, top = 0;
    p[0] = 0;
    for (size_t h = 1; h <= m; ++h) {
        z += item.a * (theta - item.thresholds[h - 1]);
        p[h] = z;
        top = std::max(top, z);
    }
    double sum = 0;
    for (double& v : p) {
        v = std::exp(v - top);
        sum += v;
    }
    for (double& v : p)
        v /= sum;
}

Moments itemMoments(const ItemParameters& item, double theta) {
    thread_local std::vector<double> p;
    categoryProbabilities(item, theta, p);
    Moments m;
    for (size_t h = 1; h < p.size(); ++h)
        m.mean += double(h) * p[h];
    for (size_t h = 0; h < p.size(); ++h)
        m.variance += (double(h) - m.mean) * (double(h) - m.mean) * p[h];
    return m;
}

double itemInformation(const ItemParameters& item, double theta) {
    return item.a * item.a * itemMoments(item, theta).variance;
}

double testInformation(const std::vector<ItemParameters>& items, double theta) {
    double sum = 0;
    for (const ItemParameters& i : items)
        sum += itemInformation(i, theta);
    return sum;
}

std::optional<double> mlTheta(const std::vector<ItemParameters>& items, const std::vector<int>& scores) {
    int got = 0, most = 0;
    for (size_t i = 0; i < items.size(); ++i)
        if (scores[i] != kMissing) {
            got += scores[i];
            most += items[i].maxScore();
        }
    if (most == 0 || got == 0 || got == most) return std::nullopt;
    // The score equation Σ a_i(x_i − E_i) = 0 is monotone in θ: Newton with bisection bounds.
    double theta = 0, lo = -30, hi = 30;
    for (int it = 0; it < 200; ++it) {
        double g = 0, info = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (scores[i] == kMissing) continue;
            const Moments m = itemMoments(items[i], theta);
            g += items[i].a * (scores[i] - m.mean);
            info += items[i].a * items[i].a * m.variance;
        }
        (g > 0 ? lo : hi) = theta;
        double next = info > 0 ? theta + g / info : (lo + hi) / 2;
        if (!(next > lo && next < hi)) next = (lo + hi) / 2;
        if (std::abs(next - theta) < 1e-10) return next;
        theta = next;
    }
    return theta;
}

PersonEstimate estimatePerson(const std::vector<ItemParameters>& items, const std::vector<int>& scores) {
    // A fine even grid: the posterior of a long test is too narrow for a few Gauss–Hermite nodes.
    constexpr int kPoints = 161;
    constexpr double kFrom = -8, kStep = 0.1;
    std::vector<double> logPost(kPoints);
    std::vector<double> p;
    for (int q = 0; q < kPoints; ++q) {
        const double t = kFrom + kStep * q;
        double lp = -t * t / 2;
        for (size_t i = 0; i < items.size(); ++i) {
            if (scores[i] == kMissing) continue;
            categoryProbabilities(items[i], t, p);
            lp += std::log(std::max(p[size_t(scores[i])], 1e-300));
        }
        logPost[size_t(q)] = lp;
    }
    const double top = *std::max_element(logPost.begin(), logPost.end());
    double w = 0, m1 = 0, m2 = 0;
    for (int q = 0; q < kPoints; ++q) {
        const double t = kFrom + kStep * q, v = std::exp(logPost[size_t(q)] - top);
        w += v;
        m1 += v * t;
        m2 += v * t * t;
    }
    PersonEstimate e;
    e.eap = m1 / w;
    e.eapSe = std::sqrt(std::max(0.0, m2 / w - e.eap * e.eap));
    e.ml = mlTheta(items, scores);
    if (e.ml) {
        double info = 0;
        for (size_t i = 0; i < items.size(); ++i)
            if (scores[i] != kMissing) info += itemInformation(items[i], *e.ml);
        if (info > 0) e.mlSe = 1 / std::sqrt(info);
    }
    return e;
}

std::vector<CurvePoint> informationCurve(const std::vector<ItemParameters>& items, double from, double to,
                                         int points) {
    std::vector<CurvePoint> curve;
    for (int k = 0; k < points; ++k) {
        const double t = points > 1 ? from + (to - from) * k / (points - 1) : from;
        const double info = testInformation(items, t);
        curve.push_back({t, info, info > 0 ? 1 / std::sqrt(info) : INFINITY});
    }
    return curve;
}

Quadrature normalQuadrature(int n) {
    // Roots of the Hermite polynomial H_n by Newton's method from the usual starting guesses,
    // then rescaled from the weight exp(−x²) to the standard normal density.
    Quadrature q;
    q.nodes.assign(size_t(n), 0);
    q.weights.assign(size_t(n), 0);
    const double pim4 = std::pow(std::numbers::pi, -0.25);
    double z = 0;
    for (int i = 0; i < (n + 1) / 2; ++i) {
        if (i == 0)
            z = std::sqrt(2.0 * n + 1) - 1.85575 * std::pow(2.0 * n + 1, -1.0 / 6);
        else if (i == 1)
            z -= 1.14 * std::pow(double(n), 0.426) / z;
        else if (i == 2)
            z = 1.86 * z - 0.86 * q.nodes[0];
        else if (i == 3)
            z = 1.91 * z - 0.91 * q.nodes[1];
        else
            z = 2.0 * z - q.nodes[size_t(i - 2)];
        double pp = 0;
        for (int it = 0; it < 100; ++it) {
            // Orthonormal Hermite recurrence.
            double p1 = pim4, p2 = 0;
            for (int j = 1; j <= n; ++j) {
                const double p3 = p2;
                p2 = p1;
                p1 = z * std::sqrt(2.0 / j) * p2 - std::sqrt(double(j - 1) / j) * p3;
            }
            pp = std::sqrt(2.0 * n) * p2;
            const double z1 = z;
            z = z1 - p1 / pp;
            if (std::abs(z - z1) <= 1e-14) break;
        }
        q.nodes[size_t(i)] = z;
        q.nodes[size_t(n - 1 - i)] = -z;
        q.weights[size_t(i)] = q.weights[size_t(n - 1 - i)] = 2.0 / (pp * pp);
    }
    for (size_t i = 0; i < size_t(n); ++i) {
        q.nodes[i] *= std::numbers::sqrt2;
        q.weights[i] /= std::sqrt(std::numbers::pi);
    }
    std::reverse(q.nodes.begin(), q.nodes.end());
    std::reverse(q.weights.begin(), q.weights.end());
    return q;
}

} // namespace psychometrics::irt
