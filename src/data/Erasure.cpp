#include "Erasure.h"

#include "Errors.h"
#include "dataset/RecordStore.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cmath>
#include <memory>

namespace schema {

namespace {

// The tables of dir with testees' rows, the testees' own table last: were an interrupted
// erasure left half done, the person is still there to erase again.
std::vector<std::string> testeeTables(const QString& dir) {
    std::vector<std::string> paths;
    std::string anket;
    const QStringList files = QDir(dir).entryList({QStringLiteral("*.dbf")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        const std::string path = QDir(dir).filePath(name).toStdString();
        // A table that cannot be read stops the erasure: it may hold the person's rows.
        const std::shared_ptr<dbf::DbfFile> f = dbf::DbfFile::openShared(path, true);
        if (f->fieldIndex("NOMU") < 0 || f->fieldIndex("NOMTESTIR") < 0) continue;
        if (name.compare(QLatin1String("bd_anket.dbf"), Qt::CaseInsensitive) == 0)
            anket = path;
        else
            paths.push_back(path);
    }
    if (!anket.empty()) paths.push_back(anket);
    return paths;
}

// Numbers are stored as floats and read as whole numbers, rounded.
bool isTestee(const dbf::DbfFile& f, uint32_t rec, int org, int testee) {
    double u = 0, t = 0;
    return f.readNumber(rec, f.fieldIndex("NOMU"), u) && f.readNumber(rec, f.fieldIndex("NOMTESTIR"), t) &&
           std::llround(u) == org && std::llround(t) == testee;
}

std::vector<dbf::EraseRequest> requests(const QString& dir, int org, int testee) {
    std::vector<dbf::EraseRequest> out;
    for (const std::string& path : testeeTables(dir))
        out.push_back({path, [org, testee](const dbf::DbfFile& f, uint32_t rec) {
                           return isTestee(f, rec, org, testee);
                       }});
    return out;
}

QString appendLog(const QString& dir, const QString& line) {
    QFile log(QDir(dir).filePath(QLatin1String(kErasureLog)));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return QStringLiteral("Cannot write %1: %2").arg(log.fileName(), log.errorString());
    const QByteArray bytes =
        (QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char('\t') + line + QLatin1Char('\n'))
            .toUtf8();
    if (log.write(bytes) != bytes.size() || !log.flush())
        return QStringLiteral("Cannot write %1: %2").arg(log.fileName(), log.errorString());
    // Synced through a descriptor of our own: a sync reaches the file, whoever opened it.
    const int fd = dbf::os::open(log.fileName().toStdString(), O_WRONLY);
    const bool synced = fd >= 0 && dbf::os::sync(fd) == 0;
    const int err = errno;
    if (fd >= 0) dbf::os::close(fd);
    if (!synced)
        return QStringLiteral("Cannot write %1: %2")
            .arg(log.fileName(), QString::fromStdString(dbf::os::reason(err)));
    return {};
}

QString fileOf(const std::string& path) {
    return QString::fromStdString(path.substr(path.find_last_of('/') + 1));
}

ServerEraser& serverEraser() {
    static ServerEraser eraser;
    return eraser;
}

TesteeRows onServer(const QString& url, int org, int testee, bool erase) {
    if (!serverEraser())
        throw db::DatabaseError(QStringLiteral("This program cannot erase on the database server: it was "
                                               "built without the client of that server"));
    return serverEraser()(url, org, testee, erase);
}

} // namespace

void registerServerEraser(ServerEraser eraser) {
    serverEraser() = std::move(eraser);
}

uint32_t TesteeRows::total() const {
    uint32_t n = 0;
    for (const auto& t : tables)
        n += t.removed;
    return n;
}

QString TesteeRows::summary() const {
    QStringList parts;
    for (const auto& t : tables)
        parts << QStringLiteral("%1 %2").arg(fileOf(t.path)).arg(t.removed);
    return parts.join(QStringLiteral(", "));
}

QString TesteeRows::describe() const {
    QStringList parts;
    for (const auto& t : tables) {
        if (t.removed == 0) continue;
        const QString file = fileOf(t.path);
        auto is = [&](const char* name) {
            return file.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
        };
        const QString what = is("bd_rezult.dbf") ? QStringLiteral("ответы на вопросы")
                             : is("bd_rez.dbf") ? QStringLiteral("результаты (баллы по критериям)")
                             : is("bd_anket.dbf") ? QStringLiteral("анкета тестируемого")
                             : is("bd_kod.dbf") ? QStringLiteral("коды для тестирования в браузере")
                                                : QStringLiteral("другие записи (таблица %1)").arg(file);
        parts << QStringLiteral("%1 — %2").arg(what).arg(t.removed);
    }
    return parts.join(QLatin1Char('\n'));
}

TesteeRows countTestee(const QString& dir, int org, int testee) {
    if (db::isServerLocation(dir)) return onServer(dir, org, testee, false);
    TesteeRows rows;
    for (const auto& r : requests(dir, org, testee)) {
        auto f = dbf::DbfFile::openShared(r.path);
        f->refresh();
        dbf::EraseCount c{r.path, 0};
        for (uint32_t rec = 0; rec < f->recordCount(); ++rec)
            c.removed += r.match(*f, rec);
        rows.tables.push_back(c);
    }
    return rows;
}

ErasureDone eraseTestee(const QString& dir, int org, int testee) {
    ErasureDone done;
    if (db::isServerLocation(dir)) {
        done.rows = onServer(dir, org, testee, true);
        return done;
    }
    finishErasure(dir);
    done.rows.tables = dbf::eraseRecords(QDir(dir).absolutePath().toStdString(), requests(dir, org, testee));
    if (done.rows.total() == 0) return done; // nothing happened, so nothing to log
    done.logError = appendLog(
        dir,
        QStringLiteral("erased institution %1 testee %2: %3").arg(org).arg(testee).arg(done.rows.summary()));
    return done;
}

QString finishErasure(const QString& dir) {
    const QString done = QString::fromStdString(dbf::finishErasure(QDir(dir).absolutePath().toStdString()));
    if (!done.isEmpty()) appendLog(dir, done);
    return done;
}

} // namespace schema
