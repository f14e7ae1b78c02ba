// morv-webload: a class answering through the browser test server, simulated. Makes a database
// with one 200-question test and N testees, opens a session, starts `morv-db serve` on
// 127.0.0.1, and has every testee answer on a keep-alive connection of its own, as the page's
// script does (one request per answer). Prints the answer request's median and 99th
// percentile, the answers per second, and checks every answer is stored exactly once.
//
//   morv-webload --morv-db PATH [--testees 200] [--questions 200] [--pause-min MS]
//                [--pause-max MS] [--dir DIR] [--open-only] [--servers N [--balancer]]
//
// --servers N: N servers on the database; each testee's connection goes to one of them in turn,
// or, with --balancer, every connection goes to haproxy on 127.0.0.1, which spreads the
// requests round robin over the servers.
//
// --open-only: each testee only opens its run (enters the code, shows a question): the server's
// memory for that many open runs beyond what it held before.
#include "dataset/Aliases.h"
#include "dataset/Table.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    QString morvDb, dir = QStringLiteral("/tmp/morv-webload");
    int testees = 200, questions = 200, pauseMin = 0, pauseMax = 0;
    int servers = 1;
    bool openOnly = false, balancer = false;
};

std::string lower(std::string s) {
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One keep-alive connection speaking just enough HTTP/1.1 for the server's pages.
class Connection {
public:
    explicit Connection(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("connect");
    }
    ~Connection() { ::close(fd_); }

    // Status and body; cookie kept from Set-Cookie.
    int request(const std::string& method, const std::string& target, const std::string& body,
                std::string& out, bool script = false) {
        std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!cookie_.empty()) req += "Cookie: " + cookie_ + "\r\n";
        if (script) req += "X-Morv: 1\r\n";
        if (method == "POST")
            req += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n";
        req += "\r\n" + body;
        if (::send(fd_, req.data(), req.size(), MSG_NOSIGNAL) != ssize_t(req.size()))
            throw std::runtime_error("send");
        for (;;) {
            const size_t end = buf_.find("\r\n\r\n");
            if (end != std::string::npos) {
                // Header names in any case: a balancer may pass them on in lower case.
                const std::string head = lower(buf_.substr(0, end));
                const size_t cl = head.find("content-length: ");
                const size_t len = cl == std::string::npos ? 0 : std::stoul(head.substr(cl + 16));
                if (buf_.size() >= end + 4 + len) {
                    out = buf_.substr(end + 4, len);
                    const size_t sc = head.find("set-cookie: mv=");
                    if (sc != std::string::npos) {
                        const std::string v = buf_.substr(sc + 12, head.find(';', sc) - sc - 12);
                        cookie_ = v == "mv=" ? std::string() : v;
                    }
                    const int status = std::atoi(head.c_str() + 9);
                    buf_.erase(0, end + 4 + len);
                    return status;
                }
            }
            char chunk[65536];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) throw std::runtime_error("connection closed");
            buf_.append(chunk, size_t(n));
        }
    }

private:
    int fd_ = -1;
    std::string buf_, cookie_;
};

std::string tokenOf(const std::string& page) {
    const std::string marker = "name=\"t\" value=\"";
    const size_t at = page.find(marker);
    if (at == std::string::npos) return {};
    return page.substr(at + marker.size(), page.find('"', at + marker.size()) - at - marker.size());
}

// The question the page shows (its form's hidden q).
int questionOn(const std::string& page) {
    const std::string marker = "name=\"q\" value=\"";
    const size_t at = page.find(marker);
    return at == std::string::npos ? 0 : std::atoi(page.c_str() + at + marker.size());
}

int optionsOn(const std::string& page) {
    int n = 0;
    for (size_t at = 0; (at = page.find("class=\"opt", at)) != std::string::npos; ++at)
        if (page[at + 10] == '"' || page[at + 10] == ' ') ++n; // not the "opts" block
    return n;
}

QString run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        throw std::runtime_error(
            ("failed: " + args.join(' ') + "\n" + p.readAllStandardError()).toStdString());
    return QString::fromUtf8(p.readAllStandardOutput());
}

