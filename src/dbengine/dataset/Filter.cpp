#include "Filter.h"

#include "../Errors.h"
#include "dbf/DbfFile.h"

#include <vector>

namespace db {

namespace {

enum class Tok { Ident, Number, String, Op, LParen, RParen, End };

struct Token {
    Tok kind;
    QString text;
    double number = 0;
    int pos = 0;
};

enum class Cmp { Eq, Ne, Lt, Gt, Le, Ge };

[[noreturn]] void bad(const QString& text, const QString& why) {
    throw DatabaseError(QStringLiteral("Invalid filter '%1': %2").arg(text, why));
}

std::vector<Token> tokenize(const QString& s) {
    std::vector<Token> out;
    int i = 0, n = int(s.size());
    while (i < n) {
        QChar c = s[i];
        if (c.isSpace()) {
            ++i;
            continue;
        }
        int start = i;
        // ASCII digits only: other scripts' digits are no number of a filter.
        auto digit = [&](int at) { return at < n && s[at] >= u'0' && s[at] <= u'9'; };
        auto startsNumber = [&](int at) { return digit(at) || (at < n && s[at] == u'.' && digit(at + 1)); };
        if (startsNumber(i) || c == u'-' || c == u'+') {
            if (c == u'-' || c == u'+') {
                ++i; // the sign of a number literal
                if (!startsNumber(i)) bad(s, QStringLiteral("a number must follow '%1'").arg(c));
            }
            while (digit(i))
                ++i;
            if (i < n && s[i] == u'.') {
                ++i;
                while (digit(i))
                    ++i;
            }
            // A number ends where the digits end, so "5and" is the number 5 and the word "and".
            QString t = s.mid(start, i - start);
            out.push_back({Tok::Number, t, t.toDouble(), start});
        } else if (c.isLetter() || c == u'_') {
            while (i < n && (s[i].isLetterOrNumber() || s[i] == u'_'))
                ++i;
            out.push_back({Tok::Ident, s.mid(start, i - start), 0, start});
        } else if (c == u'\'' || c == u'"') {
            QString t;
            ++i;
            for (;;) {
                if (i >= n) bad(s, QStringLiteral("unterminated quoted text at position %1").arg(start + 1));
                if (s[i] == c) {
                    if (i + 1 < n && s[i + 1] == c) {
                        t += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                t += s[i++];
            }
            out.push_back({Tok::String, t, 0, start});
        } else if (c == u'(') {
            out.push_back({Tok::LParen, QStringLiteral("("), 0, i++});
        } else if (c == u')') {
            out.push_back({Tok::RParen, QStringLiteral(")"), 0, i++});
        } else if (c == u'=' || c == u'<' || c == u'>') {
            ++i;
            if (i < n && ((c == u'<' && (s[i] == u'=' || s[i] == u'>')) || (c == u'>' && s[i] == u'='))) ++i;
            out.push_back({Tok::Op, s.mid(start, i - start), 0, start});
        } else {
            bad(s, QStringLiteral("unexpected character '%1' at position %2").arg(c).arg(start + 1));
        }
    }
    out.push_back({Tok::End, QString(), 0, int(n)});
    return out;
}

bool isWord(const Token& t, const char* w) {
    return t.kind == Tok::Ident && t.text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
}

} // namespace

// One operand of a comparison: a field of the file or a literal.
struct Operand {
    bool isField = false;
    QString name;
    int field = -1;
    char type = 0;
    bool isText = false;   // literal was quoted
    bool isNumber = false; // literal reads as a number (set when bound)
    double number = 0;
    QString text;
    std::string encoded; // text literal in the file's code page, for byte comparison
};

struct FilterNode {
    enum Kind { And, Or, Not, Compare } kind = Compare;
    std::unique_ptr<FilterNode> a, b;
    Cmp cmp = Cmp::Eq;
    Operand l, r;
    bool numeric = false; // compared as numbers: a number field takes part; else as stored text
};

namespace {

class Parser {
public:
    Parser(const QString& text) : text_(text), toks_(tokenize(text)) {}

    std::unique_ptr<FilterNode> parseAll() {
        auto n = parseOr();
        if (peek().kind != Tok::End)
            bad(text_, QStringLiteral("unexpected '%1' at position %2").arg(peek().text).arg(peek().pos + 1));
        return n;
    }

private:
    const Token& peek() const { return toks_[pos_]; }
    const Token& take() { return toks_[pos_++]; }

    // Parsing, evaluating and freeing all recurse over the tree: bound nesting and size so that
    // no text, however long, can overflow the stack.
    static constexpr int kMaxDepth = 256;
    static constexpr int kMaxNodes = 4096;
    void nest() {
        if (++depth_ > kMaxDepth)
            bad(text_, QStringLiteral("nested too deeply at position %1").arg(toks_[pos_ - 1].pos + 1));
    }
    std::unique_ptr<FilterNode> node() {
        if (++nodes_ > kMaxNodes) bad(text_, QStringLiteral("more than %1 terms").arg(kMaxNodes));
        return std::make_unique<FilterNode>();
    }

    std::unique_ptr<FilterNode> join(FilterNode::Kind k, std::unique_ptr<FilterNode> a,
                                     std::unique_ptr<FilterNode> b) {
        auto n = node();
        n->kind = k;
        n->a = std::move(a);
        n->b = std::move(b);
        return n;
    }
    std::unique_ptr<FilterNode> parseOr() {
        auto n = parseAnd();
        while (isWord(peek(), "or")) {
            take();
            n = join(FilterNode::Or, std::move(n), parseAnd());
        }
        return n;
    }
    std::unique_ptr<FilterNode> parseAnd() {
        auto n = parseNot();
        while (isWord(peek(), "and")) {
            take();
            n = join(FilterNode::And, std::move(n), parseNot());
        }
        return n;
    }
    std::unique_ptr<FilterNode> parseNot() {
        if (isWord(peek(), "not")) {
            take();
            nest();
            auto n = join(FilterNode::Not, parseNot(), nullptr);
            --depth_;
            return n;
        }
        if (peek().kind == Tok::LParen) {
            take();
            nest();
            auto n = parseOr();
            if (peek().kind != Tok::RParen)
                bad(text_, QStringLiteral("')' expected at position %1").arg(peek().pos + 1));
            take();
            --depth_;
            return n;
        }
        auto n = node();
        n->l = operand();
        const Token& op = take();
        if (op.kind != Tok::Op)
            bad(text_, op.kind == Tok::End
                           ? QStringLiteral("comparison expected at the end")
                           : QStringLiteral("comparison expected at position %1").arg(op.pos + 1));
        static const std::pair<const char*, Cmp> ops[] = {{"=", Cmp::Eq}, {"<>", Cmp::Ne}, {"<", Cmp::Lt},
                                                          {">", Cmp::Gt}, {"<=", Cmp::Le}, {">=", Cmp::Ge}};
        for (auto& [t, c] : ops)
            if (op.text == QLatin1String(t)) n->cmp = c;
        n->r = operand();
        if (!n->l.isField && !n->r.isField) bad(text_, QStringLiteral("a comparison needs a field name"));
        return n;
    }
    Operand operand() {
        const Token& t = take();
        Operand o;
        switch (t.kind) {
        case Tok::Ident:
            if (isWord(t, "and") || isWord(t, "or") || isWord(t, "not"))
                bad(text_, QStringLiteral("field or value expected at position %1").arg(t.pos + 1));
            o.isField = true;
            o.name = t.text;
            break;
        case Tok::Number:
            o.number = t.number;
            o.text = t.text;
            break;
        case Tok::String:
            o.isText = true;
            o.text = t.text;
            break;
        case Tok::End:
            bad(text_, QStringLiteral("field or value expected at the end"));
        default:
            bad(text_, QStringLiteral("field or value expected at position %1").arg(t.pos + 1));
        }
        return o;
    }

    QString text_;
    std::vector<Token> toks_;
    size_t pos_ = 0;
    int depth_ = 0;
    int nodes_ = 0;
};

template <typename T> bool apply(Cmp c, const T& a, const T& b) {
    switch (c) {
    case Cmp::Eq:
        return a == b;
    case Cmp::Ne:
        return !(a == b);
    case Cmp::Lt:
        return a < b;
    case Cmp::Gt:
        return b < a;
    case Cmp::Le:
        return !(b < a);
    case Cmp::Ge:
        return !(a < b);
    }
    return false;
}

bool isNumericType(char t) {
    return t == 'N' || t == 'F';
}

// Value of an operand for one record, as a number or as text bytes.
bool numberOf(const Operand& o, const dbf::DbfFile& f, uint32_t rec, double& out) {
    if (!o.isField) {
        out = o.number;
        return o.isNumber;
    }
    return f.readNumber(rec, o.field, out);
}

std::string_view trimmed(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return s.substr(0, n);
}

std::string_view textOf(const Operand& o, const dbf::DbfFile& f, uint32_t rec) {
    if (!o.isField) return o.encoded;
    return trimmed(f.raw(rec, o.field));
}

bool evalCompare(const FilterNode& n, const dbf::DbfFile& f, uint32_t rec) {
    if (n.numeric) {
        double a, b;
        if (!numberOf(n.l, f, rec, a) || !numberOf(n.r, f, rec, b)) return false; // blank matches nothing
        return apply(n.cmp, a, b);
    }
    std::string_view a = textOf(n.l, f, rec), b = textOf(n.r, f, rec);
    return apply(n.cmp, a, b);
}

bool eval(const FilterNode& n, const dbf::DbfFile& f, uint32_t rec) {
    switch (n.kind) {
    case FilterNode::And:
        return eval(*n.a, f, rec) && eval(*n.b, f, rec);
    case FilterNode::Or:
        return eval(*n.a, f, rec) || eval(*n.b, f, rec);
    case FilterNode::Not:
        return !eval(*n.a, f, rec);
    case FilterNode::Compare:
        return evalCompare(n, f, rec);
    }
    return false;
}

void bindOperand(Operand& o, const dbf::DbfFile& f) {
    if (o.isField) {
        o.field = f.fieldIndex(o.name.toStdString());
        if (o.field < 0) throw DatabaseError(QStringLiteral("Field '%1' not found").arg(o.name));
        o.type = f.fields()[size_t(o.field)].type;
        if (o.type == 'M')
            throw DatabaseError(QStringLiteral("Memo field '%1' cannot be used in a filter").arg(o.name));
    } else {
        std::string enc;
        if (!dbf::encode(o.text, f.codePage(), enc)) enc = "\x01\x02"; // matches no stored text
        o.encoded = std::string(trimmed(enc));
        // A quoted number against a number field compares by value.
        o.isNumber = !o.isText || dbf::parseNumber(o.text.toStdString(), o.number);
    }
}

void bindNode(FilterNode& n, const dbf::DbfFile& f) {
    if (n.kind == FilterNode::Compare) {
        bindOperand(n.l, f);
        bindOperand(n.r, f);
        n.numeric = (n.l.isField && isNumericType(n.l.type)) || (n.r.isField && isNumericType(n.r.type));
        return;
    }
    bindNode(*n.a, f);
    if (n.b) bindNode(*n.b, f);
}

void bindOperand(Operand& o, const std::function<int(const QString&, char&)>& column) {
    if (o.isField) {
        o.field = column(o.name, o.type);
        if (o.field < 0) throw DatabaseError(QStringLiteral("Field '%1' not found").arg(o.name));
        if (o.type == 'M')
            throw DatabaseError(QStringLiteral("Memo field '%1' cannot be used in a filter").arg(o.name));
    } else {
        o.encoded = o.text.trimmed().toStdString();
        o.isNumber = !o.isText || dbf::parseNumber(o.text.toStdString(), o.number);
    }
}

void bindNode(FilterNode& n, const std::function<int(const QString&, char&)>& column) {
    if (n.kind == FilterNode::Compare) {
        bindOperand(n.l, column);
        bindOperand(n.r, column);
        n.numeric = (n.l.isField && isNumericType(n.l.type)) || (n.r.isField && isNumericType(n.r.type));
        return;
    }
    bindNode(*n.a, column);
    if (n.b) bindNode(*n.b, column);
}

const char* sqlOp(Cmp c) {
    switch (c) {
    case Cmp::Eq:
        return "=";
    case Cmp::Ne:
        return "<>";
    case Cmp::Lt:
        return "<";
    case Cmp::Gt:
        return ">";
    case Cmp::Le:
        return "<=";
    case Cmp::Ge:
        return ">=";
    }
    return "=";
}

using ColumnName = std::function<QString(int)>;

QString sqlOperand(const Operand& o, bool numeric, const ColumnName& name, QStringList& params) {
    if (o.isField) {
        const QString c = name(o.field);
        if (numeric) return c;
        // Stored text compares without trailing blanks; a date as its stored YYYYMMDD text.
        if (o.type == 'D') return QStringLiteral("COALESCE(to_char(%1, 'YYYYMMDD'), '')").arg(c);
        if (isNumericType(o.type)) return QStringLiteral("COALESCE(%1::text, '')").arg(c);
        return QStringLiteral("rtrim(%1) COLLATE \"C\"").arg(c);
    }
    params << (numeric ? QString::number(o.number, 'g', 17) : QString::fromStdString(o.encoded));
    return QStringLiteral("$%1::%2")
        .arg(params.size())
        .arg(numeric ? QStringLiteral("numeric") : QStringLiteral("text"));
}

// positive: the node stands where only TRUE counts (under AND and OR from the top), so a comparison
// with a null may stay unknown and the server may answer it from an index; under NOT it must be
// false, as a blank field's comparison is for the file store.
QString sqlNode(const FilterNode& n, const ColumnName& name, QStringList& params, bool positive) {
    switch (n.kind) {
    case FilterNode::And:
        return QStringLiteral("(%1 AND %2)")
            .arg(sqlNode(*n.a, name, params, positive), sqlNode(*n.b, name, params, positive));
    case FilterNode::Or:
        return QStringLiteral("(%1 OR %2)")
            .arg(sqlNode(*n.a, name, params, positive), sqlNode(*n.b, name, params, positive));
    case FilterNode::Not:
        return QStringLiteral("(NOT %1)").arg(sqlNode(*n.a, name, params, false));
    case FilterNode::Compare:
        break;
    }
    // A literal that is no number equals no number, as a blank field matches nothing.
    if (n.numeric && ((!n.l.isField && !n.l.isNumber) || (!n.r.isField && !n.r.isNumber)))
        return QStringLiteral("FALSE");
    const QString l = sqlOperand(n.l, n.numeric, name, params);
    const QString r = sqlOperand(n.r, n.numeric, name, params);
    if (positive) return QStringLiteral("(%1 %2 %3)").arg(l, QLatin1String(sqlOp(n.cmp)), r);
    return QStringLiteral("COALESCE(%1 %2 %3, FALSE)").arg(l, QLatin1String(sqlOp(n.cmp)), r);
}

bool collectEqualities(const FilterNode& n, std::vector<int>& cols, std::vector<double>& vals) {
    if (n.kind == FilterNode::And)
        return collectEqualities(*n.a, cols, vals) && collectEqualities(*n.b, cols, vals);
    if (n.kind != FilterNode::Compare || n.cmp != Cmp::Eq) return false;
    const Operand* field = n.l.isField ? &n.l : &n.r;
    const Operand* lit = n.l.isField ? &n.r : &n.l;
    if (!field->isField || lit->isField || lit->isText || field->field < 0 || !isNumericType(field->type))
        return false;
    cols.push_back(field->field);
    vals.push_back(lit->number);
    return true;
}

} // namespace

bool FilterExpr::equalityTerms(std::vector<int>& columns, std::vector<double>& values) const {
    columns.clear();
    values.clear();
    return root_ && collectEqualities(*root_, columns, values);
}

FilterExpr::FilterExpr() = default;
FilterExpr::~FilterExpr() = default;
FilterExpr::FilterExpr(FilterExpr&&) noexcept = default;
FilterExpr& FilterExpr::operator=(FilterExpr&&) noexcept = default;

FilterExpr FilterExpr::parse(const QString& text) {
    FilterExpr e;
    if (text.trimmed().isEmpty()) return e;
    e.root_ = Parser(text).parseAll();
    return e;
}

void FilterExpr::bind(const dbf::DbfFile& file) {
    if (root_) bindNode(*root_, file);
}

bool FilterExpr::matches(const dbf::DbfFile& file, uint32_t rec) const {
    return !root_ || eval(*root_, file, rec);
}

void FilterExpr::bind(const std::function<int(const QString&, char&)>& column) {
    if (root_) bindNode(*root_, column);
}

QString FilterExpr::sql(const std::function<QString(int)>& columnName, QStringList& params) const {
    return root_ ? sqlNode(*root_, columnName, params, true) : QStringLiteral("TRUE");
}

} // namespace db
