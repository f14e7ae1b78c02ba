#include "web/HttpServer.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace web {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

const char* reasonText(int status) {
    return http::obsolete_reason(http::int_to_status(unsigned(status))).data();
}

} // namespace

struct HttpServer::Impl {
    Handler handler;
    Limits limits;
    std::thread thread;
    uint16_t port = 0;
    QString address;
    // Connection counts, touched by the I/O thread only.
    int open = 0;
    std::map<std::string, int> perPeer;
    // Requests on their way to the engine.
    std::mutex mutex;
    std::vector<Exchange> queue;
    bool drainPosted = false;
    std::atomic<bool> stopping{false};
    std::vector<std::shared_ptr<std::vector<Exchange>>> delayed; // replies held back (tests)
    // Last, so that it goes first: the connections it still holds count themselves out above.
    net::io_context io{1};
    std::optional<tcp::acceptor> acceptor;

    void accept(HttpServer* owner);
};

namespace {

// One client connection: reads a request within the limits, hands it to the engine, writes the
// response, and reads the next.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, HttpServer::Impl* server, HttpServer* owner, std::string peer)
        : stream_(std::move(socket)), server_(server), owner_(owner), peer_(std::move(peer)) {}
    ~Connection() {
        --server_->open;
        if (--server_->perPeer[peer_] <= 0) server_->perPeer.erase(peer_);
    }

    void read() {
        parser_.emplace();
        parser_->header_limit(uint32_t(server_->limits.headerBytes));
        parser_->body_limit(server_->limits.bodyBytes);
        stream_.expires_after(std::chrono::seconds(server_->limits.requestSeconds));
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, size_t) { self->onRead(ec); });
    }

    void refuse(int status, const char* text) {
        Response r;
        r.status = status;
        r.contentType = "text/plain; charset=utf-8";
        r.body = text;
        write(std::move(r), false);
    }

private:
    void onRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::eof ||
            ec == net::error::operation_aborted || ec == net::error::connection_reset) {
            close();
            return;
        }
        if (ec == http::error::header_limit)
            return refuse(431, "Запрос не принят: слишком длинные заголовки.\n");
        if (ec == http::error::body_limit) return refuse(413, "Запрос не принят: слишком большой.\n");
        if (ec) return refuse(400, "Запрос не принят.\n");
        http::request<http::string_body> req = parser_->release();
        keepAlive_ = req.keep_alive();
        Exchange x;
        if (!toRequest(req, x.request)) return refuse(400, "Запрос не принят.\n");
        x.reply = [self = shared_from_this()](Response&& r) {
            net::post(self->stream_.get_executor(),
                      [self, r = std::move(r)]() mutable { self->write(std::move(r), self->keepAlive_); });
        };
        {
            std::lock_guard<std::mutex> lock(server_->mutex);
            server_->queue.push_back(std::move(x));
            if (server_->drainPosted) return;
            server_->drainPosted = true;
        }
        HttpServer* owner = owner_;
        QMetaObject::invokeMethod(
            owner, [owner] { owner->drain(); }, Qt::QueuedConnection);
    }

    bool toRequest(const http::request<http::string_body>& req, Request& out) {
        out.method = std::string(req.method_string());
        const std::string target(req.target());
        const size_t q = target.find('?');
        if (!urlDecode(target.substr(0, q), out.path) || out.path.empty() || out.path[0] != '/') return false;
        if (q != std::string::npos && !parseForm(target.substr(q + 1), out.query)) return false;
        if (auto it = req.find(http::field::cookie); it != req.end())
            parseCookies(std::string(it->value()), out.cookies);
        if (auto it = req.find("X-Morv"); it != req.end()) out.script = it->value() == "1";
        if (req.method() == http::verb::post) {
            auto type = req.find(http::field::content_type);
            const bool form = type != req.end() &&
                              std::string(type->value()).rfind("application/x-www-form-urlencoded", 0) == 0;
            if (!form && !req.body().empty()) return false;
            if (!parseForm(req.body(), out.form)) return false;
        }
        out.peer = peer_;
        return true;
    }

    void write(Response&& r, bool keepAlive) {
        auto res = std::make_shared<http::response<http::string_body>>();
        res->version(11);
        res->result(unsigned(r.status));
        res->reason(reasonText(r.status));
        res->set(http::field::server, "morvanta");
        res->set(http::field::content_type, r.contentType);
        // Nothing a testee saw may come back from a cache, on this computer or on the way.
        res->set(http::field::cache_control, "no-store");
        res->set(http::field::pragma, "no-cache");
        res->set("X-Content-Type-Options", "nosniff");
        res->set("X-Frame-Options", "DENY");
        res->set("Referrer-Policy", "no-referrer");
        res->set("Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; script-src 'self'; connect-src 'self'; "
                 "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
        for (const auto& [name, value] : r.headers)
            res->insert(name, value);
        res->body() = std::move(r.body);
        res->keep_alive(keepAlive);
        res->prepare_payload();
        stream_.expires_after(std::chrono::seconds(server_->limits.requestSeconds));
        http::async_write(stream_, *res,
                          [self = shared_from_this(), res, keepAlive](beast::error_code ec, size_t) {
                              if (ec || !keepAlive || self->server_->stopping)
                                  self->close();
                              else
                                  self->read();
                          });
    }

    void close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_{8192};
    std::optional<http::request_parser<http::string_body>> parser_;
    HttpServer::Impl* server_;
    HttpServer* owner_;
    std::string peer_;
    bool keepAlive_ = true;
};

} // namespace

