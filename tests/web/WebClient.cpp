#include "WebClient.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <future>
#ifdef _WIN32
#include <winsock2.h>
using socket_t = SOCKET;
namespace {
constexpr int MSG_NOSIGNAL = 0; // Winsock raises no SIGPIPE
int poll(pollfd* p, unsigned long n, int ms) {
    return WSAPoll(p, n, ms);
}
void closeSocket(socket_t s) {
    closesocket(s);
}
struct Winsock { // Qt's network layer starts Winsock too, but the raw client may run first
    Winsock() {
        WSADATA d;
        WSAStartup(MAKEWORD(2, 2), &d);
    }
} winsock;
} // namespace
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using socket_t = int;
namespace {
void closeSocket(socket_t s) {
    ::close(s);
}
} // namespace
#endif

namespace {

HttpReply parse(const std::string& raw) {
    HttpReply r;
    const size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || end == std::string::npos) return r;
    r.status = std::atoi(raw.c_str() + 9);
    size_t at = raw.find("\r\n") + 2;
    while (at < end) {
        const size_t eol = raw.find("\r\n", at);
        const std::string line = raw.substr(at, eol - at);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char& c : name)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value.front() == ' ')
                value.erase(value.begin());
            r.headers.emplace(name, value);
        }
        at = eol + 2;
    }
    r.body = raw.substr(end + 4);
    return r;
}

// True once raw holds a whole response with its Content-Length body.
bool complete(const std::string& raw) {
    const size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    const HttpReply r = parse(raw);
    const std::string length = r.header("content-length");
    return !length.empty() && raw.size() >= end + 4 + std::stoul(length);
}

std::string exchangeOnSocket(uint16_t port, const std::string& raw, int timeoutMs) {
    const socket_t fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string got;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        size_t sent = 0;
        while (sent < raw.size()) {
            const auto n = ::send(fd, raw.data() + sent, int(raw.size() - sent), MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += size_t(n);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[65536];
        while (!complete(got) && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const auto n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, size_t(n));
        }
    }
    closeSocket(fd);
    return got;
}

} // namespace

std::string HttpReply::header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

HttpReply rawExchange(uint16_t port, const std::string& raw, int timeoutMs, bool pump) {
    if (!pump) return parse(exchangeOnSocket(port, raw, timeoutMs));
    auto reply = std::async(std::launch::async, exchangeOnSocket, port, raw, timeoutMs);
    while (reply.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return parse(reply.get());
}

std::string formEncode(const std::string& value) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.')
            out += char(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

HttpReply WebClient::send(const std::string& request) {
    const uint16_t port = other_ && sent_++ % 2 ? other_ : port_;
    HttpReply r = rawExchange(port, request, 10000, pump_);
    for (auto [it, end] = r.headers.equal_range("set-cookie"); it != end; ++it) {
        const std::string& c = it->second;
        const size_t eq = c.find('='), semi = c.find(';');
        const std::string name = c.substr(0, eq), value = c.substr(eq + 1, semi - eq - 1);
        if (value.empty() || c.find("Max-Age=0") != std::string::npos)
            cookies_.erase(name);
        else
            cookies_[name] = value;
    }
    const std::string marker = "name=\"t\" value=\"";
    if (const size_t at = r.body.find(marker); at != std::string::npos)
        token_ = r.body.substr(at + marker.size(), r.body.find('"', at + marker.size()) - at - marker.size());
    return r;
}

namespace {
std::string cookieLine(const std::map<std::string, std::string>& jar) {
    if (jar.empty()) return {};
    std::string line = "Cookie: ";
    for (const auto& [k, v] : jar)
        line += k + "=" + v + "; ";
    return line + "\r\n";
}
} // namespace

HttpReply WebClient::get(const std::string& target) {
    return send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                cookieLine(cookies_) + "\r\n");
}

HttpReply WebClient::post(const std::string& path, const std::map<std::string, std::string>& form) {
    std::string body;
    for (const auto& [k, v] : form)
        body += (body.empty() ? "" : "&") + formEncode(k) + "=" + formEncode(v);
    return send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                cookieLine(cookies_) + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n" + body);
}

namespace {
int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

} // namespace

std::string browserRun(uint16_t port, const std::string& group, const std::string& surname, int index,
                       std::map<int, int>& chosen, std::map<int, int>& options) {
    WebClient b(port, false);
    b.get("/");
    if (b.post("/code", {{"t", b.token()}, {"kod", group}}).status != 200) return "group code refused";
    const HttpReply made = b.post(
        "/register", {{"t", b.token()}, {"fam", surname}, {"nam", "Веб"}, {"pol", "Ж"}, {"god", "2011"}});
    if (made.status != 200) return "registration: " + std::to_string(made.status) + " " + made.body;
    for (int q = 1;; ++q) {
        const HttpReply page = b.get("/q?n=" + std::to_string(q));
        if (page.status == 404) break; // past the last question
        if (page.status != 200) return "question " + std::to_string(q) + ": " + std::to_string(page.status);
        options[q] = count(page.body, "name=\"o\"");
        if (options[q] == 0) return "question " + std::to_string(q) + " has no options";
        const int o = (index + q) % options[q];
        const HttpReply saved =
            b.post("/answer", {{"t", b.token()}, {"q", std::to_string(q)}, {"o", std::to_string(o)}});
        if (saved.status != 303) return "answer " + std::to_string(q) + ": " + std::to_string(saved.status);
        chosen[q] = o;
    }
    return chosen.empty() ? "no question shown" : std::string();
}
