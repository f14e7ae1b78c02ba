#include "KeyExpr.h"

#include <QDate>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace dbf {

struct KeyExpr::Node {
    enum Kind { Field, Literal, Call, Add, Sub, Compare, And, Or, Not } kind = Literal;
    Type type = Type::Char;
    int width = 0;
    int field = -1;
    std::string name; // function name or comparison operator
    Value literal;
    std::vector<std::unique_ptr<Node>> args;
};

namespace {

using Node = KeyExpr::Node;
using Type = KeyExpr::Type;
using Value = KeyExpr::Value;

std::string upperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return s;
}

class Parser {
public:
    Parser(const std::string& text, const std::vector<FieldDef>& fields) : s_(text), fields_(fields) {}

    std::unique_ptr<Node> parse() {
        auto n = orExpr();
        skip();
        if (p_ != s_.size()) fail("unexpected '" + s_.substr(p_, 10) + "'");
        return n;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw DbfError("Index expression \"" + s_ + "\": " + why);
    }
    void skip() {
        while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_])))
            ++p_;
    }
    bool eat(const char* tok) {
        skip();
        size_t n = std::strlen(tok);
        if (s_.size() - p_ < n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::toupper(static_cast<unsigned char>(s_[p_ + i])) != tok[i]) return false;
        p_ += n;
        return true;
    }
    void expect(const char* tok) {
        if (!eat(tok)) fail(std::string("'") + tok + "' expected");
    }

    static std::unique_ptr<Node> make(Node::Kind k, Type t) {
        auto n = std::make_unique<Node>();
        n->kind = k;
        n->type = t;
        return n;
    }

    std::unique_ptr<Node> orExpr() {
        auto l = andExpr();
        while (eat(".OR.")) {
            auto n = make(Node::Or, Type::Logical);
            n->args.push_back(std::move(l));
            n->args.push_back(andExpr());
            logical(*n);
            l = std::move(n);
        }
        return l;
    }
    std::unique_ptr<Node> andExpr() {
        auto l = notExpr();
        while (eat(".AND.")) {
            auto n = make(Node::And, Type::Logical);
            n->args.push_back(std::move(l));
            n->args.push_back(notExpr());
            logical(*n);
            l = std::move(n);
        }
        return l;
    }
    void logical(const Node& n) {
        for (auto& a : n.args)
            if (a->type != Type::Logical) fail(".AND./.OR./.NOT. need logical operands");
    }
    std::unique_ptr<Node> notExpr() {
        if (eat(".NOT.") || eat("!")) {
            auto n = make(Node::Not, Type::Logical);
            n->args.push_back(notExpr());
            logical(*n);
            return n;
        }
        return compare();
    }
    std::unique_ptr<Node> compare() {
        auto l = sum();
        static const char* ops[] = {"<>", "<=", ">=", "=", "#", "<", ">"};
        for (const char* op : ops) {
            size_t save = p_;
            if (!eat(op)) continue;
            if (std::strcmp(op, "=") == 0 && p_ < s_.size() && s_[p_] == '=') ++p_;
            auto n = make(Node::Compare, Type::Logical);
            n->name = std::strcmp(op, "#") == 0 ? "<>" : op;
            n->args.push_back(std::move(l));
            n->args.push_back(sum());
            Type a = n->args[0]->type, b = n->args[1]->type;
            if (a != b || a == Type::Logical) {
                p_ = save;
                fail("cannot compare these operands");
            }
            return n;
        }
        return l;
    }
    std::unique_ptr<Node> sum() {
        auto l = primary();
        for (;;) {
            bool plus = eat("+");
            if (!plus && !eat("-")) return l;
            auto r = primary();
            Type t = l->type;
            if (l->type == Type::Char && r->type == Type::Char && plus) {
                t = Type::Char;
            } else if (l->type == Type::Number && r->type == Type::Number) {
                t = Type::Number;
            } else if (l->type == Type::Date && r->type == Type::Number) {
                t = Type::Date;
            } else if (l->type == Type::Date && r->type == Type::Date && !plus) {
                t = Type::Number;
            } else {
                fail(std::string("cannot ") + (plus ? "add" : "subtract") + " these operands");
            }
            auto n = make(plus ? Node::Add : Node::Sub, t);
            n->width = l->width + r->width;
            n->args.push_back(std::move(l));
            n->args.push_back(std::move(r));
            l = std::move(n);
        }
    }

    // A whole-number literal argument, needed where it fixes the width of the result.
    int literalInt(const Node& n, const char* what) {
        if (n.kind != Node::Literal || n.type != Type::Number) fail(std::string(what) + " must be a number");
        return int(n.literal.n);
    }

    std::unique_ptr<Node> primary() {
        skip();
        if (p_ >= s_.size()) fail("ends too early");
        char c = s_[p_];
        if (c == '(') {
            ++p_;
            auto n = orExpr();
            expect(")");
            return n;
        }
        if (c == '"' || c == '\'' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t e = s_.find(close, p_ + 1);
            if (e == std::string::npos) fail("a text literal is not closed");
            auto n = make(Node::Literal, Type::Char);
            n->literal.s = s_.substr(p_ + 1, e - p_ - 1);
            n->width = int(n->literal.s.size());
            p_ = e + 1;
            return n;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
            if (eat(".T.") || eat(".F.")) {
                auto n = make(Node::Literal, Type::Logical);
                n->literal.type = Type::Logical;
                n->literal.b = std::toupper(static_cast<unsigned char>(s_[p_ - 2])) == 'T';
                return n;
            }
            size_t e = p_;
            while (e < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[e])) || s_[e] == '.'))
                ++e;
            auto n = make(Node::Literal, Type::Number);
            n->literal.type = Type::Number;
            n->literal.n = std::strtod(s_.substr(p_, e - p_).c_str(), nullptr);
            p_ = e;
            return n;
        }
        if (c == '-') {
            ++p_;
            auto v = primary();
            if (v->kind != Node::Literal || v->type != Type::Number) fail("'-' before a non-number");
            v->literal.n = -v->literal.n;
            return v;
        }
        if (!std::isalpha(static_cast<unsigned char>(c)) && c != '_')
            fail("unexpected '" + std::string(1, c) + "'");
        size_t e = p_;
        while (e < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[e])) || s_[e] == '_'))
            ++e;
        std::string word = upperAscii(s_.substr(p_, e - p_));
        p_ = e;
        if (eat("->")) return primary(); // an alias prefix names this table
        skip();
        if (p_ < s_.size() && s_[p_] == '(') {
            ++p_;
            std::vector<std::unique_ptr<Node>> args;
            skip();
            if (!eat(")")) {
                do
                    args.push_back(orExpr());
                while (eat(","));
                expect(")");
            }
            return call(word, std::move(args));
        }
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (fields_[i].name != word) continue;
            const FieldDef& f = fields_[i];
            Type t = f.type == 'C'                    ? Type::Char
                     : f.type == 'D'                  ? Type::Date
                     : f.type == 'L'                  ? Type::Logical
                     : f.type == 'N' || f.type == 'F' ? Type::Number
                                                      : Type::Char;
            if (f.type == 'M') fail("memo field " + word + " cannot be a key");
            auto n = make(Node::Field, t);
            n->field = int(i);
            n->width = f.length;
            return n;
        }
        fail("unknown field or word " + word);
    }

    std::unique_ptr<Node> call(const std::string& fn, std::vector<std::unique_ptr<Node>> args) {
        auto argc = [&](size_t lo, size_t hi) {
            if (args.size() < lo || args.size() > hi)
                fail(fn + "() takes " + std::to_string(lo) + " to " + std::to_string(hi) + " arguments");
        };
        auto want = [&](size_t i, Type t) {
            if (args[i]->type != t)
                fail("argument " + std::to_string(i + 1) + " of " + fn + "() has the wrong type");
        };
        std::unique_ptr<Node> n;
        if (fn == "STR") {
            argc(1, 3);
            want(0, Type::Number);
            n = make(Node::Call, Type::Char);
            n->width = args.size() > 1 ? literalInt(*args[1], "the length of STR()") : 10;
            if (args.size() > 2) literalInt(*args[2], "the decimals of STR()");
            if (n->width < 1 || n->width > 255) fail("STR() length out of range");
        } else if (fn == "DTOS") {
            argc(1, 1);
            want(0, Type::Date);
            n = make(Node::Call, Type::Char);
            n->width = 8;
        } else if (fn == "UPPER") {
            argc(1, 1);
            want(0, Type::Char);
            n = make(Node::Call, Type::Char);
            n->width = args[0]->width;
        } else if (fn == "SUBSTR") {
            argc(2, 3);
            want(0, Type::Char);
            int start = literalInt(*args[1], "the start of SUBSTR()");
            int len =
                args.size() > 2 ? literalInt(*args[2], "the length of SUBSTR()") : args[0]->width - start + 1;
            if (start < 1 || len < 0) fail("SUBSTR() out of range");
            n = make(Node::Call, Type::Char);
            n->width = std::max(0, std::min(len, args[0]->width - start + 1));
        } else if (fn == "LEFT" || fn == "RIGHT") {
            argc(2, 2);
            want(0, Type::Char);
            int len = literalInt(*args[1], "the length of LEFT()/RIGHT()");
            if (len < 0) fail(fn + "() out of range");
            n = make(Node::Call, Type::Char);
            n->width = std::min(len, args[0]->width);
        } else if (fn == "VAL") {
            argc(1, 1);
            want(0, Type::Char);
            n = make(Node::Call, Type::Number);
        } else if (fn == "DELETED") {
            argc(0, 0);
            n = make(Node::Call, Type::Logical);
        } else {
            fail("unknown function " + fn + "()");
        }
        n->name = fn;
        n->args = std::move(args);
        return n;
    }

    const std::string& s_;
    const std::vector<FieldDef>& fields_;
    size_t p_ = 0;
};

