#pragma once
#include <QStringList>

// morv-db upgrade URL: brings a server database made by an older program up to date; returns
// the exit status (2 for a wrong command line).
int upgradeCommand(const QStringList& args);
