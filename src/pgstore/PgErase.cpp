// A testee erased from a server database: every row with the institution and testee numbers, in
// every table of the database that has both columns, in one transaction, all or none.
#include "PgErase.h"

#include "PgConnection.h"
#include "data/Erasure.h"

namespace pg {

namespace {

schema::TesteeRows eraseTestee(const QString& url, int org, int testee, bool erase) {
    Connection& c = *Connection::shared(url);
    schema::TesteeRows rows;
    c.transaction([&] {
        // A row in edit on a workstation holds its lock: wait for the edit a while, then say so.
        c.exec(QStringLiteral("SET LOCAL lock_timeout = '10s'"));
        // The testee's own row last, as in a folder.
        const Result tables = c.exec(QStringLiteral(
            "SELECT c.relname FROM pg_class c WHERE c.relnamespace = current_schema()::regnamespace AND "
            "c.relkind IN ('r', 'p') AND (SELECT count(*) FROM pg_attribute a WHERE a.attrelid = c.oid AND "
            "a.attname IN ('nomu', 'nomtestir') AND a.attnum > 0 AND NOT a.attisdropped) = 2 "
            "ORDER BY c.relname = 'bd_anket', c.relname"));
        for (int i = 0; i < tables.rows(); ++i) {
            const QString table = tables.text(i, 0);
            const QString where = QStringLiteral("%1 WHERE nomu = $1 AND nomtestir = $2").arg(ident(table));
            const QString sql =
                erase ? QStringLiteral("WITH gone AS (DELETE FROM %1 RETURNING 1) SELECT count(*) FROM gone")
                            .arg(where)
                      : QStringLiteral("SELECT count(*) FROM %1").arg(where);
            const Result n = c.exec(sql, {QString::number(org), QString::number(testee)});
            rows.tables.push_back({table.toStdString(), uint32_t(n.text(0, 0).toUInt())});
        }
    });
    return rows;
}

} // namespace

void registerEraser() {
    schema::registerServerEraser(&eraseTestee);
}

} // namespace pg
