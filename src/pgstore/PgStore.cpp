#include "PgStore.h"

#include "Errors.h"
#include "PgColumnScan.h"
#include "PgErase.h"
#include "PgNotify.h"
#include "PgSchema.h"
#include "data/Schema.h"
#include "dataset/Filter.h"
#include "dataset/ServerTables.h"
#include "dbf/DbfFile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pg {

namespace {
struct HeldLock {
    std::unique_ptr<Connection> conn;
    int holders = 0;
    bool relock = false; // given up by the write that ended its edit; taken again should one go on
};
std::map<QString, HeldLock>& heldLocks() {
    static std::map<QString, HeldLock> map;
    return map;
}

// Text the dBASE tables cannot hold is refused here too, so the database can always move back
// into a folder.
void checkCodePage(const QString& text, const QString& field) {
    std::string enc;
    QString badChar;
    if (!dbf::encode(text, dbf::CodePage::Cp866, enc, &badChar)) throw db::cannotHold(field, badChar);
}

db::FieldKind kindOf(char type, int length, int decimals) {
    switch (type) {
    case 'C':
        return db::FieldKind::String;
    case 'D':
        return db::FieldKind::Date;
    case 'L':
        return db::FieldKind::Boolean;
    case 'M':
        return db::FieldKind::Memo;
    default:
        if (decimals > 0 || length > 9) return db::FieldKind::Float;
        return length <= 6 ? db::FieldKind::Smallint : db::FieldKind::Integer;
    }
}

// The dBASE field a server column stands for: its type letter, length and decimals.
void fieldOf(const QString& dataType, int charLength, int precision, int scale, char& type, int& length,
             int& decimals) {
    length = 0;
    decimals = 0;
    if (dataType == QLatin1String("character varying") || dataType == QLatin1String("character")) {
        type = 'C';
        length = charLength > 0 ? charLength : 254;
    } else if (dataType == QLatin1String("text")) {
        type = 'M';
    } else if (dataType == QLatin1String("date")) {
        type = 'D';
    } else if (dataType == QLatin1String("boolean")) {
        type = 'L';
    } else if (dataType == QLatin1String("numeric")) {
        type = 'N';
        length = precision > 0 ? precision : 20;
        decimals = precision > 0 ? scale : 4;
    } else if (dataType == QLatin1String("smallint")) {
        type = 'N', length = 6;
    } else if (dataType == QLatin1String("integer") || dataType == QLatin1String("bigint")) {
        type = 'N', length = 9;
    } else {
        type = 'N', length = 20, decimals = 4; // double precision, real
    }
}

db::Variant valueOf(const Result& r, int row, int col, char type) {
    if (r.isNull(row, col)) return type == 'C' ? db::Variant(QString()) : db::Variant();
    switch (type) {
    case 'C':
    case 'M':
        return db::Variant(r.text(row, col));
    case 'D':
        return db::Variant(QDate::fromString(r.text(row, col), Qt::ISODate));
    case 'L':
        return db::Variant(r.raw(row, col)[0] == 't');
    default:
        return db::Variant(std::strtod(r.raw(row, col), nullptr));
    }
}
// A number read as a whole-number field is rounded as the dBASE store rounds it.
db::Variant asKind(const db::Variant& v, db::FieldKind kind) {
    if (v.type() == db::Variant::Type::Float && kind != db::FieldKind::Float && kind != db::FieldKind::String)
        return db::Variant(db::roundHalfEven(v.toDouble()));
    return v;
}
} // namespace

