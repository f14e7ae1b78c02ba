#pragma once
#include <cstdint>
#include <map>
#include <string>

// An HTTP client over a plain socket for the server tests: it sends exactly the bytes given, so
// a test can send what no browser would. The server runs on the test's own thread, so each
// exchange runs in a thread of its own while this one keeps the event loop going.
struct HttpReply {
    int status = 0;                                  // 0: the server closed or said nothing
    std::multimap<std::string, std::string> headers; // names in lower case
    std::string body;
    std::string header(const std::string& name) const;
};

// Sends raw to 127.0.0.1:port and reads one response (or until the server closes). pump: keep
// this thread's event loop going meanwhile (for a server in this process); a thread of a test
// whose server is another process passes false.
HttpReply rawExchange(uint16_t port, const std::string& raw, int timeoutMs = 10000, bool pump = true);

// A browser's part: a cookie jar, the page token of the last page, and forms sent with it.
class WebClient {
public:
    explicit WebClient(uint16_t port, bool pump = true) : port_(port), pump_(pump) {}
    HttpReply get(const std::string& target);
    HttpReply post(const std::string& path, const std::map<std::string, std::string>& form);
    // The value of the first hidden "t" of the last page, as the page's forms send it.
    const std::string& token() const { return token_; }
    std::map<std::string, std::string>& cookies() { return cookies_; }
    // Sends every second request to other: a browser whose requests alternate between two
    // servers of one database.
    void alternate(uint16_t other) { other_ = other; }

private:
    HttpReply send(const std::string& request);
    uint16_t port_;
    uint16_t other_ = 0;
    unsigned sent_ = 0;
    bool pump_;
    std::map<std::string, std::string> cookies_;
    std::string token_;
};

// Form encoding of one value.
std::string formEncode(const std::string& value);

// One testee in a browser: registers with the group code as surname, then answers every
// question of the test in order, option (index + question) mod the question's options (counted
// into options). Returns what went wrong, or nothing.
std::string browserRun(uint16_t port, const std::string& group, const std::string& surname, int index,
                       std::map<int, int>& chosen, std::map<int, int>& options);