void HttpServer::Impl::accept(HttpServer* owner) {
    acceptor->async_accept(net::make_strand(io), [this, owner](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || stopping) return;
        if (!ec) {
            beast::error_code peerError;
            const tcp::endpoint peer = socket.remote_endpoint(peerError);
            const std::string who = peerError ? std::string("?") : peer.address().to_string();
            if (open >= limits.connections || perPeer[who] >= limits.connectionsPerPeer) {
                // Over the limit: closed at once, so that one client cannot starve the others.
                if (perPeer[who] == 0) perPeer.erase(who);
                socket.close(peerError);
            } else {
                ++open;
                ++perPeer[who];
                std::make_shared<Connection>(std::move(socket), this, owner, who)->read();
            }
        }
        accept(owner);
    });
}

HttpServer::HttpServer(Handler handler, Limits limits, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>()) {
    d_->handler = std::move(handler);
    d_->limits = limits;
}

HttpServer::~HttpServer() {
    stop();
}

void HttpServer::listen(const QString& address, uint16_t port) {
    if (d_->acceptor) throw std::runtime_error("the server is listening already");
    beast::error_code ec;
    const net::ip::address addr = net::ip::make_address(address.toStdString(), ec);
    if (ec) throw ListenError("not an address: " + address.toStdString(), 0);
    tcp::acceptor acceptor(d_->io);
    const tcp::endpoint endpoint(addr, port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        throw ListenError("cannot listen on " + address.toStdString() + ":" + std::to_string(port) + ": " +
                              ec.message(),
                          ec.category() == boost::system::system_category() ? ec.value() : -1);
    d_->port = acceptor.local_endpoint().port();
    d_->address = address;
    d_->acceptor.emplace(std::move(acceptor));
    d_->stopping = false;
    d_->accept(this);
    d_->thread = std::thread([this] { d_->io.run(); });
}

uint16_t HttpServer::port() const {
    return d_->port;
}

QString HttpServer::address() const {
    return d_->address;
}

bool HttpServer::listening() const {
    return d_->acceptor.has_value();
}

void HttpServer::stop() {
    if (!d_->acceptor) return;
    d_->stopping = true;
    net::post(d_->io, [this] {
        beast::error_code ignored;
        d_->acceptor->close(ignored);
    });
    d_->io.stop();
    if (d_->thread.joinable()) d_->thread.join();
    d_->acceptor.reset();
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        d_->queue.clear();
    }
    d_->delayed.clear();
    // Connections still open are dropped with the context; a new listen makes a fresh one.
    auto fresh = std::make_unique<Impl>();
    fresh->handler = std::move(d_->handler);
    fresh->limits = d_->limits;
    d_ = std::move(fresh);
}

void HttpServer::drain() {
    std::vector<Exchange> batch;
    {
        std::lock_guard<std::mutex> lock(d_->mutex);
        batch.swap(d_->queue);
        d_->drainPosted = false;
    }
    if (batch.empty()) return;
    d_->handler(batch);
    if (d_->limits.replyDelayMs > 0) {
        // Held by the server, so that a stop drops them with the connections they answer.
        auto later = std::make_shared<std::vector<Exchange>>(std::move(batch));
        d_->delayed.push_back(later);
        QTimer::singleShot(d_->limits.replyDelayMs, this, [this, weak = std::weak_ptr(later)] {
            auto held = weak.lock();
            if (!held) return;
            std::erase(d_->delayed, held);
            for (Exchange& x : *held)
                x.reply(std::move(x.response));
        });
        return;
    }
    for (Exchange& x : batch)
        x.reply(std::move(x.response));
}

} // namespace web