PgStore::PgStore(const QString& url, const QString& table, bool readOnly)
    : conn_(Connection::shared(url)), table_(ident(table.toLower())), name_(table.toLower()),
      readOnly_(readOnly) {
    // The catalog itself, spelt as information_schema.columns spells it: that view costs tens of
    // milliseconds a table, and the start opens fourteen.
    Result r = conn_->exec(
        QStringLiteral(
            "SELECT a.attname, CASE t.typname WHEN 'varchar' THEN 'character varying' WHEN 'bpchar' THEN "
            "'character' WHEN 'int2' THEN 'smallint' WHEN 'int4' THEN 'integer' WHEN 'int8' THEN 'bigint' "
            "WHEN 'bool' THEN 'boolean' ELSE t.typname::text END, "
            "CASE WHEN t.typname IN ('varchar', 'bpchar') AND a.atttypmod > 4 THEN a.atttypmod - 4 END, "
            "CASE WHEN t.typname = 'numeric' AND a.atttypmod > 4 THEN ((a.atttypmod - 4) >> 16) & 65535 END, "
            "CASE WHEN t.typname = 'numeric' AND a.atttypmod > 4 THEN (a.atttypmod - 4) & 65535 END "
            "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_type t ON t.oid = a.atttypid "
            "WHERE c.relname = $1 AND c.relnamespace = current_schema()::regnamespace AND c.relkind IN "
            "('r', 'p', 'v', 'm', 'f') AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum"),
        {name_});
    for (int i = 0; i < r.rows(); ++i) {
        const QString name = r.text(i, 0);
        if (name == QLatin1String("id")) continue;
        Column c;
        c.sqlName = ident(name);
        fieldOf(r.text(i, 1), r.text(i, 2).toInt(), r.text(i, 3).toInt(), r.text(i, 4).toInt(), c.type,
                c.length, c.decimals);
        sql_.push_back(c);
        columns_.push_back(
            {name.toUpper(), kindOf(c.type, c.length, c.decimals), c.type == 'C' ? c.length : 0});
    }
    if (columns_.empty()) {
        // create would replace the tables that hold data; upgrade makes only what is missing.
        const QStringList others = existingTables(url);
        throw db::DatabaseError(
            others.isEmpty() || !missingTables(others).contains(name_)
                ? QStringLiteral("Table %1 not found in the database %2: run 'morv-db create' for it")
                      .arg(name_, Connection::safeUrl(url))
                : QStringLiteral("Table %1 not found in the database %2: run 'morv-db upgrade %2' to make "
                                 "it anew, empty; the other tables keep their rows")
                      .arg(name_, Connection::safeUrl(url)));
    }
}

PgStore::~PgStore() {
    if (watch_) unwatch(watch_);
    for (const auto& [id, holds] : locks_)
        for (int i = 0; i < holds; ++i)
            releaseLock(id);
}

void PgStore::watchChanges(QObject* context, std::function<void()> fn) {
    if (watch_) unwatch(watch_);
    watch_ = fn ? watchTable(conn_->url(), name_, context, std::move(fn)) : 0;
}

QString PgStore::lockKey(db::RowId id) const {
    return conn_->url() + QLatin1Char('\n') + name_ + QLatin1Char('\n') + QString::number(id);
}

