#pragma once
#include <QStringList>

// morv-db test-export DIR --test N --output FILE and test-import DIR FILE [--as-new]: the exit
// status (2 for a wrong command line).
int testExportCommand(const QStringList& args);
int testImportCommand(const QStringList& args);

extern const char kExchangeUsage[];
