#include "SqlRunner.h"

#include "DbfModule.h"
#include "Errors.h"
#include "Fault.h"
#include "StoreModule.h"
#include "dataset/RecordStore.h"
#include "dataset/ServerTables.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <sqlite3.h>
#include <string>

namespace db::sql {

namespace {

struct CloseDb {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStmt {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using Connection = std::unique_ptr<sqlite3, CloseDb>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStmt>;

[[noreturn]] void fail(const QString& message) {
    throw DatabaseError(message);
}

QString quoted(const QString& text, QChar quote) {
    QString out = text;
    out.replace(quote, QString(2, quote));
    return quote + out + quote;
}

// Tables whose files could not be opened, so "no such table" can say why.
using Broken = std::map<QString, QString>;

// Whether the query text names a table, as a whole word: only those files are opened, so a
// damaged file the query does not read cannot stop it.
bool mentioned(const QString& sqlText, const QString& name) {
    auto word = [](QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'$'; };
    for (qsizetype at = sqlText.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
         at = sqlText.indexOf(name, at + 1, Qt::CaseInsensitive)) {
        const qsizetype end = at + name.size();
        if ((at == 0 || !word(sqlText[at - 1])) && (end == sqlText.size() || !word(sqlText[end])))
            return true;
    }
    return false;
}

// The server's tables the query names, read through their record stores.
void registerServerTables(sqlite3* db, const QString& url, const QString& sqlText, Broken& broken) {
    for (const QString& name : serverTables(url)) {
        if (!mentioned(sqlText, name)) continue;
        const QString ddl = QStringLiteral("CREATE VIRTUAL TABLE temp.%1 USING store(%2, %3)")
                                .arg(quoted(name, u'"'), quoted(url, u'\''), quoted(name, u'\''));
        char* err = nullptr;
        if (sqlite3_exec(db, ddl.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            broken[name.toLower()] = QString::fromUtf8(err ? err : sqlite3_errmsg(db));
            sqlite3_free(err);
        }
    }
}

Connection openConnection(const QString& directory, const QString& sqlText, Broken& broken) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(raw);
    if (rc != SQLITE_OK)
        fail(QStringLiteral("Cannot start the SQL engine: %1").arg(QString::fromUtf8(sqlite3_errstr(rc))));
    if (registerDbfModule(db.get()) != SQLITE_OK) fail(QString::fromUtf8(sqlite3_errmsg(db.get())));
    if (isServerLocation(directory)) {
        if (registerStoreModule(db.get()) != SQLITE_OK) fail(QString::fromUtf8(sqlite3_errmsg(db.get())));
        registerServerTables(db.get(), directory, sqlText, broken);
        return db;
    }

    QDir dir(directory);
    if (!QFileInfo(directory).isReadable())
        fail(QStringLiteral("Cannot list directory %1: Permission denied")
                 .arg(QDir::toNativeSeparators(directory)));
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
    std::set<QString> seen;
    for (const QFileInfo& fi : files) {
        if (fi.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) != 0) continue;
        const QString name = fi.completeBaseName();
        const QString key = name.toLower();
        if (!mentioned(sqlText, name)) continue;
        if (!seen.insert(key).second) continue; // bd_x.dbf and BD_X.DBF: the first in name order wins
        const QString ddl = QStringLiteral("CREATE VIRTUAL TABLE temp.%1 USING dbf(%2)")
                                .arg(quoted(name, u'"'), quoted(fi.absoluteFilePath(), u'\''));
        char* err = nullptr;
        if (sqlite3_exec(db.get(), ddl.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            broken[key] = QString::fromUtf8(err ? err : sqlite3_errmsg(db.get()));
            sqlite3_free(err);
        }
    }
    return db;
}

struct Refusal {
    bool denied = false;
    const char* what = nullptr; // named only when the action says what the user wrote
    QString function;           // a function outside the allowed ones
};

// What a statistics query may call: arithmetic, text, dates, aggregates and window functions.
// Nothing that reaches memory addresses (fts3_tokenizer), files or the engine's insides.
bool allowedFunction(const char* name) {
    static const std::set<std::string> allowed = {
        "abs",        "acos",         "asin",       "atan",    "atan2",       "avg",          "ceil",
        "ceiling",    "char",         "coalesce",   "cos",     "count",       "cume_dist",    "date",
        "datetime",   "degrees",      "dense_rank", "exp",     "first_value", "floor",        "format",
        "glob",       "group_concat", "hex",        "ifnull",  "iif",         "instr",        "julianday",
        "lag",        "last_value",   "lead",       "length",  "like",        "likelihood",   "likely",
        "ln",         "log",          "log10",      "log2",    "lower",       "ltrim",        "max",
        "min",        "mod",          "nth_value",  "ntile",   "nullif",      "percent_rank", "pi",
        "pow",        "power",        "printf",     "quote",   "radians",     "rank",         "replace",
        "round",      "row_number",   "rtrim",      "sign",    "sin",         "sqrt",         "strftime",
        "string_agg", "substr",       "substring",  "sum",     "tan",         "time",         "total",
        "trim",       "trunc",        "typeof",     "unicode", "unlikely",    "upper"};
    std::string lower(name ? name : "");
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return allowed.count(lower) > 0;
}

const char* actionName(int action, const char* table) {
    // Creating or dropping anything first shows up as a write to the schema table: name nothing then.
    const bool schema = table && std::strncmp(table, "sqlite_", 7) == 0;
    switch (action) {
    case SQLITE_ATTACH:
        return "ATTACH";
    case SQLITE_DETACH:
        return "DETACH";
    case SQLITE_PRAGMA:
        return "PRAGMA";
    case SQLITE_INSERT:
        return schema ? nullptr : "INSERT";
    case SQLITE_UPDATE:
        return schema ? nullptr : "UPDATE";
    case SQLITE_DELETE:
        return schema ? nullptr : "DELETE";
    case SQLITE_TRANSACTION:
    case SQLITE_SAVEPOINT:
        return "a transaction";
    default:
        return nullptr;
    }
}

int authorize(void* data, int action, const char* arg1, const char* arg2, const char*, const char*) {
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION: {
        if (allowedFunction(arg2)) return SQLITE_OK;
        auto* refusal = static_cast<Refusal*>(data);
        if (!refusal->denied) refusal->function = QString::fromUtf8(arg2 ? arg2 : "");
        refusal->denied = true;
        return SQLITE_DENY;
    }
    default: {
        auto* refusal = static_cast<Refusal*>(data);
        if (!refusal->denied) refusal->what = actionName(action, arg1);
        refusal->denied = true;
        return SQLITE_DENY;
    }
    }
}

[[noreturn]] void refuse(const Refusal& refusal) {
    if (!refusal.function.isEmpty())
        fail(QStringLiteral("The function %1 cannot be used in a query").arg(refusal.function));
    const char* what = refusal.what;
    const QString message = QStringLiteral("Only SELECT queries are allowed");
    fail(what ? message + QStringLiteral(" (%1 is refused)").arg(QLatin1String(what)) : message);
}

// Skips blanks, comments and empty statements.
const char* skipNothing(const char* p, const char* end) {
    while (p < end) {
        if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == ';') {
            ++p;
        } else if (end - p >= 2 && p[0] == '-' && p[1] == '-') {
            while (p < end && *p != '\n')
                ++p;
        } else if (end - p >= 2 && p[0] == '/' && p[1] == '*') {
            p += 2;
            while (p < end && !(end - p >= 2 && p[0] == '*' && p[1] == '/'))
                ++p;
            p = std::min(p + 2, end);
        } else {
            break;
        }
    }
    return p;
}

const Variant* findParam(const std::map<QString, Variant>& params, const QString& name) {
    if (auto it = params.find(name); it != params.end()) return &it->second;
    for (const auto& [key, value] : params)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return &value;
    return nullptr;
}

void bindParams(sqlite3_stmt* st, const std::map<QString, Variant>& params) {
    const int count = sqlite3_bind_parameter_count(st);
    for (int i = 1; i <= count; ++i) {
        const char* name = sqlite3_bind_parameter_name(st, i);
        const Variant* v = name ? findParam(params, QString::fromUtf8(name + 1)) : nullptr;
        if (!v) continue; // unbound parameters are NULL
        switch (v->type()) {
        case Variant::Type::Null:
            break;
        case Variant::Type::Int:
            sqlite3_bind_int64(st, i, v->toInt());
            break;
        case Variant::Type::Float:
            sqlite3_bind_double(st, i, v->toDouble());
            break;
        case Variant::Type::Bool:
            sqlite3_bind_int(st, i, v->toBool() ? 1 : 0);
            break;
        case Variant::Type::Date: {
            const QDate d = v->toDate();
            if (d.isValid()) {
                const QByteArray iso = d.toString(Qt::ISODate).toUtf8();
                sqlite3_bind_text(st, i, iso.constData(), int(iso.size()), SQLITE_TRANSIENT);
            }
            break;
        }
        case Variant::Type::String: {
            const QByteArray u = v->toString().toUtf8();
            sqlite3_bind_text(st, i, u.constData(), int(u.size()), SQLITE_TRANSIENT);
            break;
        }
        }
    }
}

Variant columnValue(sqlite3_stmt* st, int i) {
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
        return Variant(int64_t(sqlite3_column_int64(st, i)));
    case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(st, i));
    case SQLITE_NULL:
        return {};
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        return Variant(QString::fromUtf8(text, sqlite3_column_bytes(st, i)));
    }
    }
}

