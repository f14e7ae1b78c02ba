#pragma once
#include <QStringList>

// morv-db password DIR: the office's password for the tables menu, read from standard input;
// returns the exit status (2 for a wrong command line).
int passwordCommand(const QStringList& args);
