#include "web/Http.h"

namespace web {

namespace {
int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
} // namespace

bool urlDecode(const std::string& in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= in.size()) return false;
            const int h = hex(in[i + 1]), l = hex(in[i + 2]);
            if (h < 0 || l < 0) return false;
            const char d = char(h * 16 + l);
            if (d == '\0') return false; // no part of a page or a table holds a NUL
            out += d;
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool parseForm(const std::string& text, std::map<std::string, std::string>& out) {
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('&', at);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(at, end - at);
        if (!part.empty()) {
            const size_t eq = part.find('=');
            std::string name, value;
            if (!urlDecode(part.substr(0, eq), name)) return false;
            if (eq != std::string::npos && !urlDecode(part.substr(eq + 1), value)) return false;
            // A repeated name is a hand-made request: the pages never send one.
            if (!out.emplace(name, value).second) return false;
        }
        at = end + 1;
    }
    return true;
}

void parseCookies(const std::string& header, std::map<std::string, std::string>& out) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::string part = header.substr(at, end - at);
        while (!part.empty() && part.front() == ' ')
            part.erase(part.begin());
        const size_t eq = part.find('=');
        if (eq != std::string::npos) out.emplace(part.substr(0, eq), part.substr(eq + 1));
        at = end + 1;
    }
}

} // namespace web
