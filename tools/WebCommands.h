#pragma once
#include <QStringList>

// morv-db serve and morv-db session: the browser test server and its sessions, from the command
// line. Each returns the exit status (0 success, 1 failure, 2 bad usage).
int serveCommand(const QStringList& args);
int sessionCommand(const QStringList& args);

extern const char kWebUsage[];
