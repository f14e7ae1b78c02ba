#include "PgServer.h"

#include "PgConnection.h"
#include "PgStore.h"
#include "TestDb.h"
#include "dataset/Aliases.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QUuid>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

PgServer* PgServer::start(QString& why, int port, const QString& language) {
    const QString dir = QDir::temp().filePath(QStringLiteral("morv-pg-") +
                                              QUuid::createUuid().toString(QUuid::Id128).left(12));
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!language.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("MORV_PG_MESSAGES"), language);
        p.setProcessEnvironment(env);
    }
    QStringList args{script(), QStringLiteral("start"), dir};
    if (port) args << QString::number(port);
    p.start(QStringLiteral("bash"), args);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        why = QString::fromUtf8(p.readAll()).trimmed();
        if (why.isEmpty()) why = QStringLiteral("the start script failed");
        QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("stop"), dir});
        return nullptr;
    }
    auto* s = new PgServer;
    s->dir_ = dir;
    s->port_ = port;
    return s;
}

namespace {
// A port nothing listens on now, as the system picks one.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}
} // namespace

std::unique_ptr<PgServer, PgServer::Stop> PgServer::startWithTcp(QString* why, const QString& language) {
    QString reason;
    // Another program may take the port between the look and the start: then another one.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::unique_ptr<PgServer, Stop> s(start(reason, freePort(), language));
        if (s) return s;
    }
    if (why) *why = reason;
    return {};
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

QString PgServer::portParam() const {
    return port_ ? QStringLiteral("&port=%1").arg(port_) : QString();
}

QString PgServer::adminUrl() const {
    return QStringLiteral("postgresql://morv@/postgres?host=%1%2").arg(dir_, portParam());
}

QString PgServer::newDatabase() {
    const QString name = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++databases_);
    pg::Connection admin(adminUrl());
    admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
    return QStringLiteral("postgresql://morv@/%1?host=%2%3").arg(name, dir_, portParam());
}

void PgServer::restart() {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("restart"), dir_});
}

void PgServer::crash() {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("crash"), dir_});
}

void PgServer::halt() {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("halt"), dir_});
}

void PgServer::resume() {
    QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("resume"), dir_});
}

QString psqlText(const QString& url, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("psql"), {url, QStringLiteral("-AtX"), QStringLiteral("-c"), sql});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// One table's rows as psql prints them, one JSON object a line, in stored order.
QStringList psqlDump(const QString& url, const QString& table, const QStringList& columns) {
    QProcess p;
    p.start(QStringLiteral("psql"),
            {url, QStringLiteral("-AtX"), QStringLiteral("-c"),
             QStringLiteral("SELECT row_to_json(x) FROM (SELECT %1 FROM %2 ORDER BY id) x")
                 .arg(columns.join(QLatin1Char(',')), table)});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Two readers' rows are the same values: names whatever their case, numbers by value, an empty
// memo whether the reader says null or "".
bool sameRow(const QJsonObject& a, const QJsonObject& b, QString* why) {
    for (auto it = a.begin(); it != a.end(); ++it) {
        const QJsonValue v = b.value(it.key().toLower());
        const QJsonValue u = it.value();
        const bool blankU = u.isNull() || (u.isString() && u.toString().isEmpty());
        const bool blankV = v.isNull() || (v.isString() && v.toString().isEmpty());
        const bool same = (blankU && blankV) ||
                          (u.isDouble() && v.isDouble() && u.toDouble() == v.toDouble()) ||
                          (u.isString() && v.isString() && u.toString() == v.toString());
        if (!same) {
            *why = QStringLiteral("%1: %2 against %3")
                       .arg(it.key(),
                            QString::fromUtf8(
                                QJsonDocument(QJsonObject{{"v", u}}).toJson(QJsonDocument::Compact)),
                            QString::fromUtf8(
                                QJsonDocument(QJsonObject{{"v", v}}).toJson(QJsonDocument::Compact)));
            return false;
        }
    }
    return true;
}

void PgDatabaseTest::SetUp() {
    REQUIRE_PG_SERVER(s);
    server = s;
    pg::PgStore::registerScheme();
    url = server->newDatabase();
}

void PgDatabaseTest::TearDown() {
    db::Aliases::unbind(QStringLiteral("morv"));
}

void PgDatabaseTest::makeSample() {
    QString out;
    ASSERT_EQ(runCommand(QStringLiteral(MORV_DB_TOOL), {QStringLiteral("sample"), url}, &out), 0)
        << out.toStdString();
    db::Aliases::bind(QStringLiteral("morv"), url);
}
