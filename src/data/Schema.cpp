#include "Schema.h"

#include "Errors.h"
#include "dbf/FileLock.h"
#include "dbf/Os.h"

#include <QDir>
#include <QTemporaryDir>
#include <fcntl.h>

namespace schema {

namespace {
// Column widths: smallint N(6,0), float N(20,4), date D, memo M, string n C(n).
dbf::FieldDef S(const char* n) {
    return {n, 'N', 6, 0};
}
dbf::FieldDef F(const char* n) {
    return {n, 'N', 20, 4};
}
dbf::FieldDef C(const char* n, int len) {
    return {n, 'C', uint8_t(len), 0};
}
dbf::FieldDef D(const char* n) {
    return {n, 'D', 8, 0};
}
dbf::FieldDef M(const char* n) {
    return {n, 'M', 10, 0};
}
dbf::TagSpec tag(const char* name, const char* expr) {
    return {name, expr, "", false, false};
}
} // namespace

const std::vector<TableDef>& tables() {
    static const std::vector<TableDef> defs = {
        {"bd_test.DBF",
         {S("TIP"), S("NTEST"), C("NAME", 80), S("KOLKRIT"), M("XARAKT")},
         {tag("NTEST", "NTEST")}},
        {"bd_sprav.dbf", {S("SPRAV"), S("KOD"), C("TEXT", 200)}, {tag("SPRAV", "SPRAV")}},
        {"bd_vopros.DBF", {S("NTEST"), S("NVOPR"), C("TEXTV", 200), S("NOTV"), S("KOL")}, {}},
        {"bd_otvet.dbf", {S("NOMOTV"), C("OTVET", 200), S("BOTVET")}, {}},
        {"bd_org.dbf",
         {F("NOM_ORG"), S("TIPU"), C("NAMEU", 50), C("PODRU", 30), F("RESP"), F("NPUNKT")},
         {tag("NOM_ORG", "NOM_ORG")}},
        {"bd_anket.dbf",
         {F("NOMTESTIR"), F("NOMU"), C("FAMTESTIR", 15), C("NAMETESTIR", 15), C("OTCHTESTIR", 20),
          C("POLTESTIR", 1), S("GRTESTIR"), S("OBRTESTIR")},
         {tag("NOMU", "NOMU")}},
        // The answer rows of one testee and test, as the testing window finds them.
        {"bd_rezult.dbf",
         {F("NOMU"), F("NOMTESTIR"), D("DATA"), S("NOMTESTA"), S("NOMVOPR"), S("OTVET")},
         {tag("ANSWER", "STR(NOMU,10)+STR(NOMTESTIR,10)+STR(NOMTESTA,6)")}},
        // The levels of one criterion of one test, as scoring finds them.
        {"bd_analiz.dbf",
         {S("NOMTESTA"), S("KRIT"), C("UROV", 80), F("MIN"), F("MAX"), M("TEXT")},
         {tag("KRIT", "STR(NOMTESTA,6)+STR(KRIT,6)")}},
        {"bd_summa.dbf", {S("NOMTESTA"), S("KRIT"), S("SUMVOPR")}, {}},
        {"bd_rez.dbf", {F("NOMU"), F("NOMTESTIR"), D("DATA"), S("NOMTESTA"), S("KRIT"), F("BALL")}, {}},
    };
    return defs;
}

const TableDef* find(const QString& file) {
    for (const auto& t : tables())
        if (file.compare(QLatin1String(t.file), Qt::CaseInsensitive) == 0) return &t;
    return nullptr;
}

void createDatabase(const QString& dir, bool indexes) {
    QDir().mkpath(dir);
    for (const auto& t : tables())
        dbf::DbfFile::create(QDir(dir).filePath(QLatin1String(t.file)).toStdString(), t.fields);
    if (indexes) createIndexes(dir);
}

void createIndexes(const QString& dir) {
    for (const auto& t : tables())
        if (!t.tags.empty())
            dbf::DbfFile::createIndex(QDir(dir).filePath(QLatin1String(t.file)).toStdString(), t.tags);
}

const TableDef& sessionsTable() {
    static const TableDef def = {
        "bd_seans.dbf",
        {S("NOMSEANS"), S("NOMTESTA"), F("NOMU"), C("GRKOD", 6), S("OTKR"), S("POKBALL"), D("DATA")},
        {tag("NOMSEANS", "NOMSEANS")}};
    return def;
}

const TableDef& codesTable() {
    static const TableDef def = {
        "bd_kod.dbf", {S("NOMSEANS"), F("NOMU"), F("NOMTESTIR"), C("KOD", 6)}, {tag("KOD", "KOD")}};
    return def;
}

void ensureTable(const QString& dir, const TableDef& def) {
    const QDir folder(dir);
    const std::string target = folder.filePath(QLatin1String(def.file)).toStdString();
    if (dbf::os::exists(target)) return;
    const std::string lockPath = folder.filePath(QStringLiteral("bd_test.DBF")).toStdString();
    const int lockFd = dbf::os::open(lockPath, O_RDWR);
    if (lockFd < 0)
        throw db::DatabaseError(QStringLiteral("Cannot create %1: %2 cannot be opened (%3)")
                                    .arg(QLatin1String(def.file), QString::fromStdString(lockPath),
                                         QString::fromStdString(dbf::os::reason(errno))));
    struct Closer {
        int fd;
        ~Closer() { dbf::os::close(fd); }
    } closer{lockFd};
    dbf::FileLock lock(lockFd, dbf::kAppendLockOffset);
    if (dbf::os::exists(target)) return; // another workstation made it meanwhile
    QTemporaryDir scratch(folder.filePath(QStringLiteral(".new-XXXXXX")));
    if (!scratch.isValid())
        throw db::DatabaseError(QStringLiteral("Cannot create %1 in %2: %3")
                                    .arg(QLatin1String(def.file), dir, scratch.errorString()));
    const std::string made = QDir(scratch.path()).filePath(QLatin1String(def.file)).toStdString();
    dbf::DbfFile::create(made, def.fields);
    if (!def.tags.empty()) {
        dbf::DbfFile::createIndex(made, def.tags);
        // The index goes first: a table is never seen without the index its header promises.
        const std::string index = dbf::DbfFile::indexPathFor(made);
        const std::string placed =
            QDir(dir).filePath(QString::fromStdString(index.substr(index.rfind('/') + 1))).toStdString();
        if (std::rename(index.c_str(), placed.c_str()) != 0)
            throw db::DatabaseError(
                QStringLiteral("Cannot create %1: %2")
                    .arg(QString::fromStdString(placed), QString::fromStdString(dbf::os::reason(errno))));
    }
    if (std::rename(made.c_str(), target.c_str()) != 0)
        throw db::DatabaseError(
            QStringLiteral("Cannot create %1: %2")
                .arg(QString::fromStdString(target), QString::fromStdString(dbf::os::reason(errno))));
}

} // namespace schema
