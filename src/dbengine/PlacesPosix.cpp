#include "Places.h"

#include <QDir>

namespace db::places {

QString userSettings() {
    const QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    return base.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : base;
}

} // namespace db::places
