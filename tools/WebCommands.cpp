#include "WebCommands.h"

#include "PgSchema.h"
#include "PgStore.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "results/Archive.h"
#include "services/Sessions.h"
#include "web/HttpServer.h"
#include "web/TestServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <stdexcept>

const char kWebUsage[] = R"(  serve DIR|URL --listen ADDR:PORT
                         run the browser test server of the open sessions of the
                         folder DIR or the server database URL on ADDR:PORT (port 0:
                         one the system picks; the line "listening on
                         http://ADDR:PORT/" says which) until stopped by Ctrl+C or
                         SIGTERM
  session DIR|URL --test N --org N [--testees all|N,N,...] [--group] [--show-score]
                         open a browser testing session of test N for institution N:
                         prints "session ID", one line "TESTEE CODE" per testee,
                         and "group CODE" with --group (testees register themselves
                         in the browser with it); --show-score shows the score at
                         the end
  session DIR|URL --close ID | --reopen ID
                         close a session (its codes stop at once) or open it again
)";

namespace {

class Usage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void out(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString takeValue(QStringList& args, const QString& name) {
    const qsizetype i = args.indexOf(name);
    if (i < 0) return {};
    if (i + 1 >= args.size()) throw Usage(name.toStdString() + " needs a value");
    const QString v = args[i + 1];
    args.remove(i, 2);
    return v;
}

bool takeFlag(QStringList& args, const QString& name) {
    return args.removeAll(name) > 0;
}

int number(const QString& text, const char* what) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n <= 0)
        throw Usage(std::string(what) + " must be a positive whole number, not '" + text.toStdString() + "'");
    return n;
}

QString databaseDir(QStringList& args, const char* command) {
    if (args.isEmpty() || args.first().startsWith(QLatin1Char('-')))
        throw Usage(std::string(command) + " needs DIR");
    if (db::isServerLocation(args.first())) {
        const QString url = args.takeFirst();
        pg::PgStore::registerScheme();
        if (const QString lacks = pg::incompleteDatabase(url, pg::existingTables(url)); !lacks.isEmpty())
            throw std::runtime_error(lacks.toStdString());
        db::Aliases::bind(QStringLiteral("morv"), url);
        return url;
    }
    const QString dir = QFileInfo(args.takeFirst()).absoluteFilePath();
    if (!QFileInfo::exists(QDir(dir).filePath(QStringLiteral("bd_test.DBF"))))
        throw std::runtime_error(dir.toStdString() + " holds no database of the program (no bd_test.DBF)");
    db::Aliases::bind(QStringLiteral("morv"), dir);
    return dir;
}

std::atomic<bool> stopAsked{false};

int run(const std::function<int()>& body) {
    try {
        return body();
    } catch (const Usage& e) {
        std::fprintf(stderr, "morv-db: %s\nmorv-db: run 'morv-db --help' for usage\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morv-db: %s\n", e.what());
        return 1;
    }
}

} // namespace

int serveCommand(const QStringList& arguments) {
    return run([&] {
        QStringList args = arguments;
        const QString dir = databaseDir(args, "serve");
        const QString listen = takeValue(args, QStringLiteral("--listen"));
        if (!args.isEmpty()) throw Usage("serve: unexpected '" + args.first().toStdString() + "'");
        const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0) throw Usage("serve needs --listen ADDR:PORT");
        bool ok = false;
        const uint port = listen.mid(colon + 1).toUInt(&ok);
        if (!ok || port > 65535) throw Usage("serve: bad port in '" + listen.toStdString() + "'");
        QString address = listen.left(colon);
        if (address.startsWith(QLatin1Char('[')) && address.endsWith(QLatin1Char(']')))
            address = address.mid(1, address.size() - 2);

        web::TestServer server(dir, QStringLiteral("morv"));
        web::Limits limits;
        // For the browser tests: a server slowed on purpose, so that what a busy one does is sure.
        limits.replyDelayMs = qEnvironmentVariableIntValue("MORV_TEST_REPLY_DELAY_MS");
        server.start(address, uint16_t(port), limits);
        out(QStringLiteral("listening on http://%1:%2/").arg(listen.left(colon)).arg(server.port()));
        std::signal(SIGINT, [](int) { stopAsked = true; });
        std::signal(SIGTERM, [](int) { stopAsked = true; });
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [] {
            if (stopAsked) QCoreApplication::quit();
        });
        watch.start(100);
        QCoreApplication::exec();
        server.stop();
        out(QStringLiteral("stopped"));
        return 0;
    });
}

int sessionCommand(const QStringList& arguments) {
    return run([&] {
        QStringList args = arguments;
        const QString dir = databaseDir(args, "session");
        const QString close = takeValue(args, QStringLiteral("--close"));
        const QString reopen = takeValue(args, QStringLiteral("--reopen"));
        const QString test = takeValue(args, QStringLiteral("--test"));
        const QString org = takeValue(args, QStringLiteral("--org"));
        const QString testees = takeValue(args, QStringLiteral("--testees"));
        const bool group = takeFlag(args, QStringLiteral("--group"));
        const bool showScore = takeFlag(args, QStringLiteral("--show-score"));
        if (!args.isEmpty()) throw Usage("session: unexpected '" + args.first().toStdString() + "'");
        web::TestServer server(dir, QStringLiteral("morv"));
        if (!close.isEmpty() || !reopen.isEmpty()) {
            const int id = number(close.isEmpty() ? reopen : close, "ID");
            if (!server.sessions().session(id))
                throw std::runtime_error("there is no session " + std::to_string(id));
            if (close.isEmpty())
                server.reopenSession(id);
            else
                server.closeSession(id);
            out(QStringLiteral("session %1 %2")
                    .arg(id)
                    .arg(close.isEmpty() ? QStringLiteral("open") : QStringLiteral("closed")));
            return 0;
        }
        if (test.isEmpty() || org.isEmpty())
            throw Usage("session needs --test N and --org N (or --close ID)");
        const int t = number(test, "--test"), o = number(org, "--org");
        results::Archive archive;
        if (!archive.institution(o)) throw std::runtime_error("there is no institution " + std::to_string(o));
        if (!archive.test(t)) throw std::runtime_error("there is no test " + std::to_string(t));
        std::vector<int> chosen;
        if (testees == QLatin1String("all")) {
            for (const results::Testee& p : archive.testees(o))
                if (p.number > 0) chosen.push_back(p.number);
        } else if (!testees.isEmpty()) {
            for (const QString& part : testees.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const int n = number(part.trimmed(), "a testee number");
                if (!archive.testee(o, n))
                    throw std::runtime_error("institution " + std::to_string(o) + " has no testee " +
                                             std::to_string(n));
                chosen.push_back(n);
            }
        }
        if (chosen.empty() && !group)
            throw Usage("session needs --testees or --group: nobody could take the test");
        const services::Session s = server.openSession(t, o, chosen, group, showScore);
        out(QStringLiteral("session %1").arg(s.id));
        for (const services::CodeEntry& c : server.sessions().codes(s.id))
            out(QStringLiteral("%1 %2").arg(c.testee).arg(c.code));
        if (group) out(QStringLiteral("group %1").arg(s.groupCode));
        return 0;
    });
}
