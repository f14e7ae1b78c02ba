#include "Places.h"

#include <QDir>
#include <QStandardPaths>

namespace db::places {

QString userSettings() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
    if (base.isEmpty()) base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base;
}

} // namespace db::places
