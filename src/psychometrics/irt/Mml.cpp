// Marginal maximum likelihood for the two-parameter logistic model (Bock and Aitkin's EM):
// abilities integrated out over a standard normal by Gauss–Hermite quadrature; the E-step gives
// each node's expected persons and right answers per item, the M-step fits each item to them
// by Newton's method. Identical answer patterns are counted once with their number of persons.
#include "psychometrics/Columns.h"
#include "psychometrics/irt/Internal.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>

namespace psychometrics::irt::detail {

namespace {

struct Patterns {
    size_t k = 0;
    std::vector<int8_t> x; // patterns × k
    std::vector<double> count;
};

Patterns compress(const Responses& data, const Prepared& p) {
    Patterns out;
    out.k = p.columns.size();
    std::unordered_map<std::string, size_t> seen;
    std::string key(out.k, '\0');
    for (size_t r = 0; r < data.persons; ++r) {
        if (!p.used[r]) continue;
        for (size_t i = 0; i < out.k; ++i)
            key[i] = char(data.at(r, p.columns[i]));
        auto [it, fresh] = seen.try_emplace(key, out.count.size());
        if (fresh) {
            out.x.insert(out.x.end(), key.begin(), key.end());
            out.count.push_back(0);
        }
        out.count[it->second] += data.weight(r);
    }
    return out;
}

double logistic(double z) {
    return 1 / (1 + std::exp(-z));
}

class Mml {
public:
    Mml(Patterns pt, int points) : pt_(std::move(pt)), quad_(normalQuadrature(points)) {
        q_ = quad_.nodes.size();
        a_.assign(pt_.k, 1);
        b_.assign(pt_.k, 0);
        for (size_t i = 0; i < pt_.k; ++i) {
            double right = 0, all = 0;
            for (size_t s = 0; s < pt_.count.size(); ++s) {
                const int x = pt_.x[s * pt_.k + i];
                if (x == kMissing) continue;
                all += pt_.count[s];
                right += x * pt_.count[s];
            }
            const double pv = (right + 0.5) / (all + 1);
            b_[i] = -std::log(pv / (1 - pv));
        }
    }

    // Expected counts at the current parameters; returns the marginal log-likelihood.
    double expect() {
        const size_t k = pt_.k;
        // log L(θ) = Σ log(1 − P) over the items answered + Σ (log P − log(1 − P)) over those
        // right: only the right answers and the missing ones cost a pass over the nodes.
        std::vector<double> lq(k * q_), diff(k * q_), base(q_, 0);
        for (size_t i = 0; i < k; ++i)
            for (size_t q = 0; q < q_; ++q) {
                const double z = a_[i] * (quad_.nodes[q] - b_[i]);
                // log P and log(1 − P) without losing either tail.
                lq[i * q_ + q] = -std::log1p(std::exp(z));
                diff[i * q_ + q] = -std::log1p(std::exp(-z)) - lq[i * q_ + q];
                base[q] += lq[i * q_ + q];
            }
        std::vector<double> total(q_, 0), missing(k * q_, 0);
        r_.assign(k * q_, 0);
        std::vector<double> logL(q_), w(q_);
        double ll = 0;
        for (size_t s = 0; s < pt_.count.size(); ++s) {
            const int8_t* x = &pt_.x[s * k];
            logL = base;
            for (size_t i = 0; i < k; ++i) {
                if (x[i] == 0) continue;
                const double* l = x[i] == kMissing ? &lq[i * q_] : &diff[i * q_];
                const double sign = x[i] == kMissing ? -1 : 1;
                for (size_t q = 0; q < q_; ++q)
                    logL[q] += sign * l[q];
            }
            const double top = *std::max_element(logL.begin(), logL.end());
            double sum = 0;
            for (size_t q = 0; q < q_; ++q)
                sum += w[q] = quad_.weights[q] * std::exp(logL[q] - top);
            ll += pt_.count[s] * (top + std::log(sum));
            const double f = pt_.count[s] / sum;
            for (size_t q = 0; q < q_; ++q)
                total[q] += w[q] *= f;
            for (size_t i = 0; i < k; ++i) {
                if (x[i] == 0) continue;
                double* to = x[i] == kMissing ? &missing[i * q_] : &r_[i * q_];
                for (size_t q = 0; q < q_; ++q)
                    to[q] += w[q];
            }
        }
        n_.resize(k * q_);
        for (size_t i = 0; i < k; ++i)
            for (size_t q = 0; q < q_; ++q)
                n_[i * q_ + q] = total[q] - missing[i * q_ + q];
        return ll;
    }

