#pragma once
#include "TestFile.h"

namespace exchange {

// Everything a test must satisfy before a row of it is written: questions numbered 1, 2, 3 …;
// every question's answer set in the file; every key naming a question; the levels of each
// criterion neither overlapping nor leaving a score between the lowest and the highest
// possible one without a level; points whole numbers a table holds; texts that fit their
// fields. Throws ExchangeError naming the first fault found, its field and question.
void check(const TestFile& test);

// The lowest and the highest score a criterion can get: the sums of the smallest and the
// largest points of its questions' options.
std::pair<double, double> possibleScores(const TestFile& test, const Criterion& c);

} // namespace exchange
