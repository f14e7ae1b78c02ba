#pragma once
#include "reports/Report.h"
#include "results/Run.h"

#include <functional>

namespace results {
class Archive;
}

// The three reports of the stored results. Each throws ReportError, with one message for the
// user, when there is nothing to report; what is missing within a report is said on its page.
namespace reports {

// One run: institution, testee, test, date, each criterion's score, level and the level's text,
// the bar chart for several criteria, and an appendix of every question with the chosen option.
Report runReport(results::Archive& archive, const results::RunKey& run);

// Every test a testee took, newest first, with date, scores and levels.
Report testeeReport(results::Archive& archive, int org, int testee);

// One line per testee of an institution scored on a test, and each criterion's mean and
// standard deviation as the statistics window computes them. progress(done, total) returning
// false stops with Cancelled. Anonymous: each testee shown by the code "institution-testee".
Report groupReport(results::Archive& archive, int org, int test,
                   const std::function<bool(int, int)>& progress = {}, bool anonymous = false);

// Stopped by the user while being made.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled"; }
};

} // namespace reports
