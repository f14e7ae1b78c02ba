#pragma once
#include <QString>
#include <QStringList>
#include <functional>

namespace db {

// The tables a server database holds (lower case), for the statistics queries that read them;
// registered beside the store's opener by the library that keeps such tables.
using StoreLister = std::function<QStringList(const QString& url)>;
void registerStoreLister(const QString& scheme, StoreLister lister);
QStringList serverTables(const QString& url);

} // namespace db