bool PgStore::takeRow(Connection& c, db::RowId id) {
    // One round trip: the lock, the row as stored under it, and the point a failed write returns to.
    Result r;
    try {
        r = c.script(
            QStringLiteral("BEGIN; SELECT %1 FROM %2 WHERE id = %3 FOR UPDATE NOWAIT; SAVEPOINT write_row")
                .arg(selectList(), table_)
                .arg(id));
    } catch (const db::DatabaseError& e) {
        if (e.message() != QLatin1String(dbf::kRecordLocked)) throw;
        c.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (r.rows()) {
        keep(r, 0);
        fresh_ = id;
    }
    return true;
}

Connection* PgStore::heldConnection(db::RowId id) {
    if (!locks_.count(id)) return nullptr;
    auto it = heldLocks().find(lockKey(id));
    if (it == heldLocks().end()) return nullptr;
    if (it->second.relock) {
        if (!takeRow(*it->second.conn, id)) throw db::DatabaseError(QString::fromLatin1(dbf::kRecordLocked));
        it->second.relock = false;
    }
    return it->second.conn.get();
}

void PgStore::releaseLock(db::RowId id) {
    auto it = heldLocks().find(lockKey(id));
    if (it == heldLocks().end() || --it->second.holders > 0) return;
    try {
        if (!it->second.relock) it->second.conn->exec(QStringLiteral("ROLLBACK"));
        Connection::keepSpare(std::move(it->second.conn));
    } catch (const db::DatabaseError&) { // a lost connection took its lock with it
    }
    heldLocks().erase(it);
}

void PgStore::registerScheme() {
    auto open = [](const QString& url, const QString& table,
                   bool readOnly) -> std::unique_ptr<db::RecordStore> {
        return std::make_unique<PgStore>(url, table, readOnly);
    };
    auto list = [](const QString& url) {
        Result r =
            Connection::shared(url)->exec(QStringLiteral("SELECT table_name FROM information_schema.tables "
                                                         "WHERE table_schema = current_schema() ORDER BY 1"));
        QStringList names;
        for (int i = 0; i < r.rows(); ++i)
            names << r.text(i, 0);
        return names;
    };
    for (const QString& scheme : {QStringLiteral("postgresql"), QStringLiteral("postgres")}) {
        db::registerStore(scheme, open);
        db::registerStoreLister(scheme, list);
    }
    schema::registerServerTableMaker(&ensureTable);
    registerColumnScan();
    registerEraser();
}

int PgStore::columnIndex(const QString& name) const {
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].name.compare(name.trimmed(), Qt::CaseInsensitive) == 0) return int(i);
    return -1;
}

void PgStore::bindFilter(db::FilterExpr& e) const {
    e.bind([this](const QString& name, char& type) {
        const int c = columnIndex(name);
        if (c >= 0) type = sql_[size_t(c)].type;
        return c;
    });
}

bool PgStore::contains(db::RowId id) const {
    if (rows_.count(id)) return true;
    return conn_->exec(QStringLiteral("SELECT 1 FROM %1 WHERE id = $1").arg(table_), {QString::number(id)})
               .rows() > 0;
}

QString PgStore::selectList() const {
    QString s = QStringLiteral("id");
    for (const Column& c : sql_)
        s += QLatin1String(", ") + c.sqlName;
    return s;
}

QString PgStore::where(const db::ScanSpec& how, std::vector<Param>& params) const {
    QStringList conds;
    if (how.filter && !how.filter->empty()) {
        QStringList texts; // numbered after the parameters already there
        for (size_t i = 0; i < params.size(); ++i)
            texts << QString();
        const QString f = how.filter->sql([this](int c) { return sql_[size_t(c)].sqlName; }, texts);
        for (qsizetype i = qsizetype(params.size()); i < texts.size(); ++i)
            params.emplace_back(texts[i]);
        conds << f;
    }
    if (how.detailColumn >= 0) {
        if (how.detailNull) return QStringLiteral("FALSE");
        params.emplace_back(QString::number(how.detailKey, 'g', 17));
        conds << QStringLiteral("%1 = $%2::numeric")
                     .arg(sql_[size_t(how.detailColumn)].sqlName)
                     .arg(params.size());
    }
    return conds.isEmpty() ? QStringLiteral("TRUE") : conds.join(QLatin1String(" AND "));
}

void PgStore::keep(const Result& r, int row) const {
    std::vector<db::Variant> values;
    values.reserve(sql_.size());
    for (size_t c = 0; c < sql_.size(); ++c)
        values.push_back(valueOf(r, row, int(c) + 1, sql_[c].type));
    rows_[db::RowId(std::strtoul(r.raw(row, 0), nullptr, 10))] = std::move(values);
}

bool PgStore::passes(db::RowId id, const db::ScanSpec& how) const {
    if ((!how.filter || how.filter->empty()) && how.detailColumn < 0) return rows_.count(id) || contains(id);
    std::vector<Param> params{QString::number(id)};
    const QString sql =
        QStringLiteral("SELECT 1 FROM %1 WHERE id = $1 AND %2").arg(table_, where(how, params));
    return conn_->exec(sql, params).rows() > 0;
}

