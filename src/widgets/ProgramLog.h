#pragma once
#include <QString>

// The program's log: what a window only summarises ("подробности записаны в журнал программы")
// goes to standard error and to a file in the user's settings folder, since a program started
// from a desktop or a Start menu has no terminal to show standard error in.
namespace ui {

// The log file: <settings>/morvanta/morvanta.log (see db::places::userSettings).
QString programLogFile();

// Routes Qt's warnings, errors and fatal messages to standard error and the log file. The file
// keeps about the last megabyte: when it grows past that it becomes morvanta.log.old.
void installProgramLog();

} // namespace ui
