#include "PgSchema.h"

#include "Errors.h"
#include "PgConnection.h"
#include "PgNotify.h"
#include "data/Schema.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace pg {

namespace {
QString tableName(const schema::TableDef& t) {
    return QFileInfo(QLatin1String(t.file)).completeBaseName().toLower();
}

QString columnType(const dbf::FieldDef& f) {
    switch (f.type) {
    case 'C':
        return QStringLiteral("varchar(%1) NOT NULL DEFAULT ''").arg(f.length);
    case 'D':
        return QStringLiteral("date");
    case 'M':
        return QStringLiteral("text NOT NULL DEFAULT ''");
    case 'L':
        return QStringLiteral("boolean");
    default:
        return QStringLiteral("numeric(%1,%2)").arg(f.length).arg(f.decimals);
    }
}

// The fields a tag's key expression names, e.g. STR(NOMU,10)+STR(NOMTESTIR,10) gives NOMU, NOMTESTIR.
QStringList keyFields(const QString& expr, const schema::TableDef& t) {
    QStringList out;
    static const QRegularExpression word(QStringLiteral("[A-Za-z_][A-Za-z0-9_]*"));
    for (auto it = word.globalMatch(expr); it.hasNext();) {
        const QString w = it.next().captured().toUpper();
        for (const auto& f : t.fields)
            if (QString::fromStdString(f.name) == w && !out.contains(w)) out << w;
    }
    return out;
}

// Keys no two rows may share, as the program numbers and finds them.
QStringList uniqueKeys(const QString& table) {
    if (table == QLatin1String("bd_org")) return {QStringLiteral("nom_org")};
    if (table == QLatin1String("bd_anket")) return {QStringLiteral("nomu, nomtestir")};
    if (table == QLatin1String("bd_rezult")) return {QStringLiteral("nomu, nomtestir, nomtesta, nomvopr")};
    if (table == QLatin1String("bd_seans")) return {QStringLiteral("nomseans")};
    if (table == QLatin1String("bd_kod")) return {QStringLiteral("nomseans, nomu, nomtestir")};
    return {};
}

QString tableStatement(const schema::TableDef& t, bool ifMissing) {
    QStringList cols{QStringLiteral("id serial PRIMARY KEY")};
    for (const auto& f : t.fields)
        cols << QStringLiteral("%1 %2").arg(QString::fromStdString(f.name).toLower(), columnType(f));
    return QStringLiteral("CREATE TABLE %1%2 (%3)")
        .arg(ifMissing ? QStringLiteral("IF NOT EXISTS ") : QString(), tableName(t),
             cols.join(QLatin1String(", ")));
}

// The fields a run's scoring and the windows narrow these tables by, which a folder reads whole:
// a server would scan the table for each.
QStringList searchKeys(const QString& table) {
    if (table == QLatin1String("bd_rez")) return {QStringLiteral("nomu, nomtestir, nomtesta")};
    if (table == QLatin1String("bd_vopros")) return {QStringLiteral("ntest")};
    if (table == QLatin1String("bd_summa")) return {QStringLiteral("nomtesta")};
    if (table == QLatin1String("bd_otvet")) return {QStringLiteral("nomotv")};
    return {};
}

QStringList keyStatements(const schema::TableDef& t) {
    QStringList out;
    const QString name = tableName(t);
    int k = 0;
    for (const QString& key : searchKeys(name))
        out << QStringLiteral("CREATE INDEX IF NOT EXISTS %1_search%2 ON %1 (%3)")
                   .arg(name)
                   .arg(++k)
                   .arg(key);
    for (const auto& tag : t.tags) {
        const QStringList fields = keyFields(QString::fromStdString(tag.expr), t);
        if (fields.isEmpty()) continue;
        out << QStringLiteral("CREATE INDEX %1_%2 ON %1 (%3)")
                   .arg(name, QString::fromStdString(tag.name).toLower(),
                        fields.join(QLatin1String(", ")).toLower());
    }
    int n = 0;
    for (const QString& key : uniqueKeys(name))
        out << QStringLiteral("ALTER TABLE %1 ADD CONSTRAINT %1_unique%2 UNIQUE (%3)")
                   .arg(name)
                   .arg(++n)
                   .arg(key);
    return out;
}

QStringList tableStatements() {
    QStringList out;
    for (const auto& t : schema::tables())
        out << tableStatement(t, false);
    return out;
}

QStringList keyStatements() {
    QStringList out;
    for (const auto& t : schema::tables())
        out << keyStatements(t);
    return out;
}
bool holds(Connection& c, const QString& table) {
    return c.exec(QStringLiteral("SELECT 1 FROM information_schema.tables WHERE table_schema = "
                                 "current_schema() AND table_name = $1"),
                  {table})
               .rows() > 0;
}
} // namespace

