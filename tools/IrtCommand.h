#pragma once
#include <QStringList>

// morv-db irt DIR --test N --criterion K --model rasch|2pl|pcm: item response calibration of a
// criterion's items as CSV on standard output; with --store also the item bank. Exit status 0 done,
// 1 failed, 2 usage.
int irtCommand(const QStringList& args);
// morv-db cat-simulate: simulated adaptive runs over a criterion's stored item bank.
int catSimulateCommand(const QStringList& args);

extern const char kIrtUsage[];
