#pragma once
#include "services/RunService.h"
#include "services/Sessions.h"
#include "web/Devices.h"
#include "web/Http.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace web {

class HttpServer;
struct Limits;

// Where a testee of a session stands: Finished has every question answered but the run not yet
// scored (the testee has still to end it); Moved was taken over by another device.
enum class RunState { NotStarted, Answering, Finished, Scored, Moved };

struct TesteeStatus {
    int org = 0, testee = 0;
    QString name, code;
    int answered = 0, total = 0;
    QDateTime lastActivity; // null before the first
    RunState state = RunState::NotStarted;
};

// The browser test server: the sessions of one database folder, served over HTTP. Lives on the
// thread that owns the tables (the program's, or morv-db's); the HTTP layer hands it requests
// through that thread's event loop.
class TestServer : public QObject {
    Q_OBJECT
public:
    // dir: the database folder; alias: the alias bound to it.
    TestServer(const QString& dir, const QString& alias, QObject* parent = nullptr);
    ~TestServer() override;

    void start(const QString& address, uint16_t port);
    void start(const QString& address, uint16_t port, const Limits& limits);
    void stop();
    bool running() const;
    uint16_t port() const;

    services::Session openSession(int test, int org, const std::vector<int>& testees, bool group,
                                  bool showScore);
    // Closing: the codes stop at once and every browser of the session is sent to the code entry.
    void closeSession(int id);
    void reopenSession(int id);
    // A new code: the old one stops, and the browser that used it is sent to the code entry.
    QString renewCode(int session, int org, int testee);
    // The session's testees as the server knows them, in code order; cheap enough for a window
    // to ask every second (the code list is read again from the table at most every few seconds,
    // at once after a change through this server).
    std::vector<TesteeStatus> status(int session);

    services::Sessions& sessions() { return *sessions_; }
    services::RunService& runs() { return *runs_; }

    // Answers one group of requests (the HTTP layer's handler).
    void handle(std::vector<Exchange>& batch);

private:
    struct Run {
        int session = 0;
        results::RunKey key;
        QString name, code;
        int current = 0; // the question shown last
        RunState state = RunState::NotStarted;
        std::vector<bool> answered;
        QDateTime last;
        bool complete() const;
    };
    using RunId = std::tuple<int, int, int>;

    QString dir_;
    std::unique_ptr<services::RunService> runs_;
    std::unique_ptr<services::Sessions> sessions_;
    std::unique_ptr<HttpServer> http_;
    // Cookies and page tokens signed with the key every server of the database shares; which
    // device answers a run is stored in the database, so the servers agree on it.
    std::unique_ptr<DeviceSigner> signer_;
    std::map<RunId, Run> runsById_;
    // Page tokens this server took, to tell a second click from the first.
    std::unordered_map<std::string, qint64> usedTokens_;
    std::deque<std::pair<qint64, std::string>> tokenOrder_;
    std::map<std::string, std::deque<qint64>> failures_; // by client address
    std::map<int, services::Session> sessionCache_;
    struct CodeList {
        std::vector<services::CodeEntry> entries;
        qint64 read = 0;
    };
    std::map<int, CodeList> codeCache_; // by session, for status()
    // Questions shown in this group of requests: their rows are made together at its end.
    std::vector<std::pair<results::RunKey, int>> shown_;
    bool flushPosted_ = false;
    void makeShownRows();
    void retryReplaced(std::vector<services::PendingChoice>& choices);
    qint64 sessionsRead_ = 0;

    // Routes; a deferred answer leaves the response to the group write.
    struct Deferred {
        Exchange* x;
        std::string device;
        size_t choice;
    };
    void route(Exchange& x, std::vector<services::PendingChoice>& choices, std::vector<Deferred>& deferred);
    void home(Exchange& x);
    void code(Exchange& x);
    void startRun(Exchange& x);
    void registerTestee(Exchange& x);
    void showQuestion(Exchange& x);
    void answer(Exchange& x, std::vector<services::PendingChoice>& choices, std::vector<Deferred>& deferred);
    void answered(const Deferred& d, const services::PendingChoice& c);
    void finish(Exchange& x);
    void leave(Exchange& x);

    std::string issueToken(const std::string& cookie, int question);
    // Whether the form's token was issued to this browser (and question); marks it used and says
    // whether this server took it before.
    bool takeToken(const Request& r, const std::string& cookie, int question, bool& reused);
    std::string deviceOf(const Request& r);
    std::optional<DeviceId> device(const std::string& cookie) const;
    // Whether the device is the one that answers its run, as stored this moment.
    bool owns(const DeviceId& d);
    // The run this browser answers now, or nothing, the response then saying why (lost is added
    // where the refused click carried an answer).
    Run* activeRun(Exchange& x, const std::string& cookie, const QString& lost);
    Run& runFor(int session, int org, int testee);
    // What the tables hold of the run: its answered questions, where it resumes, its state.
    void readRun(Run& run);
    const services::Session* sessionOf(int id);
    void refreshSessions(bool now = false);
    bool blocked(const std::string& peer);
    void failed(const std::string& peer);
    void render(Exchange& x, const std::string& cookie, Run& run, int question, const QString& notice,
                bool error, int status = 200);
    void ended(Exchange& x, const QString& heading, const QString& text, int status);
};

} // namespace web