    std::vector<double> parameters() const {
        std::vector<double> v(a_);
        v.insert(v.end(), b_.begin(), b_.end());
        return v;
    }
    void setParameters(const std::vector<double>& v) {
        std::copy(v.begin(), v.begin() + long(pt_.k), a_.begin());
        std::copy(v.begin() + long(pt_.k), v.end(), b_.begin());
    }

    // Each item's parameters fitted to the expected counts; returns the largest change.
    double maximise() {
        double change = 0;
        for (size_t i = 0; i < pt_.k; ++i) {
            double a = a_[i], c = -a_[i] * b_[i];
            for (int it = 0; it < 10; ++it) {
                double ga = 0, gc = 0, haa = 0, hac = 0, hcc = 0;
                for (size_t q = 0; q < q_; ++q) {
                    const double t = quad_.nodes[q], n = n_[i * q_ + q], pr = logistic(a * t + c);
                    const double e = r_[i * q_ + q] - n * pr, v = n * pr * (1 - pr);
                    ga += e * t;
                    gc += e;
                    haa += v * t * t;
                    hac += v * t;
                    hcc += v;
                }
                const double det = haa * hcc - hac * hac;
                if (!(det > 0)) break;
                double da = (hcc * ga - hac * gc) / det, dc = (haa * gc - hac * ga) / det;
                const double len = std::max(std::abs(da), std::abs(dc));
                if (len > 1) {
                    da /= len;
                    dc /= len;
                }
                a += da;
                c += dc;
                if (len < 1e-12) break;
            }
            const double b = -c / a;
            change = std::max({change, std::abs(a - a_[i]), std::abs(b - b_[i])});
            a_[i] = a;
            b_[i] = b;
        }
        return change;
    }

    // Gradient of the marginal log-likelihood in (a, b) from the last E-step (Fisher's identity).
    double largestGradient() const {
        double g = 0;
        for (size_t i = 0; i < pt_.k; ++i) {
            double ga = 0, gb = 0;
            for (size_t q = 0; q < q_; ++q) {
                const double t = quad_.nodes[q];
                const double e = r_[i * q_ + q] - n_[i * q_ + q] * logistic(a_[i] * (t - b_[i]));
                ga += e * (t - b_[i]);
                gb -= e * a_[i];
            }
            g = std::max({g, std::abs(ga), std::abs(gb)});
        }
        return g;
    }

    // Standard errors from the sum of the patterns' score outer products (the empirical
    // information), evaluated at the posterior of each pattern.
    bool standardErrors(std::vector<double>& seA, std::vector<double>& seB) const {
        const size_t k = pt_.k, n = 2 * k;
        std::vector<double> info(n * n, 0), s(n), pr(k * q_), w(q_), logL(q_);
        for (size_t i = 0; i < k; ++i)
            for (size_t q = 0; q < q_; ++q)
                pr[i * q_ + q] = logistic(a_[i] * (quad_.nodes[q] - b_[i]));
        for (size_t p = 0; p < pt_.count.size(); ++p) {
            const int8_t* x = &pt_.x[p * k];
            std::fill(logL.begin(), logL.end(), 0.0);
            for (size_t i = 0; i < k; ++i)
                if (x[i] != kMissing)
                    for (size_t q = 0; q < q_; ++q)
                        logL[q] += std::log(x[i] ? pr[i * q_ + q] : 1 - pr[i * q_ + q]);
            const double top = *std::max_element(logL.begin(), logL.end());
            double sum = 0;
            for (size_t q = 0; q < q_; ++q)
                sum += w[q] = quad_.weights[q] * std::exp(logL[q] - top);
            for (size_t i = 0; i < k; ++i) {
                double ea = 0, eb = 0;
                if (x[i] != kMissing)
                    for (size_t q = 0; q < q_; ++q) {
                        const double e = w[q] / sum * (x[i] - pr[i * q_ + q]);
                        ea += e * (quad_.nodes[q] - b_[i]);
                        eb -= e * a_[i];
                    }
                s[2 * i] = ea;
                s[2 * i + 1] = eb;
            }
            for (size_t u = 0; u < n; ++u) {
                if (s[u] == 0) continue;
                const double f = pt_.count[p] * s[u];
                for (size_t v = 0; v <= u; ++v)
                    info[u * n + v] += f * s[v];
            }
        }
        for (size_t u = 0; u < n; ++u)
            for (size_t v = 0; v < u; ++v)
                info[v * n + u] = info[u * n + v];
        if (!invertSpd(info, n)) return false;
        seA.resize(k);
        seB.resize(k);
        for (size_t i = 0; i < k; ++i) {
            seA[i] = std::sqrt(info[2 * i * n + 2 * i]);
            seB[i] = std::sqrt(info[(2 * i + 1) * n + 2 * i + 1]);
        }
        return true;
    }

