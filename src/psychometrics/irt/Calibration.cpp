#include "psychometrics/irt/Calibration.h"

#include "psychometrics/Columns.h"
#include "psychometrics/irt/Internal.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace psychometrics::irt {

std::vector<ItemParameters> Calibration::parameters() const {
    std::vector<ItemParameters> p;
    for (const ItemFit& f : items)
        p.push_back(f.parameters);
    return p;
}

namespace detail {

QString itemNames(const Responses& data, const std::vector<size_t>& columns) {
    QStringList names;
    for (size_t c : columns)
        names << QString::number(c < data.labels.size() ? data.labels[c] : int(c + 1));
    return (columns.size() == 1 ? QStringLiteral("вопрос ") : QStringLiteral("вопросы ")) +
           names.join(QStringLiteral(", "));
}

AnalysisError notConverged(const Responses& data, int iterations, const std::vector<size_t>& wild) {
    return AnalysisError(
        QStringLiteral(
            "Оценки не сошлись за %1 итераций%2. Данных слишком мало или ответы слишком однородны.")
            .arg(iterations)
            .arg(wild.empty() ? QString()
                              : QStringLiteral(": уходят в бесконечность %1").arg(itemNames(data, wild))));
}

bool invertSpd(std::vector<double>& a, size_t n) {
    // Cholesky A = L·Lᵀ, then A⁻¹ = L⁻ᵀ·L⁻¹.
    std::vector<double> l(n * n, 0);
    for (size_t j = 0; j < n; ++j) {
        double d = a[j * n + j];
        for (size_t k = 0; k < j; ++k)
            d -= l[j * n + k] * l[j * n + k];
        if (!(d > 0)) return false;
        l[j * n + j] = std::sqrt(d);
        for (size_t i = j + 1; i < n; ++i) {
            double s = a[i * n + j];
            for (size_t k = 0; k < j; ++k)
                s -= l[i * n + k] * l[j * n + k];
            l[i * n + j] = s / l[j * n + j];
        }
    }
    std::vector<double> li(n * n, 0); // L⁻¹, lower triangular
    for (size_t j = 0; j < n; ++j) {
        li[j * n + j] = 1 / l[j * n + j];
        for (size_t i = j + 1; i < n; ++i) {
            double s = 0;
            for (size_t k = j; k < i; ++k)
                s -= l[i * n + k] * li[k * n + j];
            li[i * n + j] = s / l[i * n + i];
        }
    }
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j <= i; ++j) {
            double s = 0;
            for (size_t k = i; k < n; ++k)
                s += li[k * n + i] * li[k * n + j];
            a[i * n + j] = a[j * n + i] = s;
        }
    return true;
}

Prepared prepare(const Responses& data, Model model) {
    Prepared p;
    p.result.model = model;
    const bool conditional = model != Model::TwoPl;
    std::vector<int> top(data.items, -1);
    std::vector<size_t> tooMany;
    for (size_t i = 0; i < data.items; ++i) {
        for (size_t r = 0; r < data.persons; ++r)
            if (data.weight(r) > 0) top[i] = std::max(top[i], data.at(r, i));
        if (model != Model::PartialCredit && top[i] > 1) tooMany.push_back(i);
    }
    if (!tooMany.empty())
        throw AnalysisError(QStringLiteral("Модель для заданий «верно — неверно» не подходит: %1 оцениваются "
                                           "более чем двумя значениями баллов. Выберите модель частичного "
                                           "зачёта (pcm).")
                                .arg(itemNames(data, tooMany)));
    // Items everybody answered alike go first, so that the message names them and not the items
    // that only lost their variation with the persons those took along.
    std::vector<char> keep(data.items);
    for (size_t i = 0; i < data.items; ++i) {
        int lo = top[i];
        for (size_t r = 0; r < data.persons; ++r)
            if (data.weight(r) > 0 && data.at(r, i) != kMissing) lo = std::min(lo, data.at(r, i));
        keep[i] = top[i] > lo;
        if (top[i] >= 0 && !keep[i]) p.result.constantItems.push_back(i);
    }
    p.used.assign(data.persons, 0);
    // Leaving out a person can make an item constant and the other way round: repeat until stable.
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t r = 0; r < data.persons; ++r) {
            int got = 0, most = 0;
            for (size_t i = 0; i < data.items; ++i)
                if (keep[i] && data.at(r, i) != kMissing) {
                    got += data.at(r, i);
                    most += top[i];
                }
            p.used[r] = data.weight(r) > 0 && most > 0 && (!conditional || (got > 0 && got < most));
        }
        if (std::none_of(p.used.begin(), p.used.end(), [](int8_t u) { return u != 0; })) break;
        for (size_t i = 0; i < data.items; ++i) {
            if (!keep[i]) continue;
            int lo = 1 << 20, hi = -1;
            for (size_t r = 0; r < data.persons; ++r)
                if (p.used[r] && data.at(r, i) != kMissing) {
                    lo = std::min(lo, int(data.at(r, i)));
                    hi = std::max(hi, int(data.at(r, i)));
                }
            if (hi <= lo) {
                keep[i] = 0;
                p.result.constantItems.push_back(i);
                changed = true;
            }
        }
    }
    std::sort(p.result.constantItems.begin(), p.result.constantItems.end());
    for (size_t i = 0; i < data.items; ++i)
        if (keep[i]) {
            p.columns.push_back(i);
            p.maxScore.push_back(top[i]);
        }
    for (size_t r = 0; r < data.persons; ++r) {
        const double w = data.weight(r);
        if (p.used[r]) {
            p.result.personsUsed += w;
            for (size_t c : p.columns)
                if (data.at(r, c) == kMissing) {
                    p.result.personsWithMissing += w;
                    break;
                }
        } else if (conditional && w > 0) {
            p.result.personsExtreme += w;
        }
    }
    if (p.columns.size() < 2 || p.result.personsUsed < 2) {
        QString why = QStringLiteral("Калибровать нечего: осталось заданий — %1, испытуемых — %2.")
                          .arg(p.columns.size())
                          .arg(p.result.personsUsed);
        if (!p.result.constantItems.empty())
            why +=
                QStringLiteral(" Все ответили одинаково: %1.").arg(itemNames(data, p.result.constantItems));
        throw AnalysisError(why);
    }
    return p;
}

} // namespace detail

Calibration calibrate(const Responses& data, Model model, const Options& options) {
    if (data.scores.size() != data.persons * data.items ||
        (!data.weights.empty() && data.weights.size() != data.persons))
        throw AnalysisError(QStringLiteral("Таблица ответов неполна."));
    detail::Prepared p = detail::prepare(data, model);
    return model == Model::TwoPl ? detail::fitMml(data, std::move(p), options)
                                 : detail::fitCml(data, std::move(p), options);
}

} // namespace psychometrics::irt