double PgStore::numberAt(db::RowId id, int column) const {
    const db::Variant v = read(id, column, db::FieldKind::Float);
    return v.isNull() ? -HUGE_VAL : v.toDouble();
}

bool PgStore::before(db::RowId a, db::RowId b, const db::ScanSpec& how) const {
    if (how.sortColumn < 0) return a < b;
    const double ka = numberAt(a, how.sortColumn), kb = numberAt(b, how.sortColumn);
    return ka < kb || (ka == kb && a < b);
}

db::Variant PgStore::read(db::RowId id, int column, db::FieldKind kind) const {
    if (column < 0) return {};
    auto it = rows_.find(id);
    if (it == rows_.end()) {
        Result r = conn_->exec(QStringLiteral("SELECT %1 FROM %2 WHERE id = $1").arg(selectList(), table_),
                               {QString::number(id)});
        if (r.rows() == 0) return sql_[size_t(column)].type == 'C' ? db::Variant(QString()) : db::Variant();
        keep(r, 0);
        it = rows_.find(id);
    }
    return asKind(it->second[size_t(column)], kind);
}

db::Variant PgStore::cell(const Result& r, int row, int col, char type, db::FieldKind kind) {
    return asKind(valueOf(r, row, col, type), kind);
}

bool PgStore::equalities(const std::vector<int>& cols, const std::vector<db::Variant>& values,
                         QStringList& conds, std::vector<Param>& params) const {
    for (size_t k = 0; k < cols.size(); ++k) {
        const db::Variant& v = values[k];
        if (cols[k] < 0) {
            if (!v.isNull()) return false; // a lookup field holds nothing stored
            continue;
        }
        const Column& c = sql_[size_t(cols[k])];
        if (c.type == 'N') {
            if (v.isNull()) {
                conds << c.sqlName + QLatin1String(" IS NULL");
                continue;
            }
            double d = 0;
            try {
                d = v.toDouble();
            } catch (const db::ConversionError&) {
                return false; // text that is no number equals no stored number
            }
            params.emplace_back(QString::number(d, 'g', 17));
            conds << QStringLiteral("%1 = $%2::numeric").arg(c.sqlName).arg(params.size());
        } else if (c.type == 'C') {
            if (v.isNull()) return false; // stored text is never null
            params.emplace_back(v.toString());
            conds << QStringLiteral("rtrim(%1) = $%2").arg(c.sqlName).arg(params.size());
        } else if (v.isNull()) {
            conds << c.sqlName + QLatin1String(" IS NULL");
        } else {
            params.emplace_back(c.type == 'D' ? v.toDate().toString(Qt::ISODate) : v.toString());
            conds << QStringLiteral("%1 = $%2").arg(c.sqlName).arg(params.size());
        }
    }
    if (conds.isEmpty()) conds << QStringLiteral("TRUE");
    return true;
}

int64_t PgStore::find(const std::vector<int>& cols, const std::vector<db::FieldKind>& kinds,
                      const std::vector<db::Variant>& values) const {
    (void)kinds;
    QStringList conds;
    std::vector<Param> params;
    if (!equalities(cols, values, conds, params)) return -1;
    const QString sql = QStringLiteral("SELECT id FROM %1 WHERE %2 ORDER BY id LIMIT 1")
                            .arg(table_, conds.join(QLatin1String(" AND ")));
    Result r = conn_->exec(sql, params);
    return r.rows() ? int64_t(std::strtoll(r.raw(0, 0), nullptr, 10)) : -1;
}

