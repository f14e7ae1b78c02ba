#pragma once
#include <QDate>
#include <QString>
#include <optional>
#include <vector>

// Norms of a test's criteria and the standard scores of a raw score against them.
namespace psychometrics {

// One norm group of a criterion: a sex ("М", "Ж", or empty for both) and an age band in whole
// years at the date of testing, both ends inclusive (an open end when absent). It has a mean
// and a standard deviation, or raw score → percentile rows, or both.
struct NormGroup {
    int test = 0, krit = 0;
    QString sex;
    std::optional<int> ageFrom, ageTo;
    std::optional<double> mean, sd, n;
    std::vector<std::pair<double, double>> percentiles; // raw score, percentile; ascending raw
    // "Ж, 18–25 лет, n = 120", for the windows and reports.
    QString describe() const;
};

// The standard scores of a raw score. z, T and sten come from the mean and SD; without them,
// from the percentile taken as a normal curve's (normalized scores). The percentile comes from
// the group's table, or from the normal curve when it has only a mean and SD.
struct StandardScores {
    std::optional<double> z, t;
    std::optional<int> sten, stanine;
    std::optional<double> percentile;
    bool percentileFromTable = false;
    NormGroup group;
};

// The standard scores or why there are none.
struct NormResult {
    std::optional<StandardScores> scores;
    QString why; // when there are none
};

// Age at the date of testing from the year of birth alone: the year of testing minus it.
std::optional<int> ageAt(std::optional<int> birthYear, const QDate& tested);

// The group of groups (of one test) that fits a testee's criterion: of one's sex before one for
// both, then the narrowest band, then the first stored.
NormResult standardScores(const std::vector<NormGroup>& groups, int krit, double raw, const QString& sex,
                          std::optional<int> birthYear, const QDate& tested);

// z → T = 50 + 10z; sten = 5.5 + 2z rounded half up into 1..10; stanine = 5 + 2z rounded half
// up into 1..9 (cut points at z = ±0.25, ±0.75, ±1.25, ±1.75).
double tScore(double z);
int sten(double z);
int stanine(double z);
// The percentile of z under the normal curve, 100·Φ(z), and back.
double normalPercentile(double z);
std::optional<double> zOfPercentile(double percentile);
// The table's rule: the percentile of the row with the largest raw score not above raw;
// nothing below the lowest row.
std::optional<double> tablePercentile(const std::vector<std::pair<double, double>>& rows, double raw);

// The norms of a test stored in the database (a folder or a server); none without the table of norms.
std::vector<NormGroup> readNorms(const QString& database, int test);

} // namespace psychometrics
