#pragma once
#include <QStringList>

// morv-db erase DIR --org N --testee N: returns the exit status (2 for a wrong command line).
int eraseCommand(const QStringList& args);