    // Infit and outfit with each pattern's ML ability; patterns with none (zero or full score)
    // tell nothing about misfit and are left out.
    void fit(std::vector<ItemFit>& items) const {
        std::vector<ItemParameters> params;
        for (size_t i = 0; i < pt_.k; ++i)
            params.push_back({a_[i], {b_[i]}});
        std::vector<std::optional<double>> theta(pt_.count.size());
        for (size_t s = 0; s < pt_.count.size(); ++s)
            theta[s] = mlTheta(params, std::vector<int>(&pt_.x[s * pt_.k], &pt_.x[s * pt_.k] + pt_.k));
        for (size_t i = 0; i < pt_.k; ++i) {
            double sq = 0, var = 0, z2 = 0, n = 0;
            for (size_t s = 0; s < pt_.count.size(); ++s) {
                const int x = pt_.x[s * pt_.k + i];
                if (x == kMissing || !theta[s]) continue;
                const double pr = logistic(a_[i] * (*theta[s] - b_[i])), v = pr * (1 - pr), e = x - pr;
                sq += pt_.count[s] * e * e;
                var += pt_.count[s] * v;
                z2 += pt_.count[s] * e * e / v;
                n += pt_.count[s];
            }
            items[i].infit = var > 0 ? sq / var : NAN;
            items[i].outfit = n > 0 ? z2 / n : NAN;
        }
    }

    const std::vector<double>& a() const { return a_; }
    const std::vector<double>& b() const { return b_; }

private:
    Patterns pt_;
    Quadrature quad_;
    size_t q_ = 0;
    std::vector<double> a_, b_, n_, r_;
};

} // namespace

Calibration fitMml(const Responses& data, Prepared p, const Options& options) {
    Mml mml(compress(data, p), options.quadraturePoints > 1 ? options.quadraturePoints : 21);
    const int maxIterations = options.maxIterations > 0 ? options.maxIterations : 5000;
    const double tolerance = options.tolerance > 0 ? options.tolerance : 1e-7;
    Calibration& c = p.result;
    // EM accelerated by squared extrapolation (Varadhan and Roland's SQUAREM): two EM steps give
    // the direction and the curvature of the path, one jump along it, kept only when the
    // likelihood does not fall, then a plain EM step from wherever it landed.
    bool converged = false;
    c.iterations = 0;
    while (c.iterations < maxIterations && !converged) {
        const std::vector<double> x0 = mml.parameters();
        const double ll0 = mml.expect();
        mml.maximise();
        const std::vector<double> x1 = mml.parameters();
        mml.expect();
        converged = mml.maximise() < tolerance;
        c.iterations += 2;
        if (converged) break;
        const std::vector<double> x2 = mml.parameters();
        double rr = 0, vv = 0;
        for (size_t j = 0; j < x0.size(); ++j) {
            const double r = x1[j] - x0[j], v = x2[j] - 2 * x1[j] + x0[j];
            rr += r * r;
            vv += v * v;
        }
        const double alpha = vv > 0 ? std::min(-1.0, -std::sqrt(rr / vv)) : -1.0;
        if (alpha < -1) {
            std::vector<double> jump(x0.size());
            for (size_t j = 0; j < x0.size(); ++j) {
                const double r = x1[j] - x0[j], v = x2[j] - 2 * x1[j] + x0[j];
                jump[j] = x0[j] - 2 * alpha * r + alpha * alpha * v;
            }
            mml.setParameters(jump);
            const double llJump = mml.expect();
            if (!std::isfinite(llJump) || llJump < ll0) {
                mml.setParameters(x2);
                continue;
            }
            mml.maximise();
            ++c.iterations;
        }
    }
    c.logLikelihood = mml.expect();
    c.largestGradient = mml.largestGradient();
    std::vector<size_t> wild;
    for (size_t i = 0; i < p.columns.size(); ++i)
        if (!std::isfinite(mml.b()[i]) || !std::isfinite(mml.a()[i]) || std::abs(mml.b()[i]) > 20 ||
            std::abs(mml.a()[i]) > 20)
            wild.push_back(p.columns[i]);
    std::vector<double> seA, seB;
    if (!converged || !wild.empty() || !mml.standardErrors(seA, seB))
        throw notConverged(data, c.iterations, wild);
    for (size_t i = 0; i < p.columns.size(); ++i) {
        ItemFit f;
        f.column = p.columns[i];
        f.parameters.a = mml.a()[i];
        f.parameters.thresholds = {mml.b()[i]};
        f.aSe = seA[i];
        f.thresholdSe = {seB[i]};
        c.items.push_back(std::move(f));
    }
    mml.fit(c.items);
    return c;
}

} // namespace psychometrics::irt::detail