Param PgStore::toParam(const db::ColumnValue& cv) const {
    const Column& c = sql_[size_t(cv.column)];
    const db::Variant& v = cv.value;
    switch (c.type) {
    case 'C':
        checkCodePage(v.toString(), cv.name);
        // A text longer than its field is cut, as a dBASE field cuts it.
        return v.toString().left(c.length);
    case 'M':
        checkCodePage(v.toString(), cv.name);
        return v.toString();
    case 'D':
        return v.isNull() || !v.toDate().isValid() ? Param() : Param(v.toDate().toString(Qt::ISODate));
    case 'L':
        return v.isNull() ? Param() : Param(v.toBool() ? QStringLiteral("true") : QStringLiteral("false"));
    default: {
        if (v.isNull()) return {};
        const double d = v.toDouble();
        if (!std::isfinite(d))
            throw db::DatabaseError(QStringLiteral("value is not a number for field %1").arg(cv.name));
        // The same width rule as the dBASE field, so a table moves back into a folder whole.
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*f", c.decimals, d); // rounds as the dBASE field does
        const QString text = QString::fromLatin1(buf);
        if (text.size() > c.length)
            throw db::DatabaseError(QStringLiteral("Value %1 does not fit field %2 (%3 characters)")
                                        .arg(text, cv.name.toUpper())
                                        .arg(c.length));
        return text;
    }
    }
}

QString PgStore::assignments(const std::vector<db::ColumnValue>& values, std::vector<Param>& params) const {
    QStringList sets;
    for (const db::ColumnValue& cv : values) {
        if (cv.column < 0) continue;
        params.push_back(toParam(cv));
        sets << QStringLiteral("%1 = $%2").arg(sql_[size_t(cv.column)].sqlName).arg(params.size());
    }
    return sets.join(QLatin1String(", "));
}

void PgStore::giveFreeNumber(const db::NumberRule& rule, std::vector<db::ColumnValue>& values) {
    db::ColumnValue* mine = nullptr;
    const db::ColumnValue* scope = nullptr;
    for (auto& v : values) {
        if (v.column == rule.column) mine = &v;
        if (v.column == rule.scopeColumn) scope = &v;
    }
    if (!mine || mine->value.isNull() || (rule.scopeColumn >= 0 && (!scope || scope->value.isNull()))) return;
    std::vector<Param> params{toParam(*mine)};
    QString scoped;
    if (rule.scopeColumn >= 0) {
        params.push_back(toParam(*scope));
        scoped = QStringLiteral(" AND %1 = $2::numeric").arg(sql_[size_t(rule.scopeColumn)].sqlName);
    }
    const QString n = sql_[size_t(rule.column)].sqlName;
    Result r = conn_->exec(QStringLiteral("SELECT bool_or(%1 = $1::numeric), max(%1) FROM %2 WHERE TRUE%3")
                               .arg(n, table_, scoped),
                           params);
    if (r.rows() && r.text(0, 0) == QLatin1String("t")) mine->value = std::strtod(r.raw(0, 1), nullptr) + 1;
}

void PgStore::atomically(const std::function<void()>& fn) {
    const bool outermost = !conn_->inTransaction();
    if (outermost) added_.clear();
    try {
        conn_->transaction(fn);
    } catch (...) {
        // Rolled back here, or by the caller's transaction this one joined.
        for (db::RowId id : added_)
            rows_.erase(id);
        added_.clear();
        throw;
    }
    if (outermost) added_.clear();
}

db::RowId PgStore::append(const std::vector<db::ColumnValue>& values, const db::NumberRule& rule) {
    std::vector<db::ColumnValue> row = values;
    db::RowId id = 0;
    atomically([&] {
        if (rule.column >= 0) {
            // Appends that number rows take turns; the unique constraint stands behind them.
            conn_->exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext($1))"),
                        {QStringLiteral("append:") + name_});
            giveFreeNumber(rule, row);
        }
        QStringList names, marks;
        std::vector<Param> params;
        for (const db::ColumnValue& cv : row) {
            if (cv.column < 0) continue;
            params.push_back(toParam(cv));
            names << sql_[size_t(cv.column)].sqlName;
            marks << QStringLiteral("$%1").arg(params.size());
        }
        const QString sql =
            names.isEmpty()
                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES RETURNING %2").arg(table_, selectList())
                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING %4")
                      .arg(table_, names.join(QLatin1String(", ")), marks.join(QLatin1String(", ")),
                           selectList());
        Result r = conn_->exec(sql, params);
        keep(r, 0);
        id = db::RowId(std::strtoul(r.raw(0, 0), nullptr, 10));
        added_.push_back(id);
    });
    return id;
}

