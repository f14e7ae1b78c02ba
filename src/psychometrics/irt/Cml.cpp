// Conditional maximum likelihood for the Rasch and the partial credit model: the persons'
// abilities drop out given their raw scores, leaving elementary symmetric functions of the item
// parameters (summation algorithm: products of prefix and suffix polynomials, so nothing is
// subtracted and nothing cancels). Persons answering different item sets form groups with their
// own functions. Newton–Raphson on the thresholds with the sum-zero identification.
#include "psychometrics/Columns.h"
#include "psychometrics/irt/Internal.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace psychometrics::irt::detail {

namespace {

using Poly = std::vector<double>;

Poly times(const Poly& a, const Poly& b) {
    Poly c(a.size() + b.size() - 1, 0);
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = 0; j < b.size(); ++j)
            c[i + j] += a[i] * b[j];
    return c;
}

// Coefficient s of a·b without forming the product.
double at(const Poly& a, const Poly& b, long s) {
    if (s < 0) return 0;
    double sum = 0;
    const long lo = std::max(0L, s - long(b.size()) + 1), hi = std::min(s, long(a.size()) - 1);
    for (long t = lo; t <= hi; ++t)
        sum += a[size_t(t)] * b[size_t(s - t)];
    return sum;
}

struct Group {
    std::vector<size_t> items; // indices into the kept items
    std::vector<double> count; // persons per raw score
};

class Cml {
public:
    Cml(const Responses& data, const Prepared& p) : data_(data), p_(p) {
        k_ = p.columns.size();
        for (size_t i = 0; i < k_; ++i) {
            offset_.push_back(size_);
            size_ += size_t(p.maxScore[i]);
        }
        observed_.assign(size_, 0);
        std::map<std::vector<char>, size_t> groupOf;
        groupIndex_.assign(data.persons, -1);
        rawScore_.assign(data.persons, 0);
        for (size_t r = 0; r < data.persons; ++r) {
            if (!p.used[r]) continue;
            std::vector<char> mask(k_);
            int score = 0;
            for (size_t i = 0; i < k_; ++i) {
                const int x = data.at(r, p.columns[i]);
                mask[i] = x != kMissing;
                if (x > 0) {
                    score += x;
                    observed_[offset_[i] + size_t(x) - 1] += data.weight(r);
                }
            }
            auto [it, fresh] = groupOf.try_emplace(mask, groups_.size());
            if (fresh) {
                Group g;
                int most = 0;
                for (size_t i = 0; i < k_; ++i)
                    if (mask[i]) {
                        g.items.push_back(i);
                        most += p.maxScore[i];
                    }
                g.count.assign(size_t(most) + 1, 0);
                groups_.push_back(std::move(g));
            }
            groups_[it->second].count[size_t(score)] += data.weight(r);
            groupIndex_[r] = int(it->second);
            rawScore_[r] = score;
        }
    }

    size_t size() const { return size_; }

    // Starting values: adjacent categories' log odds, centred.
    std::vector<double> start() const {
        std::vector<double> d(size_);
        for (size_t i = 0; i < k_; ++i) {
            double below = 0;
            for (size_t r = 0; r < data_.persons; ++r)
                if (p_.used[r] && data_.at(r, p_.columns[i]) == 0) below += data_.weight(r);
            for (int h = 1; h <= p_.maxScore[i]; ++h) {
                const double here = observed_[offset_[i] + size_t(h) - 1];
                d[offset_[i] + size_t(h) - 1] = std::log((below + 0.5) / (here + 0.5));
                below = here;
            }
        }
        centre(d);
        return d;
    }

    static void centre(std::vector<double>& d) {
        double mean = 0;
        for (double v : d)
            mean += v;
        mean /= double(d.size());
        for (double& v : d)
            v -= mean;
    }

    // The conditional log-likelihood at thresholds d; its gradient and information (the negative
    // Hessian) in the thresholds when asked.
    double evaluate(const std::vector<double>& d, std::vector<double>* grad,
                    std::vector<double>* info) const {
        std::vector<Poly> poly(k_);
        std::vector<double> beta(size_);
        for (size_t i = 0; i < k_; ++i) {
            poly[i].assign(size_t(p_.maxScore[i]) + 1, 1);
            double b = 0;
            for (int h = 1; h <= p_.maxScore[i]; ++h) {
                b += d[offset_[i] + size_t(h) - 1];
                beta[offset_[i] + size_t(h) - 1] = b;
                poly[i][size_t(h)] = std::exp(-b);
            }
        }
        double ll = 0;
        for (size_t j = 0; j < size_; ++j)
            ll -= observed_[j] * beta[j];
        std::vector<double> gb(size_, 0), jb(info ? size_ * size_ : 0, 0);
        for (const Group& g : groups_)
            ll += addGroup(g, poly, grad ? &gb : nullptr, info ? &jb : nullptr);
        if (grad) {
            // Gradient in β is expected minus observed; in δ it sums over the categories above.
            grad->assign(size_, 0);
            for (size_t i = 0; i < k_; ++i) {
                double acc = 0;
                for (int h = p_.maxScore[i]; h >= 1; --h) {
                    const size_t j = offset_[i] + size_t(h) - 1;
                    acc += gb[j] - observed_[j];
                    (*grad)[j] = acc;
                }
            }
        }
        if (info) *info = toThresholds(jb);
        return ll;
    }

