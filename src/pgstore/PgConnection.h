#pragma once
#include "Errors.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace pg {

// A parameter of a statement: text as PostgreSQL reads it, or SQL NULL.
using Param = std::optional<QString>;

// The rows of one statement, as text.
class Result {
public:
    explicit Result(pg_result* r = nullptr) : r_(r) {}
    ~Result();
    Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
    Result& operator=(Result&& o) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    int rows() const;
    int columns() const;
    bool isNull(int row, int col) const;
    QString text(int row, int col) const;
    const char* raw(int row, int col) const;

private:
    pg_result* r_;
};

// Why a connection could not be made: the start and the first-start window say it in their words.
class ConnectError : public db::DatabaseError {
public:
    enum class Kind {
        BadAddress,  // the URL cannot be read, or names no host that resolves
        Unreachable, // nothing answers at that address
        Refused,     // the server answers but does not let us in (role, password, database, pg_hba)
        Cancelled,   // the password prompt was cancelled
    };
    ConnectError(Kind kind, const QString& detail, const QString& message)
        : db::DatabaseError(message), kind_(kind), detail_(detail) {}
    Kind kind() const { return kind_; }
    // The client library's or server's own words.
    const QString& detail() const { return detail_; }

private:
    Kind kind_;
    QString detail_;
};

// One libpq connection. Statements run one at a time; a connection that broke is opened again
// at the next statement, never in the middle of a transaction.
class Connection {
public:
    // Throws ConnectError saying in plain words why the server refused or could not be reached.
    explicit Connection(QString url);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // The connection the tables of one database share within a process.
    static std::shared_ptr<Connection> shared(const QString& url);
    // Closes the shared and spare connections (tests that stop their server).
    static void dropShared();
    // A connection of its own for a transaction that stays open (a row lock): one kept from an
    // earlier lock when there is one, else a new one.
    static std::unique_ptr<Connection> spare(const QString& url, bool* reused = nullptr);
    // Keeps a connection whose transaction has ended for the next spare: connecting costs more
    // than the lock it serves.
    static void keepSpare(std::unique_ptr<Connection> c);

    const QString& url() const { return url_; }
    // The URL without a password, for messages.
    static QString safeUrl(const QString& url);

    // Runs a statement; throws DatabaseError with the server's message. A row lock another
    // session holds becomes "Record locked by another user.".
    Result exec(const QString& sql, const std::vector<Param>& params = {});
    // A statement sent without waiting for its rows, so that the server works while the program
    // does; receive takes them, and must come before any other statement on the connection.
    void send(const QString& sql, const std::vector<Param>& params = {});
    Result receive(const QString& sql);
    // Statements with no parameters, separated by semicolons, in one round trip; the rows of the
    // one that returns rows. The first that fails stops the rest and throws.
    Result script(const QString& sql);
    // COPY ... FROM STDIN: next fills a block of lines in COPY's text format and returns false
    // when there is no more. A failure anywhere makes the whole COPY store nothing.
    void copyIn(const QString& sql, const std::function<bool(QByteArray&)>& next);
    bool inTransaction() const { return depth_ > 0; }
    // Nested calls join the outer transaction; the outermost one commits, or rolls back when fn throws.
    void transaction(const std::function<void()>& fn);
    // The libpq connection, for waiting on its socket (notifications); null while broken.
    pg_conn* handle() const { return conn_; }
    // True when the server process pid serves one of this program's connections.
    static bool ownBackend(int pid);

private:
    void connect();
    void ready(); // connected again when the connection broke outside a transaction
    [[noreturn]] void fail(pg_result* r, const QString& sql);

    QString url_;
    pg_conn* conn_ = nullptr;
    int depth_ = 0;
};

// How a password is asked for when neither the URL nor ~/.pgpass gives one (the program sets a
// dialog; without one the login fails with the server's message). problem is empty at the first
// question and says why when the server refused the last answer; an empty answer cancels.
using PasswordPrompt = std::function<QString(const QString& url, const QString& problem)>;
void setPasswordPrompt(PasswordPrompt prompt);

// A value as a field of COPY's text format: backslash, tab and line ends escaped.
void appendCopyField(QByteArray& line, const Param& value);

// Quotes an identifier for SQL.
QString ident(const QString& name);

} // namespace pg
