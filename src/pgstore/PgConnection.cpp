#include "PgConnection.h"

#include "Errors.h"
#include "SocketWait.h"
#include "dbf/DbfFile.h"

#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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
// The code the server gave its refusal with, out of libpq's verbose message ("FATAL:  28P01: ..."),
// and the message without it: the words around it follow the server's and the client's language,
// the code does not.
QString splitCode(const QString& verbose, QString* code) {
    static const QRegularExpression stated(QStringLiteral(":  ([0-9A-Z]{5}): "));
    static const QRegularExpression location(QStringLiteral("\\n[^\\n:]+:  \\w+, [\\w.]+:\\d+(?=\\n|$)"));
    QString plain = verbose;
    code->clear();
    for (auto it = stated.globalMatch(verbose); it.hasNext();)
        *code = it.next().captured(1); // the last host's, when there were several
    plain.replace(stated, QStringLiteral(":  "));
    plain.remove(location);
    return plain.trimmed();
}

// The server asked for a password and refused the one given: a wrong password, or a role unknown
// to a password method (the server does not tell the two apart); 28000 where the method (PAM,
// LDAP, RADIUS) checks the password elsewhere.
bool passwordRefused(pg_conn* conn, const QString& code) {
    return PQconnectionUsedPassword(conn) && !PQconnectionNeedsPassword(conn) &&
           (code == QLatin1String("28P01") || code == QLatin1String("28000"));
}

// PQconnectdbParams, but with verbose errors from the start, so that a refusal carries its
// code. connect_timeout holds for the whole attempt, as libpq would keep it for one host.
pg_conn* connectVerbose(const char* const* keys, const char* const* values) {
    pg_conn* conn = PQconnectStartParams(keys, values, 1);
    if (!conn || PQstatus(conn) == CONNECTION_BAD) return conn;
    PQsetErrorVerbosity(conn, PQERRORS_VERBOSE);
    int timeoutMs = -1;
    if (PQconninfoOption* opts = PQconninfo(conn)) {
        for (PQconninfoOption* o = opts; o->keyword; ++o)
            if (o->val && std::strcmp(o->keyword, "connect_timeout") == 0 && std::atoi(o->val) > 0)
                timeoutMs = std::max(2, std::atoi(o->val)) * 1000;
        PQconninfoFree(opts);
    }
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK && state != PGRES_POLLING_FAILED) {
        const int socket = PQsocket(conn);
        if (socket < 0) break;
        // Timed out or failed: the status stays bad.
        if (waitSocket(socket, state == PGRES_POLLING_READING, timeoutMs) <= 0) break;
        state = PQconnectPoll(conn);
    }
    return conn;
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
    const char* keys[] = {"dbname", "password", nullptr};
    const char* values[] = {info.constData(), nullptr, nullptr};
    conn_ = connectVerbose(keys, values);
    // Asked while the server wants a password nobody gave, and again while it refuses the one given.
    QByteArray pw;
    QString code, why;
    bool cancelled = false;
    while (conn_ && PQstatus(conn_) != CONNECTION_OK) {
        why = splitCode(QString::fromUtf8(PQerrorMessage(conn_)), &code);
        if (!prompt()) break;
        const bool refused = !pw.isEmpty() && passwordRefused(conn_, code);
        if (!refused && !PQconnectionNeedsPassword(conn_)) break;
        const QString password = prompt()(
            safeUrl(url_), refused ? QStringLiteral("The server did not accept the password") : QString());
        if (password.isEmpty()) {
            cancelled = true;
            break;
        }
        PQfinish(conn_);
        pw = password.toUtf8();
        values[1] = pw.constData();
        conn_ = connectVerbose(keys, values);
    }
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
        if (cancelled)
            why = QStringLiteral("no password was given");
        else if (conn_ && PQstatus(conn_) != CONNECTION_BAD) // cut off by connect_timeout
            why = QStringLiteral("the server did not answer within connect_timeout");
        else if (why.isEmpty())
            why = QStringLiteral("the client library could not start the connection");
        PQfinish(conn_);
        conn_ = nullptr;
        throw ConnectError(
            cancelled ? ConnectError::Kind::Cancelled : failureKind(info), why,
            QStringLiteral("Cannot connect to the database server %1: %2").arg(safeUrl(url_), why));
    }
    PQsetErrorVerbosity(conn_, PQERRORS_DEFAULT);
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
