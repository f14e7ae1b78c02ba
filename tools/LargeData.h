#pragma once
#include <QString>
#include <cstdint>
#include <vector>

namespace large {

struct Options {
    int64_t orgs = 100;
    int64_t testees = 10000;
    int64_t tests = 50;
    int64_t questions = 200; // per test
    int64_t answers = 1000000;
    int64_t scores = 100000;
    int64_t criteria = 10; // per test
};

// Empty when the counts can make a consistent database, else what is wrong with them.
QString validate(const Options& o);

struct TableReport {
    QString file;
    uint32_t rows = 0;
    double seconds = 0;
};

// Fills an empty database in dir (as schema::createDatabase leaves it). Deterministic: the same
// options always give the same records. Test 1 is the benchmark test, and the first testee of
// institution 1 has answered all of its questions.
std::vector<TableReport> fill(const QString& dir, const Options& o);

} // namespace large
