#pragma once
#include "dataset/Dataset.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace services {

// Every number of field f in the view of ds, in view order, without moving the cursor; rows
// without a number are left out.
std::vector<int64_t> numbersInView(const db::Dataset& ds, const db::Field* f);

// The number for a new institution or testee: one more than the last row's number (last), as
// the psychologists are used to; when that number is already taken, or the last row has none,
// one more than the largest number present (1 when there is none). A shared number would mix
// two people's answers and scores.
int64_t nextNumber(std::optional<int64_t> last, const std::vector<int64_t>& numbers);

} // namespace services
