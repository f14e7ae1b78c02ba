#include "PgConnection.h"

#include "Errors.h"
#include "dbf/DbfFile.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QUrl>
#include <libpq-fe.h>
#include <map>

namespace pg {

namespace {
PasswordPrompt& prompt() {
    static PasswordPrompt p;
    return p;
}
// The server processes of this program's own connections: their notifications are no news.
QMutex backendsMutex;
// Never destroyed: shared connections close at exit, after function statics made later are gone.
QSet<int>& backends() {
    static auto* set = new QSet<int>;
    return *set;
}
void finish(pg_conn*& conn) {
    if (!conn) return;
    {
        QMutexLocker hold(&backendsMutex);
        backends().remove(PQbackendPID(conn));
    }
    PQfinish(conn);
    conn = nullptr;
}
QHash<QString, std::shared_ptr<Connection>>& pool() {
    static QHash<QString, std::shared_ptr<Connection>> map;
    return map;
}
// A few per server; more locks at once than that are rare.
constexpr int kSpares = 4;
std::map<QString, std::vector<std::unique_ptr<Connection>>>& spares() {
    static std::map<QString, std::vector<std::unique_ptr<Connection>>> map;
    return map;
}
QString serverText(const char* s) {
    return QString::fromUtf8(s).trimmed();
}
} // namespace

void setPasswordPrompt(PasswordPrompt p) {
    prompt() = std::move(p);
}

bool Connection::ownBackend(int pid) {
    QMutexLocker hold(&backendsMutex);
    return backends().contains(pid);
}

QString ident(const QString& name) {
    QString q = name;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

Result::~Result() {
    if (r_) PQclear(r_);
}

Result& Result::operator=(Result&& o) noexcept {
    if (this != &o) {
        if (r_) PQclear(r_);
        r_ = o.r_;
        o.r_ = nullptr;
    }
    return *this;
}

int Result::rows() const {
    return r_ ? PQntuples(r_) : 0;
}
int Result::columns() const {
    return r_ ? PQnfields(r_) : 0;
}
bool Result::isNull(int row, int col) const {
    return PQgetisnull(r_, row, col) != 0;
}
QString Result::text(int row, int col) const {
    return QString::fromUtf8(PQgetvalue(r_, row, col), PQgetlength(r_, row, col));
}
const char* Result::raw(int row, int col) const {
    return PQgetvalue(r_, row, col);
}

QString Connection::safeUrl(const QString& url) {
    QUrl u(url);
    if (!u.isValid()) return url;
    u.setPassword(QString());
    return u.toString();
}

Connection::Connection(QString url) : url_(std::move(url)) {
    connect();
}

Connection::~Connection() {
    finish(conn_);
}

namespace {
// The server refused a password it was given (rather than, say, the database named).
bool passwordRefused(pg_conn* conn) {
    if (!PQconnectionUsedPassword(conn)) return false;
    const QString why = QString::fromUtf8(PQerrorMessage(conn));
    return why.contains(QLatin1String("password"), Qt::CaseInsensitive) ||
           why.contains(QStringLiteral("парол"), Qt::CaseInsensitive);
}

ConnectError::Kind failureKind(const QByteArray& info) {
    const char* keys[] = {"dbname", nullptr};
    const char* values[] = {info.constData(), nullptr};
    switch (PQpingParams(keys, values, 1)) {
    case PQPING_NO_ATTEMPT:
        return ConnectError::Kind::BadAddress;
    case PQPING_NO_RESPONSE:
        return ConnectError::Kind::Unreachable;
    default:
        return ConnectError::Kind::Refused;
    }
}
} // namespace

void Connection::connect() {
    finish(conn_);
    const QByteArray info = url_.toUtf8();
    conn_ = PQconnectdb(info.constData());
    // Asked while the server wants a password nobody gave, and again while it refuses the one given.
    QByteArray pw;
    bool cancelled = false;
    while (PQstatus(conn_) == CONNECTION_BAD && prompt()) {
        const bool refused = !pw.isEmpty() && passwordRefused(conn_);
        if (!refused && !PQconnectionNeedsPassword(conn_)) break;
        const QString password = prompt()(
            safeUrl(url_), refused ? QStringLiteral("The server did not accept the password") : QString());
        if (password.isEmpty()) {
            cancelled = true;
            break;
        }
        PQfinish(conn_);
        pw = password.toUtf8();
        const char* keys[] = {"dbname", "password", nullptr};
        const char* values[] = {info.constData(), pw.constData(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        const QString why =
            cancelled ? QStringLiteral("no password was given") : serverText(PQerrorMessage(conn_));
        PQfinish(conn_);
        conn_ = nullptr;
        throw ConnectError(
            cancelled ? ConnectError::Kind::Cancelled : failureKind(info), why,
            QStringLiteral("Cannot connect to the database server %1: %2").arg(safeUrl(url_), why));
    }
    {
        QMutexLocker hold(&backendsMutex);
        backends().insert(PQbackendPID(conn_));
    }
    PQsetClientEncoding(conn_, "UTF8");
    // Dates read as ISO text; a write to a row another session holds waits as a file lock would.
    for (const char* s :
         {"SET DateStyle = ISO", "SET lock_timeout = '2s'", "SET client_min_messages = warning"})
        PQclear(PQexec(conn_, s));
}

std::shared_ptr<Connection> Connection::shared(const QString& url) {
    auto it = pool().find(url);
    if (it != pool().end()) return *it;
    auto c = std::make_shared<Connection>(url);
    pool().insert(url, c);
    return c;
}

void Connection::dropShared() {
    pool().clear();
    spares().clear();
}

std::unique_ptr<Connection> Connection::spare(const QString& url, bool* reused) {
    auto& kept = spares()[url];
    if (reused) *reused = !kept.empty();
    if (kept.empty()) return std::make_unique<Connection>(url);
    std::unique_ptr<Connection> c = std::move(kept.back());
    kept.pop_back();
    return c;
}

void Connection::keepSpare(std::unique_ptr<Connection> c) {
    if (!c || c->depth_ > 0 || !c->conn_ || PQstatus(c->conn_) != CONNECTION_OK ||
        PQtransactionStatus(c->conn_) != PQTRANS_IDLE)
        return;
    auto& kept = spares()[c->url_];
    if (int(kept.size()) < kSpares) kept.push_back(std::move(c));
}

void Connection::fail(PGresult* r, const QString& sql) {
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const QString code = state ? QString::fromLatin1(state) : QString();
    QString why = serverText(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_));
    if (r) PQclear(r);
    if (code == QLatin1String("55P03")) throw db::DatabaseError(QString::fromLatin1(dbf::kRecordLocked));
    if (!conn_ || PQstatus(conn_) == CONNECTION_BAD)
        throw db::DatabaseError(
            QStringLiteral("The connection to the database server %1 was lost (%2). Nothing of "
                           "this step was stored; the next action connects again")
                .arg(safeUrl(url_), why));
    if (why.isEmpty()) why = sql;
    throw db::DatabaseError(QStringLiteral("Database server %1: %2").arg(safeUrl(url_), why));
}

namespace {
// A statement's parameters as libpq takes them: the texts, and pointers into them (null for NULL).
struct ParamTexts {
    explicit ParamTexts(const std::vector<Param>& params) {
        texts.reserve(params.size());
        for (const Param& p : params) {
            texts.push_back(p ? p->toUtf8() : QByteArray());
            values.push_back(p ? texts.back().constData() : nullptr);
        }
    }
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
};
} // namespace

void Connection::ready() {
    if (conn_ && PQstatus(conn_) != CONNECTION_BAD) return;
    // A transaction cut off with the connection is gone: its caller must start again.
    if (depth_ > 0)
        throw db::DatabaseError(
            QStringLiteral("The connection to the database server %1 was lost").arg(safeUrl(url_)));
    connect();
}

Result Connection::exec(const QString& sql, const std::vector<Param>& params) {
    ready();
    const ParamTexts p(params);
    const QByteArray q = sql.toUtf8();
    PGresult* r = PQexecParams(conn_, q.constData(), int(p.values.size()), nullptr, p.values.data(), nullptr,
                               nullptr, 0);
    const auto status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_COPY_IN &&
        status != PGRES_COPY_OUT)
        fail(r, sql);
    return Result(r);
}

void Connection::send(const QString& sql, const std::vector<Param>& params) {
    ready();
    const ParamTexts p(params);
    const QByteArray q = sql.toUtf8();
    if (!PQsendQueryParams(conn_, q.constData(), int(p.values.size()), nullptr, p.values.data(), nullptr,
                           nullptr, 0))
        fail(nullptr, sql);
}

Result Connection::receive(const QString& sql) {
    PGresult* r = PQgetResult(conn_);
    // The statement's one result, then the end of it.
    while (PGresult* more = PQgetResult(conn_))
        PQclear(more);
    const auto status = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) fail(r, sql);
    return Result(r);
}

Result Connection::script(const QString& sql) {
    ready();
    const QByteArray q = sql.toUtf8();
    if (!PQsendQuery(conn_, q.constData())) fail(nullptr, sql);
    PGresult* rows = nullptr;
    PGresult* error = nullptr;
    while (PGresult* r = PQgetResult(conn_)) {
        const auto status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !error)
            error = r;
        else if (status == PGRES_TUPLES_OK && !rows)
            rows = r;
        else
            PQclear(r);
    }
    if (error) {
        if (rows) PQclear(rows);
        fail(error, sql);
    }
    return Result(rows);
}