double parseLeadingNumber(const std::string& s) {
    size_t i = s.find_first_not_of(' ');
    if (i == std::string::npos) return 0;
    size_t e = i;
    if (e < s.size() && (s[e] == '-' || s[e] == '+')) ++e;
    while (e < s.size() && (std::isdigit(static_cast<unsigned char>(s[e])) || s[e] == '.'))
        ++e;
    return std::strtod(s.substr(i, e - i).c_str(), nullptr);
}

Value fieldValue(const Node& n, const FieldDef& f, const char* record) {
    Value v;
    v.type = n.type;
    std::string_view raw(record + 1 + f.offset, f.length);
    switch (n.type) {
    case Type::Char:
        v.s.assign(raw);
        break;
    case Type::Number: {
        double d = 0;
        if (parseNumber(raw, d)) v.n = d;
        break;
    }
    case Type::Date: {
        v.blank = true;
        if (raw.size() < 8) break;
        int y = 0, m = 0, d = 0;
        if (std::sscanf(std::string(raw.substr(0, 8)).c_str(), "%4d%2d%2d", &y, &m, &d) != 3) break;
        QDate date(y, m, d);
        if (!date.isValid()) break;
        v.blank = false;
        v.n = double(date.toJulianDay());
        break;
    }
    case Type::Logical:
        v.b = std::strchr("TtYy", raw[0]) && raw[0];
        break;
    }
    return v;
}

