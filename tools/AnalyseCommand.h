#pragma once
#include <QStringList>

// morv-db analyse DIR --test N: the item analysis of a test as CSV on standard output.
// Returns the exit status: 0 done, 1 failed, 2 bad usage (said on standard error).
int analyseCommand(const QStringList& args);

extern const char kAnalyseUsage[];
