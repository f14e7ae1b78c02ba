#pragma once
#include <QStringList>

// morv-db irt DIR --test N --criterion K --model rasch|2pl|pcm: item response calibration of a
// criterion's items as CSV on standard output. Reads only. Exit status 0 done, 1 failed, 2 usage.
int irtCommand(const QStringList& args);

extern const char kIrtUsage[];