    // Person abilities by ML for each group and raw score, for the fit statistics.
    void fit(std::vector<ItemFit>& items) const {
        std::vector<ItemParameters> params;
        for (const ItemFit& f : items)
            params.push_back(f.parameters);
        std::vector<std::vector<std::vector<Moments>>> moments(groups_.size());
        for (size_t gi = 0; gi < groups_.size(); ++gi) {
            const Group& g = groups_[gi];
            moments[gi].resize(g.count.size());
            std::vector<int> scores(k_, kMissing);
            for (size_t r = 1; r + 1 < g.count.size(); ++r) {
                if (g.count[r] <= 0) continue;
                // Any pattern of this raw score over the group's items has the same ML θ.
                int left = int(r);
                for (size_t i : g.items) {
                    scores[i] = std::min(left, p_.maxScore[i]);
                    left -= scores[i];
                }
                const auto theta = mlTheta(params, scores);
                for (size_t i : g.items)
                    moments[gi][r].push_back(itemMoments(params[i], theta.value_or(0)));
            }
        }
        std::vector<double> sq(k_, 0), var(k_, 0), z2(k_, 0), n(k_, 0);
        for (size_t r = 0; r < data_.persons; ++r) {
            if (groupIndex_[r] < 0) continue;
            const Group& g = groups_[size_t(groupIndex_[r])];
            const auto& m = moments[size_t(groupIndex_[r])][size_t(rawScore_[r])];
            const double w = data_.weight(r);
            for (size_t t = 0; t < g.items.size(); ++t) {
                const size_t i = g.items[t];
                const double e = data_.at(r, p_.columns[i]) - m[t].mean;
                sq[i] += w * e * e;
                var[i] += w * m[t].variance;
                if (m[t].variance > 0) z2[i] += w * e * e / m[t].variance;
                n[i] += w;
            }
        }
        for (size_t i = 0; i < k_; ++i) {
            items[i].infit = var[i] > 0 ? sq[i] / var[i] : NAN;
            items[i].outfit = n[i] > 0 ? z2[i] / n[i] : NAN;
        }
    }

    size_t offset(size_t i) const { return offset_[i]; }

private:
    double addGroup(const Group& g, const std::vector<Poly>& poly, std::vector<double>* gb,
                    std::vector<double>* jb) const {
        const size_t n = g.items.size();
        std::vector<Poly> prefix(n + 1), suffix(n + 1);
        prefix[0] = {1};
        for (size_t t = 0; t < n; ++t)
            prefix[t + 1] = times(prefix[t], poly[g.items[t]]);
        suffix[n] = {1};
        for (size_t t = n; t-- > 0;)
            suffix[t] = times(poly[g.items[t]], suffix[t + 1]);
        const Poly& gamma = prefix[n];
        double ll = 0;
        std::vector<size_t> scores;
        for (size_t r = 0; r < g.count.size(); ++r)
            if (g.count[r] > 0) {
                scores.push_back(r);
                ll -= g.count[r] * std::log(gamma[r]);
            }
        if (!gb) return ll;
        // π[t][s][h]: P(item t in category h | raw score scores[s]).
        std::vector<std::vector<std::vector<double>>> pi(n);
        for (size_t t = 0; t < n; ++t) {
            const Poly& c = poly[g.items[t]];
            pi[t].resize(scores.size());
            for (size_t s = 0; s < scores.size(); ++s) {
                const long r = long(scores[s]);
                pi[t][s].assign(c.size(), 0);
                for (size_t h = 1; h < c.size(); ++h)
                    pi[t][s][h] = c[h] * at(prefix[t], suffix[t + 1], r - long(h)) / gamma[size_t(r)];
                for (size_t h = 1; h < c.size(); ++h)
                    (*gb)[offset_[g.items[t]] + h - 1] += g.count[size_t(r)] * pi[t][s][h];
            }
        }
        if (!jb) return ll;
        for (size_t t = 0; t < n; ++t) {
            const size_t i = g.items[t], mi = poly[i].size() - 1;
            for (size_t s = 0; s < scores.size(); ++s) {
                const double w = g.count[scores[s]];
                for (size_t h = 1; h <= mi; ++h)
                    for (size_t l = 1; l <= mi; ++l)
                        add(*jb, i, h, i, l, w * ((h == l ? pi[t][s][h] : 0) - pi[t][s][h] * pi[t][s][l]));
            }
            Poly middle = prefix[t];
            for (size_t u = t + 1; u < n; ++u) {
                const size_t j = g.items[u], mj = poly[j].size() - 1;
                for (size_t s = 0; s < scores.size(); ++s) {
                    const long r = long(scores[s]);
                    const double w = g.count[size_t(r)];
                    for (size_t h = 1; h <= mi; ++h)
                        for (size_t l = 1; l <= mj; ++l) {
                            const double both = poly[i][h] * poly[j][l] *
                                                at(middle, suffix[u + 1], r - long(h + l)) / gamma[size_t(r)];
                            const double v = w * (both - pi[t][s][h] * pi[u][s][l]);
                            add(*jb, i, h, j, l, v);
                            add(*jb, j, l, i, h, v);
                        }
                }
                middle = times(middle, poly[j]);
            }
        }
        return ll;
    }

