#include "PgServer.h"

#include "PgConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUuid>
#include <cstdlib>

namespace {
QString script() {
    return QStringLiteral(MORV_PG_SERVER_SCRIPT);
}
PgServer* started = nullptr;
QString failure;
bool tried = false;

void stopAtExit() {
    // The connections are closed by their own static owner; the server goes with its folder.
    if (!started || !started->ownsServer()) return;
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("stop"), started->socketDir()});
}
} // namespace

PgServer* PgServer::get(QString* why) {
    if (!tried) {
        tried = true;
        // A server the test run started for every test program (see tests/CMakeLists.txt).
        const QString shared = QStringLiteral(MORV_PG_SOCKET_DIR);
        if (QFileInfo::exists(shared + QStringLiteral("/.s.PGSQL.5432"))) {
            started = new PgServer;
            started->dir_ = shared;
            started->own_ = false;
        } else {
            startOwn();
        }
    }
    if (why) *why = failure;
    return started;
}

PgServer* PgServer::start(QString& why) {
    const QString dir = QDir::temp().filePath(QStringLiteral("morv-pg-") +
                                              QUuid::createUuid().toString(QUuid::Id128).left(12));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("bash"), {script(), QStringLiteral("start"), dir});
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        why = QString::fromUtf8(p.readAll()).trimmed();
        if (why.isEmpty()) why = QStringLiteral("the start script failed");
        QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("stop"), dir});
        return nullptr;
    }
    auto* s = new PgServer;
    s->dir_ = dir;
    return s;
}

void PgServer::startOwn() {
    started = start(failure);
    if (started) std::atexit(stopAtExit);
}

std::unique_ptr<PgServer, PgServer::Stop> PgServer::startPrivate(QString* why) {
    QString reason;
    std::unique_ptr<PgServer, Stop> s(start(reason));
    if (why) *why = reason;
    return s;
}

void PgServer::Stop::operator()(PgServer* s) const {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("stop"), s->dir_});
    delete s;
}

QString PgServer::adminUrl() const {
    return QStringLiteral("postgresql://morv@/postgres?host=%1").arg(dir_);
}

QString PgServer::newDatabase() {
    const QString name = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++databases_);
    pg::Connection admin(adminUrl());
    admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
    return QStringLiteral("postgresql://morv@/%1?host=%2").arg(name, dir_);
}

void PgServer::restart() {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("restart"), dir_});
}

void PgServer::crash() {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("crash"), dir_});
}

QString psqlText(const QString& url, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {url, QStringLiteral("-AtX"), QStringLiteral("-c"), sql});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}
