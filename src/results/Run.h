#pragma once
#include <QString>

namespace db {
class Table;
class Variant;
} // namespace db

// A testing run's rules, below the windows: the windows, the reports and the export read and
// score a run through these, so that they all agree on what a run's result is.
namespace results {

// Who was tested on what: institution number, testee number within it, test number.
struct RunKey {
    int org = 0;
    int testee = 0;
    int test = 0;
    friend bool operator==(const RunKey&, const RunKey&) = default;
};

// The answer and score rows of one run.
QString runFilter(const RunKey& run);
// The questions of a test.
QString questionsFilter(int test);
// The key rows of every criterion of a test.
QString testKeyFilter(int test);
// The interpretation ranges of a criterion that hold a score, both bounds inclusive.
QString levelFilter(int test, int krit, int ball);
// The options of an answer set.
QString answerSetFilter(int set);

// An answer index as stored: null or -1 while a question is shown but not answered.
bool isAnswer(const db::Variant& otvet);

// Narrows otvet to answer set set, in stored order, and stands on its first option; false,
// leaving the table alone, when set is null (a question that names no set). The testing window
// and the scoring read a question's options through this one rule.
bool narrowToAnswerSet(db::Table* otvet, const db::Variant& set);

} // namespace results