std::vector<db::RowId> PgStore::appendMany(const std::vector<std::vector<db::ColumnValue>>& rows) {
    std::vector<db::RowId> ids;
    if (rows.empty()) return ids;
    // Every value is checked before anything is sent: a value that does not fit stores nothing.
    std::vector<std::vector<Param>> lines;
    lines.reserve(rows.size());
    for (const auto& row : rows)
        lines.push_back(rowParams(row));
    QStringList names;
    for (const Column& c : sql_)
        names << c.sqlName;
    const QString head =
        QStringLiteral("INSERT INTO %1 (%2) VALUES ").arg(table_, names.join(QLatin1String(", ")));
    // A statement takes at most 65535 parameters: a long group goes in several, in one transaction.
    const size_t perStatement = std::max<size_t>(1, 30000 / std::max<size_t>(1, sql_.size()));
    atomically([&] {
        for (size_t from = 0; from < lines.size(); from += perStatement) {
            const size_t to = std::min(lines.size(), from + perStatement);
            std::vector<Param> params;
            QStringList tuples;
            for (size_t i = from; i < to; ++i) {
                QStringList marks;
                for (const Param& p : lines[i]) {
                    params.push_back(p);
                    marks << QStringLiteral("$%1").arg(params.size());
                }
                tuples << QLatin1Char('(') + marks.join(QLatin1String(", ")) + QLatin1Char(')');
            }
            Result r = conn_->exec(head + tuples.join(QLatin1String(", ")) + QStringLiteral(" RETURNING ") +
                                       selectList(),
                                   params);
            std::vector<db::RowId> got;
            for (int i = 0; i < r.rows(); ++i) {
                keep(r, i);
                got.push_back(db::RowId(std::strtoul(r.raw(i, 0), nullptr, 10)));
                added_.push_back(got.back());
            }
            // Serial ids are drawn in the order the rows go in, so ascending ids are the rows' order.
            std::sort(got.begin(), got.end());
            ids.insert(ids.end(), got.begin(), got.end());
        }
    });
    return ids;
}

std::vector<Param> PgStore::rowParams(const std::vector<db::ColumnValue>& values) const {
    std::vector<Param> line;
    line.reserve(sql_.size());
    for (const Column& c : sql_) // texts are never null
        line.push_back(c.type == 'C' || c.type == 'M' ? Param(QString()) : Param());
    for (const db::ColumnValue& cv : values)
        if (cv.column >= 0) line[size_t(cv.column)] = toParam(cv);
    return line;
}

void PgStore::appendAll(const std::function<bool(std::vector<db::ColumnValue>&)>& next) {
    QStringList names;
    for (const Column& c : sql_)
        names << c.sqlName;
    std::vector<db::ColumnValue> row;
    std::vector<Param> line;
    conn_->copyIn(QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table_, names.join(QLatin1String(", "))),
                  [&](QByteArray& block) {
                      for (int n = 0; n < 1000; ++n) {
                          row.clear();
                          if (!next(row)) return false;
                          line = rowParams(row);
                          for (size_t c = 0; c < line.size(); ++c) {
                              if (c) block += '\t';
                              appendCopyField(block, line[c]);
                          }
                          block += '\n';
                      }
                      return true;
                  });
    rows_.clear(); // views list the new rows at their next scan
}

