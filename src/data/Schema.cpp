#include "Schema.h"

#include "Errors.h"
#include "dataset/RecordStore.h"
#include "dataset/ServerTables.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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

const TableDef& norms() {
    static const TableDef def{"bd_norm.dbf",
                              {S("NOMTESTA"), S("KRIT"), C("POL", 1), S("VOZROT"), S("VOZRDO"), F("SRED"),
                               F("SIGMA"), F("BALL"), F("PROC"), F("KOLVO")},
                              {tag("NORM", "STR(NOMTESTA,6)+STR(KRIT,6)")}};
    return def;
}

const TableDef& licenceTable() {
    static const TableDef def{
        "bd_licen.dbf",
        {S("NOMTESTA"), C("AVTOR", 200), C("ISTOCH", 200), C("USLOV", 200), S("ZAPRET")},
        {tag("LICEN", "STR(NOMTESTA,6)")}};
    return def;
}

const TableDef& irtBank() {
    // Eight decimals: four would round the estimates more than their precision warrants.
    const auto P = [](const char* n) { return dbf::FieldDef{n, 'N', 20, 8}; };
    static const TableDef def{"bd_irt.dbf",
                              {S("NOMTESTA"), S("KRIT"), S("NOMVOPR"), C("MODEL", 5), S("POROG"), P("DISKR"),
                               P("DISKRSE"), P("TRUD"), P("TRUDSE"), F("BALL0"), F("BALL"), F("KOLVO"),
                               D("DATA")},
                              {tag("IRT", "STR(NOMTESTA,6)+STR(KRIT,6)")}};
    return def;
}

namespace {
ServerTableMaker& serverMaker() {
    static ServerTableMaker maker;
    return maker;
}
QString serverName(const TableDef& def) {
    return QFileInfo(QLatin1String(def.file)).completeBaseName().toLower();
}
} // namespace

void registerServerTableMaker(ServerTableMaker maker) {
    serverMaker() = std::move(maker);
}

bool hasTable(const QString& dir, const TableDef& def) {
    if (db::isServerLocation(dir)) return db::serverTables(dir).contains(serverName(def));
    return QFileInfo::exists(QDir(dir).filePath(QLatin1String(def.file)));
}

QString ensureTable(const QString& dir, const TableDef& def) {
    if (db::isServerLocation(dir)) {
        if (!serverMaker())
            throw db::DatabaseError(
                QStringLiteral("This program cannot make table %1 on the database server: it was "
                               "built without the client of that server")
                    .arg(serverName(def)));
        serverMaker()(dir, def);
        return QLatin1String(def.file);
    }
    const QString path = QDir(dir).filePath(QLatin1String(def.file));
    if (QFileInfo::exists(path)) return path;
    auto make = [&] {
        if (QFileInfo::exists(path)) return; // another workstation was first
        QTemporaryDir tmp(QDir(dir).filePath(QStringLiteral(".make-XXXXXX")));
        if (!tmp.isValid())
            throw db::DatabaseError(QStringLiteral("Не удалось создать таблицу %1: %2")
                                        .arg(QDir::toNativeSeparators(path), tmp.errorString()));
        const QString made = tmp.filePath(QLatin1String(def.file));
        dbf::DbfFile::create(made.toStdString(), def.fields);
        QStringList moves;
        if (!def.tags.empty()) {
            dbf::DbfFile::createIndex(made.toStdString(), def.tags);
            moves << QString::fromStdString(dbf::DbfFile::indexPathFor(made.toStdString()));
        }
        moves << made;
        for (const QString& from : moves) {
            const QString to = QDir(dir).filePath(QFileInfo(from).fileName());
            QFile::remove(to); // an index left by an earlier attempt that stopped half-way
            if (!QFile::rename(from, to))
                throw db::DatabaseError(
                    QStringLiteral("Не удалось создать таблицу %1.").arg(QDir::toNativeSeparators(to)));
        }
    };
    const QString lockFile = QDir(dir).filePath(QStringLiteral("bd_test.DBF"));
    if (QFileInfo::exists(lockFile))
        dbf::DbfFile::openWithoutIndex(lockFile.toStdString())->underAppendLock(make);
    else
        make();
    return path;
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

const TableDef& devicesTable() {
    static const TableDef def = {
        "bd_ustr.dbf", {S("NOMSEANS"), F("NOMU"), F("NOMTESTIR"), C("USTR", 32)}, {tag("USTR", "USTR")}};
    return def;
}

} // namespace schema