    void add(std::vector<double>& m, size_t i, size_t h, size_t j, size_t l, double v) const {
        m[(offset_[i] + h - 1) * size_ + offset_[j] + l - 1] += v;
    }

    // Tᵀ·J·T for β = T·δ (β_ih = Σ_{l≤h} δ_il): sums over the categories at and above.
    std::vector<double> toThresholds(std::vector<double> m) const {
        for (int pass = 0; pass < 2; ++pass) {
            for (size_t row = 0; row < size_; ++row)
                for (size_t i = 0; i < k_; ++i)
                    for (int h = p_.maxScore[i] - 1; h >= 1; --h) {
                        const size_t j = offset_[i] + size_t(h) - 1;
                        m[row * size_ + j] += m[row * size_ + j + 1];
                    }
            // Transpose and repeat for the other side.
            for (size_t a = 0; a < size_; ++a)
                for (size_t b = a + 1; b < size_; ++b)
                    std::swap(m[a * size_ + b], m[b * size_ + a]);
        }
        return m;
    }

    const Responses& data_;
    const Prepared& p_;
    size_t k_ = 0, size_ = 0;
    std::vector<size_t> offset_;
    std::vector<double> observed_;
    std::vector<Group> groups_;
    std::vector<int> groupIndex_, rawScore_;
};

// (J + ûûᵀ) with û the unit vector along the unidentified direction: invertible, and its inverse
// minus ûûᵀ is the covariance under the sum-zero identification.
bool regularisedInverse(std::vector<double>& info, size_t n) {
    const double u = 1.0 / double(n);
    for (double& v : info)
        v += u;
    return invertSpd(info, n);
}

} // namespace

Calibration fitCml(const Responses& data, Prepared p, const Options& options) {
    Cml cml(data, p);
    const size_t n = cml.size();
    const int maxIterations = options.maxIterations > 0 ? options.maxIterations : 100;
    const double tolerance = options.tolerance > 0 ? options.tolerance : 1e-8;
    std::vector<double> d = cml.start(), grad, info;
    Calibration& c = p.result;
    double ll = cml.evaluate(d, &grad, &info);
    bool converged = false;
    for (c.iterations = 0; c.iterations < maxIterations && !converged;) {
        ++c.iterations;
        if (!regularisedInverse(info, n)) break;
        std::vector<double> step(n, 0);
        for (size_t a = 0; a < n; ++a)
            for (size_t b = 0; b < n; ++b)
                step[a] += info[a * n + b] * grad[b];
        double largest = 0;
        for (double s : step)
            largest = std::max(largest, std::abs(s));
        // Halve a step that lowers the likelihood; a long one is cut to 2 logits first.
        double scale = largest > 2 ? 2 / largest : 1;
        std::vector<double> next(n);
        double nextLl = ll;
        for (int half = 0; half < 30; ++half, scale /= 2) {
            for (size_t a = 0; a < n; ++a)
                next[a] = d[a] + scale * step[a];
            Cml::centre(next);
            nextLl = cml.evaluate(next, nullptr, nullptr);
            if (std::isfinite(nextLl) && nextLl >= ll - 1e-12 * std::abs(ll)) break;
        }
        d = next;
        ll = cml.evaluate(d, &grad, &info);
        converged = largest < tolerance;
    }
    c.logLikelihood = ll;
    c.largestGradient = 0;
    for (double v : grad)
        c.largestGradient = std::max(c.largestGradient, std::abs(v));
    std::vector<size_t> wild;
    for (size_t i = 0; i < p.columns.size(); ++i)
        for (int h = 1; h <= p.maxScore[i]; ++h)
            if (!std::isfinite(d[cml.offset(i) + size_t(h) - 1]) ||
                std::abs(d[cml.offset(i) + size_t(h) - 1]) > 15) {
                wild.push_back(p.columns[i]);
                break;
            }
    if (!converged || !wild.empty() || !regularisedInverse(info, n))
        throw notConverged(data, c.iterations, wild);
    const double u = 1.0 / double(n);
    for (size_t i = 0; i < p.columns.size(); ++i) {
        ItemFit f;
        f.column = p.columns[i];
        for (int h = 1; h <= p.maxScore[i]; ++h) {
            const size_t j = cml.offset(i) + size_t(h) - 1;
            f.parameters.thresholds.push_back(d[j]);
            f.thresholdSe.push_back(std::sqrt(std::max(0.0, info[j * n + j] - u)));
        }
        c.items.push_back(std::move(f));
    }
    cml.fit(c.items);
    return c;
}

} // namespace psychometrics::irt::detail
