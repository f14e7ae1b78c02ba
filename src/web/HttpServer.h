#pragma once
#include "web/Http.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace web {

// Limits on what a client may send; a request over any of them is refused and its connection
// closed, without reaching the engine.
struct Limits {
    size_t headerBytes = 8 * 1024;
    size_t bodyBytes = 16 * 1024;
    int requestSeconds = 20; // to send a whole request, and to be idle between requests
    int connections = 4000;  // at once, in all
    int connectionsPerPeer = 400;
    // Tests only: every response leaves this much later, as from a server under load.
    int replyDelayMs = 0;
};

// Listening refused by the system: error is its errno (EADDRINUSE for a port in use, EACCES for
// a privileged port, EADDRNOTAVAIL for an address this computer no longer has), 0 for a text
// that is no address.
class ListenError : public std::runtime_error {
public:
    ListenError(const std::string& what, int error) : std::runtime_error(what), error_(error) {}
    int error() const { return error_; }

private:
    int error_;
};

// An HTTP/1.1 server on one address: a thread of its own reads and writes the connections,
// and every request reaches the engine on the thread that made the server (through its Qt event
// loop), in groups: handler gets every request that arrived since its last call, fills their
// responses, and they are sent when it returns.
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(std::vector<Exchange>& batch)>;
    explicit HttpServer(Handler handler, Limits limits = {}, QObject* parent = nullptr);
    ~HttpServer() override;

    // Listens on address:port (port 0: one the system picks); throws ListenError with the reason.
    void listen(const QString& address, uint16_t port);
    uint16_t port() const;
    QString address() const;
    bool listening() const;
    void stop();

    // Runs the handler on the requests that arrived (called through the event loop).
    void drain();

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

} // namespace web