void Connection::copyIn(const QString& sql, const std::function<bool(QByteArray&)>& next) {
    exec(sql); // enters the copy state
    QByteArray block;
    bool more = true;
    try {
        while (more) {
            block.clear();
            more = next(block);
            if (!block.isEmpty() && PQputCopyData(conn_, block.constData(), int(block.size())) != 1)
                fail(nullptr, sql);
        }
    } catch (...) {
        PQputCopyEnd(conn_, "the copy was stopped");
        while (PGresult* r = PQgetResult(conn_))
            PQclear(r);
        throw;
    }
    if (PQputCopyEnd(conn_, nullptr) != 1) fail(nullptr, sql);
    PGresult* r = PQgetResult(conn_);
    const bool ok = r && PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok) {
        while (PGresult* more = PQgetResult(conn_))
            PQclear(more);
        fail(r, sql);
    }
    PQclear(r);
    while (PGresult* rest = PQgetResult(conn_))
        PQclear(rest);
}

void appendCopyField(QByteArray& line, const Param& value) {
    if (!value) {
        line += "\\N";
        return;
    }
    const QByteArray text = value->toUtf8();
    for (char ch : text) {
        switch (ch) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += ch;
        }
    }
}

void Connection::transaction(const std::function<void()>& fn) {
    if (depth_ > 0) {
        ++depth_;
        try {
            fn();
        } catch (...) {
            --depth_;
            throw;
        }
        --depth_;
        return;
    }
    exec(QStringLiteral("BEGIN"));
    depth_ = 1;
    try {
        fn();
        exec(QStringLiteral("COMMIT"));
    } catch (...) {
        depth_ = 0;
        if (conn_ && PQstatus(conn_) == CONNECTION_OK) PQclear(PQexec(conn_, "ROLLBACK"));
        throw;
    }
    depth_ = 0;
}

} // namespace pg
