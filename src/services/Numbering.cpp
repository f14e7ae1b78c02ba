#include "services/Numbering.h"

#include <algorithm>

namespace services {

std::vector<int64_t> numbersInView(const db::Dataset& ds, const db::Field* f) {
    std::vector<int64_t> out;
    if (!ds.active()) return out;
    const int rows = ds.recordCount();
    out.reserve(size_t(rows));
    for (int r = 0; r < rows; ++r) {
        const db::Variant v = ds.valueAt(r, f);
        if (!v.isNull()) out.push_back(v.toInt());
    }
    return out;
}

int64_t nextNumber(std::optional<int64_t> last, const std::vector<int64_t>& numbers) {
    if (last) {
        const int64_t n = *last + 1;
        if (std::find(numbers.begin(), numbers.end(), n) == numbers.end()) return n;
    }
    const auto top = std::max_element(numbers.begin(), numbers.end());
    return top == numbers.end() ? 1 : *top + 1;
}

} // namespace services
