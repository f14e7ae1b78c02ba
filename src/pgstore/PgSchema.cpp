#include "PgSchema.h"

#include "Errors.h"
#include "PgConnection.h"
#include "PgNotify.h"
#include "PgUpgrade.h"
#include "data/Schema.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace pg {

QString tableName(const schema::TableDef& t) {
    return QFileInfo(QLatin1String(t.file)).completeBaseName().toLower();
}

std::vector<const schema::TableDef*> optionalTables() {
    return {&schema::sessionsTable(), &schema::codesTable(), &schema::devicesTable(), &schema::norms(),
            &schema::irtBank()};
}

namespace {

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
    if (table == QLatin1String("bd_kod") || table == QLatin1String("bd_ustr"))
        return {QStringLiteral("nomseans, nomu, nomtestir")};
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

QList<SchemaObject> keyObjects(const schema::TableDef& t) {
    QList<SchemaObject> out;
    const QString name = tableName(t);
    int k = 0;
    for (const QString& key : searchKeys(name)) {
        const QString index = QStringLiteral("%1_search%2").arg(name).arg(++k);
        out.append({SchemaObject::Index, name, index,
                    QStringLiteral("CREATE INDEX %1 ON %2 (%3)").arg(index, name, key)});
    }
    for (const auto& tag : t.tags) {
        const QStringList fields = keyFields(QString::fromStdString(tag.expr), t);
        if (fields.isEmpty()) continue;
        const QString index = name + QLatin1Char('_') + QString::fromStdString(tag.name).toLower();
        out.append({SchemaObject::Index, name, index,
                    QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                        .arg(index, name, fields.join(QLatin1String(", ")).toLower())});
    }
    int n = 0;
    for (const QString& key : uniqueKeys(name)) {
        const QString constraint = QStringLiteral("%1_unique%2").arg(name).arg(++n);
        out.append(
            {SchemaObject::Unique, name, constraint,
             QStringLiteral("ALTER TABLE %1 ADD CONSTRAINT %2 UNIQUE (%3)").arg(name, constraint, key)});
    }
    return out;
}

QStringList keyStatements(const schema::TableDef& t) {
    QStringList out;
    for (const SchemaObject& o : keyObjects(t))
        out << o.sql;
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
    return pg::holds(c, SchemaObject{SchemaObject::Table, table, table, {}});
}
} // namespace

namespace {
// Every committed change of a table tells the other workstations its name, so that their lists
// show it by themselves. Not the answers: a click must not queue behind other commits' notices,
// and no list shows other workstations' answers.
bool notifies(const QString& table) {
    if (table == QLatin1String("bd_rezult")) return false;
    for (const auto& t : schema::tables())
        if (tableName(t) == table) return true;
    // The sessions' window, the codes and the norms window show the others' changes too.
    for (const schema::TableDef* t : optionalTables())
        if (tableName(*t) == table) return true;
    return false;
}

QStringList notifyStatements() {
    QStringList out{notifyFunction().sql};
    for (const auto& t : schema::tables())
        for (const SchemaObject& o : schemaObjects(t))
            if (o.kind == SchemaObject::Trigger) out << o.sql;
    return out;
}
} // namespace

SchemaObject notifyFunction() {
    return {SchemaObject::Function,
            {},
            QStringLiteral("morv_notify"),
            QStringLiteral("CREATE OR REPLACE FUNCTION morv_notify() RETURNS trigger LANGUAGE plpgsql "
                           "AS $$BEGIN PERFORM pg_notify('%1', TG_TABLE_NAME); RETURN NULL; END$$")
                .arg(QLatin1String(kChangesChannel))};
}

QList<SchemaObject> schemaObjects(const schema::TableDef& def) {
    const QString name = tableName(def);
    QList<SchemaObject> out{{SchemaObject::Table, name, name, tableStatement(def, false)}};
    out += keyObjects(def);
    if (notifies(name))
        out.append(
            {SchemaObject::Trigger, name, name + QStringLiteral("_notify"),
             QStringLiteral("CREATE TRIGGER %1_notify AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON %1 "
                            "FOR EACH STATEMENT EXECUTE FUNCTION morv_notify()")
                 .arg(name)});
    return out;
}

bool holds(Connection& c, const SchemaObject& o) {
    // pg_catalog rather than information_schema: a table this role may not read is there all the same.
    static const QString here =
        QStringLiteral("(SELECT oid FROM pg_namespace WHERE nspname = current_schema())");
    QString sql;
    switch (o.kind) {
    case SchemaObject::Table:
    case SchemaObject::Index:
        sql = QStringLiteral(
                  "SELECT 1 FROM pg_class WHERE relname = $1 AND relnamespace = %1 AND relkind IN %2")
                  .arg(here, o.kind == SchemaObject::Table ? QStringLiteral("('r', 'p')")
                                                           : QStringLiteral("('i', 'I')"));
        break;
    case SchemaObject::Unique:
        sql = QStringLiteral("SELECT 1 FROM pg_constraint WHERE conrelid = to_regclass($1) AND conname = $2");
        break;
    case SchemaObject::Function:
        sql = QStringLiteral("SELECT 1 FROM pg_proc WHERE proname = $1 AND pronamespace = %1").arg(here);
        break;
    case SchemaObject::Trigger:
        sql = QStringLiteral(
            "SELECT 1 FROM pg_trigger WHERE tgrelid = to_regclass($1) AND tgname = $2 AND NOT tgisinternal");
        break;
    }
    const bool ofTable = o.kind == SchemaObject::Unique || o.kind == SchemaObject::Trigger;
    return c.exec(sql, ofTable ? std::vector<Param>{ident(o.table), o.name} : std::vector<Param>{o.name})
               .rows() > 0;
}