long rssKb(qint64 pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// CPU seconds (user + system) the process has used so far.
double cpuSeconds(qint64 pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t paren = stat.rfind(')');
    if (paren == std::string::npos) return 0;
    std::istringstream rest(stat.substr(paren + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) // fields 3..13: state .. cmajflt
        rest >> skip;
    unsigned long long user = 0, system = 0;
    rest >> user >> system;
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

// Seconds the process's threads have waited for a processor while ready to run (the kernel's
// scheduler statistics): on a shared machine, the time other programs held the cores.
double waitedSeconds(qint64 pid) {
    double ns = 0;
    for (const QString& task :
         QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream f(QStringLiteral("/proc/%1/task/%2/schedstat").arg(pid).arg(task).toStdString());
        double run = 0, wait = 0;
        if (f >> run >> wait) ns += wait;
    }
    return ns / 1e9;
}

double percentile(std::vector<double>& v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// haproxy on a free port of 127.0.0.1 in front of the servers, round robin; its port.
uint16_t startBalancer(QProcess& p, const QString& dir, const std::vector<uint16_t>& servers) {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len);
    const uint16_t port = ntohs(a.sin_port);
    ::close(probe);
    std::string config = "global\n  maxconn 4000\ndefaults\n  mode http\n  maxconn 4000\n"
                         "  timeout connect 5s\n  timeout client 60s\n  timeout server 60s\n"
                         "  timeout http-keep-alive 60s\nfrontend front\n  bind 127.0.0.1:" +
                         std::to_string(port) +
                         "\n  default_backend class\nbackend class\n  balance roundrobin\n";
    for (size_t i = 0; i < servers.size(); ++i)
        config += "  server s" + std::to_string(i) + " 127.0.0.1:" + std::to_string(servers[i]) + "\n";
    const QString file = dir + QStringLiteral("/haproxy.cfg");
    std::ofstream(file.toStdString()) << config;
    p.start(QStringLiteral("haproxy"), {"-db", "-f", file});
    if (!p.waitForStarted(10000)) throw std::runtime_error("haproxy does not start");
    for (int i = 0; i < 100; ++i) {
        try {
            Connection c(port);
            std::string page;
            if (c.request("GET", "/", {}, page) == 200) return port;
        } catch (const std::exception&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("haproxy does not answer");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    const QStringList a = app.arguments();
    for (int i = 1; i < a.size(); ++i) {
        auto next = [&] { return i + 1 < a.size() ? a[++i] : QString(); };
        if (a[i] == "--morv-db")
            o.morvDb = next();
        else if (a[i] == "--dir")
            o.dir = next();
        else if (a[i] == "--testees")
            o.testees = next().toInt();
        else if (a[i] == "--questions")
            o.questions = next().toInt();
        else if (a[i] == "--pause-min")
            o.pauseMin = next().toInt();
        else if (a[i] == "--pause-max")
            o.pauseMax = next().toInt();
        else if (a[i] == "--open-only")
            o.openOnly = true;
        else if (a[i] == "--servers")
            o.servers = std::max(1, next().toInt());
        else if (a[i] == "--balancer")
            o.balancer = true;
        else {
            std::fprintf(stderr, "morv-webload: unknown argument %s\n", qPrintable(a[i]));
            return 2;
        }
    }
    if (o.morvDb.isEmpty()) {
        std::fprintf(stderr, "morv-webload: --morv-db PATH is needed\n");
        return 2;
    }
    try {
        QDir(o.dir).removeRecursively();
        run(o.morvDb, {"large", o.dir, "--orgs", "1", "--testees", QString::number(o.testees), "--tests", "1",
                       "--questions", QString::number(o.questions), "--answers", "0", "--scores", "0",
                       "--criteria", QString::number(std::min(10, o.questions))});
        const QStringList lines =
            run(o.morvDb, {"session", o.dir, "--test", "1", "--org", "1", "--testees", "all"})
                .split('\n', Qt::SkipEmptyParts);
        std::vector<std::pair<int, std::string>> codes;
        for (const QString& l : lines.mid(1))
            codes.emplace_back(l.section(' ', 0, 0).toInt(), l.section(' ', 1, 1).toStdString());

        std::vector<std::unique_ptr<QProcess>> servers;
        std::vector<uint16_t> ports;
        for (int i = 0; i < o.servers; ++i) {
            auto& server = *servers.emplace_back(std::make_unique<QProcess>());
            server.start(o.morvDb, {"serve", o.dir, "--listen", "127.0.0.1:0"});
            server.waitForReadyRead(30000);
            const QString first = QString::fromUtf8(server.readLine());
            ports.push_back(uint16_t(QRegularExpression(":(\\d+)/").match(first).captured(1).toUInt()));
        }
        QProcess balancer;
        if (o.balancer) ports = {startBalancer(balancer, o.dir, ports)};
        QProcess& server = *servers.front();
        const long rssBefore = rssKb(server.processId());
        std::vector<double> cpuBefore, waitBefore;
        for (const auto& s : servers) {
            cpuBefore.push_back(cpuSeconds(s->processId()));
            waitBefore.push_back(waitedSeconds(s->processId()));
        }

        std::mutex mutex;
        std::vector<double> latencies;
        std::map<std::pair<int, int>, int> expected;
        std::atomic<int> errors{0};
        const auto start = Clock::now();
        std::vector<std::thread> threads;
        for (const auto& [testee, code] : codes) {
            const uint16_t port = ports[threads.size() % ports.size()];
            threads.emplace_back([&, testee = testee, code = code, port] {
                try {
                    Connection c(port);
                    std::string page;
                    c.request("GET", "/", {}, page);
                    c.request("POST", "/code", "t=" + tokenOf(page) + "&kod=" + code, page);
                    c.request("POST", "/start", "t=" + tokenOf(page), page);
                    c.request("GET", "/q", {}, page);
                    if (o.openOnly) return; // the run stays open in the server

                    std::vector<double> mine;
                    std::map<std::pair<int, int>, int> chosen;
                    QRandomGenerator rng{quint32(testee)};
                    for (int i = 0; i < o.questions; ++i) {
                        const int q = questionOn(page);
                        if (o.pauseMax > 0)
                            std::this_thread::sleep_for(
                                std::chrono::milliseconds(rng.bounded(o.pauseMin, o.pauseMax + 1)));
                        const int opt = (testee + q) % std::max(1, optionsOn(page));
                        const auto t0 = Clock::now();
                        const int status = c.request("POST", "/answer",
                                                     "t=" + tokenOf(page) + "&q=" + std::to_string(q) +
                                                         "&o=" + std::to_string(opt),
                                                     page, true);
                        mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
                        if (status != 200) {
                            if (errors++ < 3)
                                std::fprintf(stderr, "status %d: %s\n", status, page.substr(0, 600).c_str());
                        }
                        chosen[{testee, q}] = opt;
                    }
                    std::lock_guard<std::mutex> lock(mutex);
                    latencies.insert(latencies.end(), mine.begin(), mine.end());
                    expected.insert(chosen.begin(), chosen.end());
                } catch (const std::exception& e) {
                    ++errors;
                    std::fprintf(stderr, "testee %d: %s\n", testee, e.what());
                }
            });
            // Runs are opened 200 at a time: one address may hold only so many connections.
            if (o.openOnly && threads.size() % 200 == 0) {
                for (auto& t : threads)
                    t.join();
                threads.clear();
            }
        }
        for (auto& t : threads)
            t.join();
        if (o.openOnly) {
            const long rss = rssKb(server.processId());
            std::printf(
                "open runs: %zu (refused %d); server memory %ld kB before, %ld kB with them: %.1f MB more\n",
                codes.size(), errors.load(), rssBefore, rss, double(rss - rssBefore) / 1024.0);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        double serverCpu = 0, serverWaited = 0;
        QStringList each;
        for (size_t i = 0; i < servers.size(); ++i) {
            const double cpu = cpuSeconds(servers[i]->processId()) - cpuBefore[i];
            each << QString::number(cpu, 'f', 1);
            serverCpu += cpu;
            serverWaited += waitedSeconds(servers[i]->processId()) - waitBefore[i];
        }
        if (servers.size() > 1)
            std::printf("%zu servers%s, CPU s each: %s\n", servers.size(),
                        o.balancer ? " behind haproxy" : "", qPrintable(each.join(QStringLiteral(", "))));
        balancer.terminate();
        balancer.waitForFinished(10000);
        for (const auto& s : servers) {
            s->terminate();
            s->waitForFinished(10000);
        }
        if (o.openOnly) return errors ? 1 : 0;

        // Every answer stored exactly once, with the option chosen.
        db::Aliases::bind(QStringLiteral("webload"), o.dir);
        db::Table rezult;
        rezult.setDatabaseName(QStringLiteral("webload"));
        rezult.setTableName(QStringLiteral("bd_rezult.dbf"));
        rezult.open();
        std::map<std::pair<int, int>, int> stored;
        int duplicates = 0, wrong = 0;
        for (int row = 0; row < rezult.recordCount(); ++row) {
            auto v = [&](const char* f) { return int(rezult.valueAt(row, rezult.fieldByName(f)).toInt()); };
            const std::pair<int, int> key{v("NOMTESTIR"), v("NOMVOPR")};
            if (!stored.emplace(key, v("OTVET")).second) ++duplicates;
        }
        for (const auto& [key, opt] : expected)
            if (auto it = stored.find(key); it == stored.end() || it->second != opt) ++wrong;
        const size_t answers = latencies.size();
        std::printf("testees %d, questions %d, pause %d-%d ms: %zu answers in %.1f s = %.0f answers/s\n",
                    o.testees, o.questions, o.pauseMin, o.pauseMax, answers, seconds,
                    double(answers) / seconds);
        std::printf("answer request: median %.2f ms, p99 %.2f ms, max %.2f ms; refused %d\n",
                    percentile(latencies, 0.5), percentile(latencies, 0.99), percentile(latencies, 1.0),
                    errors.load());
        std::printf("server CPU %.1f s (%.0f%% of one core), %.3f ms per answer; waited %.1f s for a "
                    "processor while ready to run\n",
                    serverCpu, 100.0 * serverCpu / seconds,
                    answers ? 1000.0 * serverCpu / double(answers) : 0.0, serverWaited);
        std::printf("stored rows %d, answers expected %zu, missing or wrong %d, duplicate rows %d\n",
                    rezult.recordCount(), expected.size(), wrong, duplicates);
        return errors || wrong || duplicates || answers != size_t(o.testees) * size_t(o.questions) ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morv-webload: %s\n", e.what());
        return 1;
    }
}
