#pragma once
#include <QString>

// Where the user's own files live, as each system has it; one file per system (Places*.cpp).
namespace db::places {

// The folder of the user's settings: $XDG_CONFIG_HOME (or ~/.config) on Linux, the roaming
// application-data folder (%APPDATA%) on Windows. XDG_CONFIG_HOME wins on both, for the tests.
QString userSettings();

} // namespace db::places