void PgStore::write(db::RowId id, const std::vector<db::ColumnValue>& values) {
    fresh_ = 0;
    std::vector<Param> params;
    const QString sets = assignments(values, params);
    if (sets.isEmpty()) return;
    params.emplace_back(QString::number(id));
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE id = $%3 RETURNING %4")
                            .arg(table_, sets)
                            .arg(params.size())
                            .arg(selectList());
    if (Connection* c = heldConnection(id)) {
        // The edit's own transaction holds the row: the write commits there, and the row is
        // taken again for the edits still open on it.
        Result r;
        try {
            r = c->exec(sql, params);
            if (r.rows() == 0) throw db::DatabaseError(QStringLiteral("Record %1 not found").arg(id));
            c->exec(QStringLiteral("COMMIT"));
        } catch (const db::DatabaseError&) {
            try {
                c->exec(QStringLiteral("ROLLBACK TO SAVEPOINT write_row")); // the edit keeps its lock
            } catch (const db::DatabaseError&) { // the connection is gone, and its lock with it
            }
            throw;
        }
        keep(r, 0);
        HeldLock& held = heldLocks()[lockKey(id)];
        // An edit ends with its write: the lock is taken again only if the edit goes on. While
        // other edits of this program are open on the row, at once.
        held.relock = true;
        if (held.holders > 1) {
            try {
                held.relock = !takeRow(*c, id);
            } catch (const db::DatabaseError&) { // stored; the next step of those edits says why
            }
        }
        return;
    }
    Result r = conn_->exec(sql, params);
    if (r.rows() == 0) {
        ++cuts_;
        throw db::DatabaseError(QStringLiteral("Record %1 not found").arg(id));
    }
    keep(r, 0);
}

void PgStore::setDeleted(db::RowId id, bool deleted) {
    if (!deleted)
        throw db::DatabaseError(QStringLiteral("A deleted row of %1 cannot be restored").arg(name_));
    conn_->exec(QStringLiteral("DELETE FROM %1 WHERE id = $1").arg(table_), {QString::number(id)});
    rows_.erase(id);
}

bool PgStore::lockRow(db::RowId id) {
    fresh_ = 0;
    if (locks_.count(id)) {
        ++locks_[id];
        ++heldLocks()[lockKey(id)].holders;
        return true;
    }
    const QString key = lockKey(id);
    HeldLock& held = heldLocks()[key];
    if (held.conn && held.relock) {
        // Another edit of this program gave the lock up at its write: taken again for both.
        if (!takeRow(*held.conn, id)) return false;
        held.relock = false;
    }
    if (!held.conn) {
        std::unique_ptr<Connection> c;
        bool taken = false;
        try {
            bool reused = false;
            c = Connection::spare(conn_->url(), &reused);
            try {
                taken = takeRow(*c, id);
            } catch (const db::DatabaseError&) {
                // A kept connection the server dropped meanwhile (a restart): once more on a new one.
                if (!reused) throw;
                c = std::make_unique<Connection>(conn_->url());
                taken = takeRow(*c, id);
            }
        } catch (...) {
            heldLocks().erase(key);
            throw;
        }
        if (!taken) {
            heldLocks().erase(key);
            Connection::keepSpare(std::move(c));
            return false;
        }
        held.conn = std::move(c);
    }
    ++held.holders;
    locks_[id] = 1;
    return true;
}

void PgStore::unlockRow(db::RowId id) {
    fresh_ = 0;
    auto it = locks_.find(id);
    if (it == locks_.end()) return;
    if (--it->second == 0) locks_.erase(it);
    releaseLock(id);
}

void PgStore::reloadRow(db::RowId id) {
    if (fresh_ == id && rows_.count(id)) {
        fresh_ = 0; // read when its lock was taken, and no one else can have changed it since
        return;
    }
    fresh_ = 0;
    Connection* held = heldConnection(id);
    Connection& c = held ? *held : *conn_;
    Result r = c.exec(QStringLiteral("SELECT %1 FROM %2 WHERE id = $1").arg(selectList(), table_),
                      {QString::number(id)});
    if (r.rows() == 0) {
        ++cuts_;
        rows_.erase(id);
        throw db::DatabaseError(
            QStringLiteral("Record %1 of table %2 is no longer stored").arg(id).arg(name_));
    }
    keep(r, 0);
}

void PgStore::underAppendLock(const std::function<void()>& fn) {
    atomically([&] {
        conn_->exec(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext($1))"),
                    {QStringLiteral("append:") + name_});
        fn();
    });
}

} // namespace pg