void lockSchema(Connection& c) {
    c.exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('morv: make a table'))"));
}

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

QStringList missingTables(const QStringList& existing) {
    QStringList out;
    for (const auto& t : schema::tables())
        if (!existing.contains(tableName(t))) out << tableName(t);
    return out;
}

QString incompleteDatabase(const QString& url, const QStringList& existing) {
    const QStringList missing = missingTables(existing);
    const QString shown = Connection::safeUrl(url);
    if (missing.isEmpty()) return {};
    if (existing.isEmpty())
        return QStringLiteral("%1 holds no database of the program: run 'morv-db create %1' for it (or "
                              "'morv-db migrate DIR %1' to bring a folder's)")
            .arg(shown);
    return QStringLiteral("%1 lacks the program's %2 %3: 'morv-db upgrade %1' makes %4 anew, empty, and "
                          "keeps every row of the other tables")
        .arg(shown, missing.size() == 1 ? QStringLiteral("table") : QStringLiteral("tables"),
             missing.join(QLatin1String(", ")),
             missing.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
}

void createDatabase(const QString& url, bool force, bool keys) {
    Connection& c = *Connection::shared(url);
    c.transaction([&] {
        for (const auto& t : schema::tables()) {
            if (force) c.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(tableName(t)));
        }
        for (const QString& s : keys ? createStatements() : tableStatements())
            c.exec(s);
        if (!keys) return; // a copy makes them after its rows
        for (const schema::TableDef* def : optionalTables()) {
            if (force) c.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(tableName(*def)));
            pg::ensureTable(url, *def);
        }
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

void createPlainTable(const QString& url, const schema::TableDef& def, bool force) {
    Connection& c = *Connection::shared(url);
    dropOptionalTable(url, def, force);
    c.exec(tableStatement(def, false));
    grantAsTheTen(c, tableName(def));
}

std::vector<dbf::FieldDef> fieldsOf(const QString& url, const QString& table) {
    const Result r = Connection::shared(url)->exec(
        QStringLiteral("SELECT a.attname, t.typname, a.atttypmod FROM pg_attribute a JOIN pg_type t ON "
                       "t.oid = a.atttypid WHERE a.attrelid = to_regclass($1) AND a.attnum > 0 AND NOT "
                       "a.attisdropped AND a.attname <> 'id' ORDER BY a.attnum"),
        {ident(table)});
    std::vector<dbf::FieldDef> out;
    for (int i = 0; i < r.rows(); ++i) {
        const QString type = r.text(i, 1);
        const int mod = r.text(i, 2).toInt() - 4; // varchar and numeric keep their size past 4
        dbf::FieldDef f{r.text(i, 0).toUpper().toStdString(), 'N', 20, 4};
        if (type == QLatin1String("varchar") || type == QLatin1String("bpchar"))
            f.type = 'C', f.length = uint8_t(mod > 0 && mod <= 254 ? mod : 254), f.decimals = 0;
        else if (type == QLatin1String("text"))
            f.type = 'M', f.length = 10, f.decimals = 0;
        else if (type == QLatin1String("date"))
            f.type = 'D', f.length = 8, f.decimals = 0;
        else if (type == QLatin1String("bool"))
            f.type = 'L', f.length = 1, f.decimals = 0;
        else if (type == QLatin1String("numeric") && mod > 0)
            f.length = uint8_t(std::min((mod >> 16) & 0xFFFF, 20)), f.decimals = uint8_t(mod & 0xFFFF);
        else if (type == QLatin1String("int2") || type == QLatin1String("int4") ||
                 type == QLatin1String("int8"))
            f.length = type == QLatin1String("int2") ? 6 : 11, f.decimals = 0;
        out.push_back(f);
    }
    return out;
}

void ensureTable(const QString& url, const schema::TableDef& def) {
    const QString name = tableName(def);
    Connection& c = *Connection::shared(url);
    auto present = [&] { return holds(c, name); };
    if (present()) return;
    // Workstations making it at once take turns; the later ones find it made, keys and all.
    c.transaction([&] {
        lockSchema(c);
        if (present()) return;
        c.exec(tableStatement(def, true));
        // Its keys and change notice; the notices' function too, in a database older than them.
        const QList<SchemaObject> objects = schemaObjects(def);
        if (std::any_of(objects.begin(), objects.end(),
                        [](const SchemaObject& o) { return o.kind == SchemaObject::Trigger; }) &&
            !pg::holds(c, notifyFunction()))
            c.exec(notifyFunction().sql);
        for (const SchemaObject& o : objects.mid(1))
            c.exec(o.sql);
        // Made by whoever needs it first: without the ten's grants the other roles could not reach it.
        grantAsTheTen(c, name);
    });
}

} // namespace pg
