#pragma once
#include <QString>
#include <optional>

// Norms "по выборке": a group's mean and standard deviation from the database's own scored runs.
namespace psychometrics {

struct SampleNorm {
    size_t n = 0;
    std::optional<double> mean, sd; // sd with n − 1; none below two runs
};

// The scores of criterion krit of test's scored runs (the first score row of a run) whose testee
// is of sex ("М", "Ж", or empty for both) and whose age at the date of the score row lies in
// from..to (an open end when absent). A testee without a year of birth counts only where the
// band is open at both ends.
SampleNorm sampleNorm(const QString& database, int test, int krit, const QString& sex,
                      std::optional<int> from, std::optional<int> to);

// Fewer runs than this give figures too unsteady to rely on: norms from a smaller group need the
// user's word before they are stored, and the reliability of a smaller sample is marked so.
inline constexpr size_t kSmallSample = 30;

} // namespace psychometrics
