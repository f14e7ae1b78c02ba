#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace web {

// A browser as every test server on the database knows it: its cookie names the run it entered
// the code for and is signed with the servers' shared key, so a server that never saw the code
// entered still knows whose run the browser answers, and no browser can name another's run.
struct DeviceId {
    int session = 0, org = 0, testee = 0; // testee 0: registering with the group code
    int64_t created = 0;                  // when the code was entered (ms since the epoch)
    std::string secret;                   // random; only its mark is stored
};

class DeviceSigner {
public:
    explicit DeviceSigner(QByteArray key) : key_(std::move(key)) {}

    std::string cookie(const DeviceId& d) const;
    // The device a cookie names, or nothing when no server of this database made it.
    std::optional<DeviceId> parse(const std::string& cookie) const;
    // What the database stores of the device that answers a run: enough to tell it, useless
    // for making its cookie.
    static QString mark(const DeviceId& d);

    // A page token of the form of question (0 for any other form) for the browser with cookie
    // (empty on the code entry), good until expires.
    std::string token(const std::string& cookie, int question, int64_t expires) const;
    // Whether token is one this database's servers gave that browser, for that question (any
    // when question is 0), and still good at now.
    bool check(const std::string& token, const std::string& cookie, int question, int64_t now) const;

private:
    QByteArray key_;
    std::string sign(const std::string& text) const;
};

std::string randomHex(int bytes);

} // namespace web
