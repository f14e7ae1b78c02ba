#include "AnyFile.h"

#include "ReproSchema.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace exchange {

Brought fromAnyFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ExchangeError(QStringLiteral("файл не открывается: %1").arg(file.errorString()));
    if (file.size() > kMaxFileBytes)
        throw ExchangeError(QStringLiteral("файл слишком большой для файла теста"));
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().startsWith('{')) {
        const QJsonObject o = QJsonDocument::fromJson(bytes).object();
        if (o.isEmpty() || o.value(QLatin1String("format")).toString() == QLatin1String(kFormat))
            return {read(bytes), {}}; // the strict reader says what is wrong with a broken one
        if (o.contains(QLatin1String("ui")) ||
            o.value(QLatin1String("@type")).toString().contains(QLatin1String("Activity")))
            return fromReproSchema(path);
        throw ExchangeError(QStringLiteral("это не файл теста и не активность ReproSchema"));
    }
    const std::vector<QStringList> rows = readCsv(bytes);
    if (!rows.empty() &&
        rows[0].value(0).trimmed().startsWith(QLatin1String("Variable / Field Name"), Qt::CaseInsensitive))
        return fromRedcap(bytes);
    return fromSpreadsheet(bytes, QFileInfo(path).completeBaseName());
}

} // namespace exchange