ProgressHook& progressHook() {
    static ProgressHook hook;
    return hook;
}

qint64 limitBytes = qint64(512) << 20;

struct Progress {
    QElapsedTimer clock;
    bool cancelled = false;
};

int onProgress(void* data) {
    auto* p = static_cast<Progress*>(data);
    if (!progressHook()) return 0;
    try {
        p->cancelled = !progressHook()(p->clock.elapsed());
    } catch (...) {
        p->cancelled = true; // nothing may unwind through SQLite
    }
    return p->cancelled ? 1 : 0;
}

QString megabytes(qint64 bytes) {
    return QString::number(bytes >> 20);
}

[[noreturn]] void tooMuchMemory() {
    throw FaultError(QStringLiteral("The query needs more than %1 MB of memory; narrow it down")
                         .arg(megabytes(limitBytes)),
                     FaultInfo(Fault::TooMuchMemory));
}

} // namespace

void setProgressHook(ProgressHook hook) {
    progressHook() = std::move(hook);
}

void setMemoryLimit(qint64 bytes) {
    limitBytes = bytes;
}

qint64 memoryLimit() {
    return limitBytes;
}

struct Select::Run {
    Connection db;
    Statement st;
    Progress progress;
    Refusal refusal;
    QStringList columns;
    bool done = false;
};

