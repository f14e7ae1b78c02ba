#pragma once
#include "reports/Report.h"

namespace psychometrics {
struct TestAnalysis;
}

namespace reports {

// The item analysis of a test: per criterion the runs used and left out, alpha (KR-20 for 0/1
// items), the standardized alpha and a line per question of its key.
Report itemAnalysisReport(const psychometrics::TestAnalysis& analysis);

} // namespace reports