Value evalNode(const Node& n, const char* record, const std::vector<FieldDef>* fields);

} // namespace

namespace {

std::string strOf(double v, int width, int decimals) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, v);
    std::string s(buf);
    if (int(s.size()) > width) return std::string(size_t(width), '*');
    return s;
}

int compareValues(const Value& a, const Value& b) {
    switch (a.type) {
    case Type::Char: {
        // dBASE compares the left side only as far as the right one goes (SET EXACT OFF).
        std::string l = a.s.substr(0, std::min(a.s.size(), b.s.size()));
        std::string r = b.s;
        while (!r.empty() && r.back() == ' ' && l.size() < r.size())
            r.pop_back();
        int c = std::memcmp(l.data(), r.data(), std::min(l.size(), r.size()));
        if (c) return c;
        return l.size() < r.size() ? -1 : 0;
    }
    case Type::Date:
        if (a.blank || b.blank) return int(b.blank) - int(a.blank);
        [[fallthrough]];
    case Type::Number:
        return a.n < b.n ? -1 : a.n > b.n ? 1 : 0;
    case Type::Logical:
        return int(a.b) - int(b.b);
    }
    return 0;
}

Value evalNode(const Node& n, const char* record, const std::vector<FieldDef>* fields) {
    auto arg = [&](size_t i) { return evalNode(*n.args[i], record, fields); };
    Value v;
    v.type = n.type;
    switch (n.kind) {
    case Node::Field:
        return fieldValue(n, (*fields)[size_t(n.field)], record);
    case Node::Literal:
        v = n.literal;
        v.type = n.type;
        return v;
    case Node::Add:
    case Node::Sub: {
        Value a = arg(0), b = arg(1);
        if (n.type == Type::Char) {
            v.s = a.s + b.s;
        } else if (a.type == Type::Date && b.type == Type::Date) {
            v.n = a.blank || b.blank ? 0 : a.n - b.n;
        } else {
            v.blank = a.blank;
            v.n = n.kind == Node::Add ? a.n + b.n : a.n - b.n;
        }
        return v;
    }
    case Node::Compare: {
        int c = compareValues(arg(0), arg(1));
        const std::string& op = n.name;
        v.b = op == "="    ? c == 0
              : op == "<>" ? c != 0
              : op == "<"  ? c < 0
              : op == ">"  ? c > 0
              : op == "<=" ? c <= 0
                           : c >= 0;
        return v;
    }
    case Node::And:
        v.b = arg(0).b && arg(1).b;
        return v;
    case Node::Or:
        v.b = arg(0).b || arg(1).b;
        return v;
    case Node::Not:
        v.b = !arg(0).b;
        return v;
    case Node::Call:
        break;
    }
    const std::string& fn = n.name;
    if (fn == "DELETED") {
        v.b = record[0] == '*';
    } else if (fn == "STR") {
        Value a = arg(0);
        int dec = n.args.size() > 2 ? int(n.args[2]->literal.n) : 0;
        v.s = strOf(a.n, n.width, dec);
    } else if (fn == "DTOS") {
        Value a = arg(0);
        if (a.blank) {
            v.s = std::string(8, ' ');
        } else {
            QDate d = QDate::fromJulianDay(qint64(a.n));
            char buf[16];
            std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year(), d.month(), d.day());
            v.s.assign(buf, 8);
        }
    } else if (fn == "UPPER") {
        v.s = upperAscii(arg(0).s);
    } else if (fn == "SUBSTR") {
        std::string s = arg(0).s;
        size_t start = size_t(n.args[1]->literal.n) - 1;
        v.s = start < s.size() ? s.substr(start, size_t(n.width)) : std::string();
    } else if (fn == "LEFT") {
        v.s = arg(0).s.substr(0, size_t(n.width));
    } else if (fn == "RIGHT") {
        std::string s = arg(0).s;
        v.s = s.substr(s.size() - std::min(s.size(), size_t(n.width)));
    } else if (fn == "VAL") {
        v.n = parseLeadingNumber(arg(0).s);
    }
    return v;
}

} // namespace

KeyExpr::KeyExpr(const std::string& text, const std::vector<FieldDef>& fields)
    : root_(Parser(text, fields).parse()), fields_(fields) {}

KeyExpr::~KeyExpr() = default;
KeyExpr::KeyExpr(KeyExpr&&) noexcept = default;
KeyExpr& KeyExpr::operator=(KeyExpr&&) noexcept = default;

KeyExpr::Type KeyExpr::type() const {
    return root_->type;
}
int KeyExpr::width() const {
    return root_->width;
}

KeyExpr::Value KeyExpr::eval(const char* record) const {
    return evalNode(*root_, record, &fields_);
}

} // namespace dbf