namespace {
// The progress window closes whenever a step of the run is over, however it ended.
struct StepOver {
    ~StepOver() {
        if (progressHook()) progressHook()(-1);
    }
};
} // namespace

Select::Select(const QString& directory, const QString& sqlText, const std::map<QString, Variant>& params)
    : run_(std::make_unique<Run>()) {
    if (directory.isEmpty()) fail(QStringLiteral("No directory was given for the query"));
    if (!isServerLocation(directory) && !QFileInfo(directory).isDir())
        fail(QStringLiteral("Directory %1 does not exist").arg(directory));

    // The only SQLite user of the program: its whole heap is the query's.
    sqlite3_hard_heap_limit64(limitBytes);
    Broken broken;
    run_->db = openConnection(directory, sqlText, broken);
    sqlite3* db = run_->db.get();
    sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 16 << 20); // zeroblob(1e9) and the like
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    run_->progress.clock.start();
    StepOver over;
    sqlite3_progress_handler(db, 20000, onProgress, &run_->progress);
    // Installed only now: registering the tables above is the one thing allowed to write the schema.
    Refusal& refusal = run_->refusal;
    sqlite3_set_authorizer(db, authorize, &refusal);

    const QByteArray text = sqlText.toUtf8();
    const char* end = text.constData() + text.size();
    const char* start = skipNothing(text.constData(), end);
    if (start == end) fail(QStringLiteral("The query text is empty"));

    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v3(db, start, int(end - start), 0, &raw, &tail);
    run_->st.reset(raw);
    if (refusal.denied) refuse(refusal);
    if (rc != SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(db));
        // Writes to our tables stop before the authorizer sees them, as the tables have no xUpdate.
        if (message.endsWith(QLatin1String("may not be modified"))) refuse(Refusal{});
        static const QString noTable = QStringLiteral("no such table: ");
        if (message.startsWith(noTable)) {
            if (auto it = broken.find(message.mid(noTable.size()).toLower()); it != broken.end())
                fail(QStringLiteral("Table %1 cannot be read: %2")
                         .arg(message.mid(noTable.size()), it->second));
        }
        fail(message);
    }
    sqlite3_stmt* st = run_->st.get();
    if (!st) fail(QStringLiteral("The query text is empty"));
    if (skipNothing(tail, end) != end) fail(QStringLiteral("The query text must hold exactly one statement"));
    if (!sqlite3_stmt_readonly(st)) refuse(Refusal{});

    bindParams(st, params);
    for (int i = 0, n = sqlite3_column_count(st); i < n; ++i)
        run_->columns << QString::fromUtf8(sqlite3_column_name(st, i));
}

Select::~Select() = default;

const QStringList& Select::columns() const {
    return run_->columns;
}

bool Select::fetch(ResultTable& rows, size_t maxRows) {
    if (run_->done) return false;
    run_->progress.clock.restart();
    StepOver over;
    sqlite3_stmt* st = run_->st.get();
    const int columns = int(run_->columns.size());
    for (size_t got = 0; got < maxRows; ++got) {
        const int step = sqlite3_step(st);
        if (step == SQLITE_DONE) {
            run_->done = true;
            return false;
        }
        if (step != SQLITE_ROW) {
            run_->done = true; // a failed run is over: nothing more is read from it
            if (run_->progress.cancelled) throw Cancelled();
            if (run_->refusal.denied)
                refuse(run_->refusal); // table-valued pragma functions prepare inside the step
            if (step == SQLITE_NOMEM) tooMuchMemory();
            fail(QString::fromUtf8(sqlite3_errmsg(run_->db.get())));
        }
        for (int i = 0; i < columns; ++i)
            rows.add(columnValue(st, i));
        if (qint64(rows.bytes()) > limitBytes) {
            run_->done = true;
            tooMuchMemory();
        }
    }
    return true;
}

ResultSet runSelect(const QString& directory, const QString& sqlText,
                    const std::map<QString, Variant>& params) {
    Select select(directory, sqlText, params);
    ResultSet result;
    result.columns = select.columns();
    result.rows = ResultTable(int(result.columns.size()));
    select.fetch(result.rows);
    return result;
}

} // namespace db::sql
