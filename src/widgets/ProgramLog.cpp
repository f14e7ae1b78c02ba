#include "ProgramLog.h"

#include "dbengine/Places.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <cstdio>

namespace ui {

namespace {
constexpr qint64 kKeepBytes = 1 << 20;

QtMessageHandler& previous() {
    static QtMessageHandler handler = nullptr;
    return handler;
}

const char* levelName(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "error";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

void appendToFile(const QByteArray& line) {
    static QMutex mutex; // messages come from the HTTP thread too
    QMutexLocker lock(&mutex);
    const QString path = programLogFile();
    QDir().mkpath(QFileInfo(path).path());
    if (QFileInfo(path).size() > kKeepBytes) {
        QFile::remove(path + QStringLiteral(".old"));
        QFile::rename(path, path + QStringLiteral(".old"));
    }
    QFile file(path);
    // A log that cannot be written must not stop the program; standard error still has it.
    if (file.open(QIODevice::Append | QIODevice::WriteOnly)) file.write(line);
}

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (previous())
        previous()(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    appendToFile(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + levelName(type) + ": " +
                 message.toUtf8() + '\n');
}
} // namespace

QString programLogFile() {
    return db::places::userSettings() + QStringLiteral("/morvanta/morvanta.log");
}

void installProgramLog() {
    previous() = qInstallMessageHandler(handle);
}

} // namespace ui
