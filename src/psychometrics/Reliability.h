#pragma once
#include <cstddef>
#include <optional>
#include <vector>

// Classical item analysis of one scale: Cronbach's alpha and the figures of each item, from the
// item scores of the complete runs only.
namespace psychometrics {

struct ItemFigures {
    double mean = 0;
    double sd = 0; // sample standard deviation (n − 1)
    // Correlation of the item with the sum of the other items; none when either does not vary.
    std::optional<double> itemRest;
    // Alpha of the scale without the item; none with fewer than three items.
    std::optional<double> alphaIfDropped;
};

struct ScaleFigures {
    size_t runs = 0;
    double totalMean = 0, totalSd = 0;
    // Cronbach's alpha: k/(k−1)·(1 − Σ item variances / total variance). None with fewer than
    // two items, fewer than two runs or a total that does not vary.
    std::optional<double> alpha;
    // From the mean inter-item correlation r̄: k·r̄/(1 + (k−1)·r̄). None also when an item does
    // not vary (its correlations are undefined).
    std::optional<double> standardizedAlpha;
    bool dichotomous = false; // every score 0 or 1: alpha is then KR-20
    std::vector<ItemFigures> items;
};

// scores holds runs × items values, one run after another. Three passes, each linear in the
// number of values: means; deviations, variances and covariances with the total; and the
// variance of the sum of the standardized items, which gives the mean inter-item correlation
// without the k × k matrix.
ScaleFigures analyseScale(const std::vector<double>& scores, size_t items);

} // namespace psychometrics