namespace {
// Every committed change of a table tells the other workstations its name, so that their lists
// show it by themselves. Not the answers: a click must not queue behind other commits' notices,
// and no list shows other workstations' answers.
QStringList notifyStatements() {
    QStringList out{
        QStringLiteral("CREATE OR REPLACE FUNCTION morv_notify() RETURNS trigger LANGUAGE plpgsql "
                       "AS $$BEGIN PERFORM pg_notify('%1', TG_TABLE_NAME); RETURN NULL; END$$")
            .arg(QLatin1String(kChangesChannel))};
    for (const auto& t : schema::tables()) {
        const QString name = tableName(t);
        if (name == QLatin1String("bd_rezult")) continue;
        out << QStringLiteral("CREATE TRIGGER %1_notify AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON %1 "
                              "FOR EACH STATEMENT EXECUTE FUNCTION morv_notify()")
                   .arg(name);
    }
    return out;
}
} // namespace

QStringList createStatements() {
    return tableStatements() + keyStatements() + notifyStatements();
}

QStringList existingTables(const QString& url) {
    Connection& c = *Connection::shared(url); // inside a caller's transaction, when there is one
    QStringList names;
    for (const auto& t : schema::tables())
        names << tableName(t);
    Result r =
        c.exec(QStringLiteral("SELECT table_name FROM information_schema.tables WHERE table_schema = "
                              "current_schema() AND table_name = ANY(string_to_array($1, ',')) ORDER BY 1"),
               {names.join(QLatin1Char(','))});
    QStringList out;
    for (int i = 0; i < r.rows(); ++i)
        out << r.text(i, 0);
    return out;
}

void createDatabase(const QString& url, bool force, bool keys) {
    Connection& c = *Connection::shared(url);
    c.transaction([&] {
        for (const auto& t : schema::tables()) {
            if (force) c.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(tableName(t)));
        }
        for (const QString& s : keys ? createStatements() : tableStatements())
            c.exec(s);
    });
}

void createKeys(const QString& url) {
    Connection& c = *Connection::shared(url);
    c.transaction([&] {
        for (const QString& s : keyStatements() + notifyStatements())
            c.exec(s);
    });
}

void dropOptionalTable(const QString& url, const schema::TableDef& def, bool force) {
    const QString name = tableName(def);
    Connection& c = *Connection::shared(url);
    if (force) {
        c.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(name));
        return;
    }
    if (holds(c, name))
        throw db::DatabaseError(QStringLiteral("%1 already holds the table %2; --force replaces it")
                                    .arg(Connection::safeUrl(url), name));
}

void ensureTable(const QString& url, const schema::TableDef& def) {
    const QString name = tableName(def);
    Connection& c = *Connection::shared(url);
    auto present = [&] { return holds(c, name); };
    if (present()) return;
    // Workstations making it at once take turns; the later ones find it made, keys and all.
    c.transaction([&] {
        c.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('morv: make a table'))"));
        if (present()) return;
        c.exec(tableStatement(def, true));
        for (const QString& s : keyStatements(def))
            c.exec(s);
    });
}

} // namespace pg
