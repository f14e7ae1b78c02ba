#include "web/Devices.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <charconv>
#include <vector>

namespace web {

namespace {

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

template <typename T> bool number(const std::string& s, T& out) {
    if (s.empty() || s.size() > 18) return false;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && out >= 0;
}

bool sameText(const std::string& a, const std::string& b) {
    // Compared in full whatever differs first: the time says nothing of the right signature.
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

std::string randomHex(int bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string t;
    for (int i = 0; i < bytes; ++i) {
        const quint32 v = QRandomGenerator::system()->generate();
        t += digits[(v >> 4) & 15];
        t += digits[v & 15];
    }
    return t;
}

std::string DeviceSigner::sign(const std::string& text) const {
    return QMessageAuthenticationCode::hash(QByteArray::fromStdString(text), key_, QCryptographicHash::Sha256)
        .toHex()
        .left(32)
        .toStdString();
}

std::string DeviceSigner::cookie(const DeviceId& d) const {
    const std::string body = std::to_string(d.session) + "." + std::to_string(d.org) + "." +
                             std::to_string(d.testee) + "." + std::to_string(d.created) + "." + d.secret;
    return body + "." + sign("device|" + body);
}

std::optional<DeviceId> DeviceSigner::parse(const std::string& cookie) const {
    const std::vector<std::string> parts = split(cookie, '.');
    if (parts.size() != 6) return std::nullopt;
    DeviceId d;
    if (!number(parts[0], d.session) || !number(parts[1], d.org) || !number(parts[2], d.testee) ||
        !number(parts[3], d.created) || parts[4].size() != 32)
        return std::nullopt;
    d.secret = parts[4];
    const std::string body = cookie.substr(0, cookie.size() - parts[5].size() - 1);
    if (!sameText(sign("device|" + body), parts[5])) return std::nullopt;
    return d;
}

QString DeviceSigner::mark(const DeviceId& d) {
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(d.secret), QCryptographicHash::Sha256)
            .toHex()
            .left(32));
}

std::string DeviceSigner::token(const std::string& cookie, int question, int64_t expires) const {
    const std::string body = std::to_string(question) + "." + std::to_string(expires) + "." + randomHex(8);
    return body + "." + sign("page|" + cookie + "|" + body);
}

bool DeviceSigner::check(const std::string& token, const std::string& cookie, int question,
                         int64_t now) const {
    const std::vector<std::string> parts = split(token, '.');
    int q = 0;
    int64_t expires = 0;
    if (parts.size() != 4 || !number(parts[0], q) || !number(parts[1], expires)) return false;
    if (expires < now || (question && q != question)) return false;
    const std::string body = token.substr(0, token.size() - parts[3].size() - 1);
    return sameText(sign("page|" + cookie + "|" + body), parts[3]);
}

} // namespace web
