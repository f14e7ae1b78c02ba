#pragma once
#include "LargeData.h"

#include <QString>

namespace server {

// morv-db large URL: the large database's rows in a server database, made as a folder in a
// temporary directory and copied in by COPY in one transaction.
int large(const QString& url, const large::Options& o, bool force);

} // namespace server
