#include "PgUpgrade.h"

#include "Errors.h"
#include "PgConnection.h"
#include "PgSchema.h"
#include "data/Schema.h"

#include <QMap>

namespace pg {

namespace {

// The grants (role, privilege, grantable) the institutions' table, or its sequence, has and
// table, or its sequence, lacks. A table without grants of its own has its owner's defaults.
Result lacking(Connection& c, const QString& table, bool sequence) {
    const QString of =
        sequence ? QStringLiteral("pg_get_serial_sequence('bd_org', 'id')") : QStringLiteral("'bd_org'");
    const QString to = sequence ? QStringLiteral("pg_get_serial_sequence($1, 'id')") : QStringLiteral("$1");
    return c.exec(
        QStringLiteral(
            "SELECT CASE WHEN a.grantee = 0 THEN 'PUBLIC' ELSE quote_ident(pg_get_userbyid(a.grantee)) END, "
            "a.privilege_type, a.is_grantable FROM pg_class o, aclexplode(o.relacl) a "
            "WHERE o.oid = to_regclass(%1) AND NOT EXISTS (SELECT 1 FROM pg_class t, "
            "aclexplode(coalesce(t.relacl, acldefault('%3', t.relowner))) b WHERE t.oid = to_regclass(%2) "
            "AND b.grantee = a.grantee AND b.privilege_type = a.privilege_type "
            "AND (b.is_grantable OR NOT a.is_grantable)) ORDER BY 1, 2")
            .arg(of, to, sequence ? QStringLiteral("s") : QStringLiteral("r")),
        {ident(table)});
}

// One line a role: "psychologists: SELECT, INSERT on bd_seans"; grant runs the grants too.
QStringList grants(Connection& c, const QString& table, bool grant) {
    QStringList out;
    // Made before the ten (a copy into an empty database): nothing to follow yet.
    if (c.exec(QStringLiteral("SELECT to_regclass('bd_org') IS NULL")).text(0, 0) == QLatin1String("t"))
        return out;
    for (const bool sequence : {false, true}) {
        const Result r = lacking(c, table, sequence);
        const QString target =
            sequence
                ? c.exec(QStringLiteral("SELECT pg_get_serial_sequence($1, 'id')"), {ident(table)}).text(0, 0)
                : ident(table);
        QMap<QString, QStringList> byRole;
        for (int i = 0; i < r.rows(); ++i) {
            const QString role = r.text(i, 0), privilege = r.text(i, 1);
            byRole[role] << privilege;
            if (grant)
                c.exec(QStringLiteral("GRANT %1 ON %2 %3 TO %4%5")
                           .arg(privilege, sequence ? QStringLiteral("SEQUENCE") : QStringLiteral("TABLE"),
                                target, role,
                                r.text(i, 2) == QLatin1String("t") ? QStringLiteral(" WITH GRANT OPTION")
                                                                   : QString()));
        }
        for (auto it = byRole.begin(); it != byRole.end(); ++it)
            out << QStringLiteral("%1: %2 on %3").arg(it.key(), it.value().join(QLatin1String(", ")), target);
    }
    return out;
}

// Makes what of the table's objects the database lacks (the optional tables whole); says what.
void addMissing(Connection& c, const schema::TableDef& def, QStringList& added) {
    const QList<SchemaObject> objects = schemaObjects(def);
    if (!holds(c, objects.front())) {
        for (const SchemaObject& o : objects)
            c.exec(o.sql);
        added << QStringLiteral("table %1 (empty) with its indexes and keys").arg(objects.front().name);
        return;
    }
    static const char* const kinds[] = {"table", "index", "unique key", "function", "change-notice trigger"};
    for (const SchemaObject& o : objects.mid(1)) {
        if (holds(c, o)) continue;
        c.exec(o.sql);
        added << QStringLiteral("%1 %2 on %3").arg(QLatin1String(kinds[o.kind]), o.name, o.table);
    }
}

QString owner(Connection& c, const QString& table) {
    return c
        .exec(QStringLiteral("SELECT pg_get_userbyid(relowner) FROM pg_class WHERE oid = to_regclass($1)"),
              {ident(table)})
        .text(0, 0);
}

} // namespace

QStringList grantAsTheTen(Connection& c, const QString& table) {
    return grants(c, table, true);
}

QStringList missingGrants(Connection& c, const QString& table) {
    return grants(c, table, false);
}

QStringList tablesWithoutNotice(const QString& url) {
    std::vector<const schema::TableDef*> defs = optionalTables();
    for (const auto& t : schema::tables())
        defs.push_back(&t);
    QStringList names;
    for (const schema::TableDef* t : defs)
        for (const SchemaObject& o : schemaObjects(*t))
            if (o.kind == SchemaObject::Trigger) names << o.table;
    // One round trip: the start asks it of every server database.
    const Result r = Connection::shared(url)->exec(
        QStringLiteral(
            "SELECT t FROM unnest(string_to_array($1, ',')) t WHERE to_regclass(t) IS NOT NULL AND "
            "NOT EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = to_regclass(t) AND "
            "tgname = t || '_notify' AND NOT tgisinternal) ORDER BY 1"),
        {names.join(QLatin1Char(','))});
    QStringList out;
    for (int i = 0; i < r.rows(); ++i)
        out << r.text(i, 0);
    return out;
}

UpgradeReport upgradeDatabase(const QString& url) {
    Connection& c = *Connection::shared(url);
    UpgradeReport out;
    c.transaction([&] {
        // Workstations may be writing: wait for their commits rather than give up after two seconds.
        c.exec(QStringLiteral("SET LOCAL lock_timeout = '30s'"));
        lockSchema(c);
        QStringList missing;
        for (const auto& t : schema::tables())
            if (!holds(c, schemaObjects(t).front())) missing << tableName(t);
        // A table of the ten lost (dropped by hand, say) is made anew, empty; a database with
        // none of them is not the program's yet.
        if (missing.size() == qsizetype(schema::tables().size()))
            throw db::DatabaseError(
                QStringLiteral(
                    "%1 lacks all of the program's tables: make them with 'morv-db create' (or copy a "
                    "folder in with 'morv-db migrate'); upgrade only adds to a database that has them")
                    .arg(Connection::safeUrl(url)));
        const SchemaObject notify = notifyFunction();
        if (!holds(c, notify)) {
            c.exec(notify.sql);
            out.added << QStringLiteral("function %1 for the change notices").arg(notify.name);
        }
        for (const auto& t : schema::tables())
            addMissing(c, t, out.added);
        for (const QString& name : missing)
            for (const QString& g : grantAsTheTen(c, name))
                out.added << QStringLiteral("granted %1").arg(g);
        for (const schema::TableDef* def : optionalTables()) {
            addMissing(c, *def, out.added);
            const QString name = tableName(*def);
            const bool canGrant =
                c.exec(QStringLiteral("SELECT pg_has_role(current_user, relowner, 'USAGE') FROM pg_class "
                                      "WHERE oid = to_regclass($1)"),
                       {ident(name)})
                    .text(0, 0) == QLatin1String("t");
            if (canGrant) {
                for (const QString& g : grantAsTheTen(c, name))
                    out.added << QStringLiteral("granted %1").arg(g);
            } else if (const QStringList lacks = missingGrants(c, name); !lacks.isEmpty()) {
                out.warnings << QStringLiteral(
                                    "%1 belongs to the role %2, which alone may grant it (as may a "
                                    "superuser): run upgrade as that role to grant %3")
                                    .arg(name, owner(c, name), lacks.join(QLatin1String("; ")));
            }
        }
    });
    return out;
}

} // namespace pg
