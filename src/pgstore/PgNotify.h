#pragma once
#include <QObject>
#include <QString>
#include <functional>

namespace pg {

// The channel the database's triggers notify with the changed table's name.
inline constexpr const char* kChangesChannel = "morv_changes";

// Calls fn, on context's thread from its event loop, whenever another program commits a change
// to the table (one call for a burst of them). The notifications come on a connection of their
// own, waited for on its socket. When that connection breaks it is made again, and every
// watcher is called once, since changes may have been missed meanwhile. Returns an id for
// unwatch; the watch also ends with context.
int watchTable(const QString& url, const QString& table, QObject* context, std::function<void()> fn);
void unwatch(int id);

} // namespace pg
