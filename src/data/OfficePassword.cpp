#include "OfficePassword.h"

#include "Errors.h"
#include "dbf/Bytes.h"
#include "dbf/Os.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <sodium.h>

namespace office {

namespace {

// The password the program has always had; it works while the office has none of its own.
const QString kBuiltIn = QStringLiteral("Kestrila");

void initSodium() {
    if (sodium_init() < 0) throw db::DatabaseError(QStringLiteral("The password library cannot start"));
}

QString fileIn(const QString& dir) {
    return QDir(dir).filePath(QLatin1String(kPasswordFile));
}

} // namespace

bool hasOwnPassword(const QString& dir) {
    return QFile::exists(fileIn(dir));
}

bool passwordMatches(const QString& dir, const QString& typed) {
    QFile f(fileIn(dir));
    if (!f.exists()) return typed == kBuiltIn; // same length, characters and case
    // A file we cannot read or make sense of opens nothing.
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray hash = f.readAll().trimmed();
    if (hash.isEmpty() || hash.size() >= qsizetype(crypto_pwhash_STRBYTES)) return false;
    initSodium();
    const QByteArray bytes = typed.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), bytes.constData(), quint64(bytes.size())) == 0;
}

void setPassword(const QString& dir, const QString& password) {
    if (password.isEmpty()) throw db::DatabaseError(QStringLiteral("Пароль не может быть пустым."));
    initSodium();
    const QByteArray bytes = password.toUtf8();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, bytes.constData(), quint64(bytes.size()), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        throw db::DatabaseError(QStringLiteral("Not enough memory to hash the password"));
    const std::string target = fileIn(dir).toStdString();
    const std::string part = target + ".new";
    try {
        // Written whole beside the old one, then put in its place: a workstation reads the old
        // hash or the new one, never half of one.
        dbf::writeNewFile(part, std::string(hash) + "\n", "password file");
        if (dbf::os::rename(part, target) != 0)
            throw db::DatabaseError("Cannot write " + target + ": " + dbf::os::reason(errno));
        dbf::os::syncDir(QDir(dir).absolutePath().toStdString());
    } catch (...) {
        dbf::os::remove(part);
        throw;
    }
}

} // namespace office
