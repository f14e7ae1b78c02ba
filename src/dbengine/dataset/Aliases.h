#pragma once
#include <QString>

namespace db {

// Database aliases: a name bound to a directory. Bindings made in code (tests, tools) win;
// otherwise the file named by MORV_ALIASES, else morvanta/aliases.ini in the user's settings
// folder (places::userSettings: ~/.config on Linux, %APPDATA% on Windows), section [name], key path.
class Aliases {
public:
    static void bind(const QString& alias, const QString& directory);
    static void unbind(const QString& alias);
    // The directory of an alias, or the URL of a server database (postgresql://...); throws
    // DatabaseError naming what is missing and where it looked. A URL given instead of an alias
    // names itself.
    static QString resolve(const QString& alias);
    // Writes a binding into the configuration file; returns the file's path.
    static QString store(const QString& alias, const QString& directory);
    static QString configFile();
};

class Table;
// Names a table of a database given as a folder or a server URL, before t.open(); file is its
// file name in the folder.
void placeTable(Table& t, const QString& database, const QString& file);

} // namespace db
