#include "SavFormat.h"

#include <QSet>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace exporting::sav {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);

namespace {

// Numbers are written little-endian whatever the machine, and the file says so.
class Bytes {
public:
    void i32(qint32 v) {
        for (int i = 0; i < 4; ++i)
            s.push_back(char((quint32(v) >> (8 * i)) & 0xFF));
    }
    void f64(double v) {
        const auto bits = std::bit_cast<quint64>(v);
        for (int i = 0; i < 8; ++i)
            s.push_back(char((bits >> (8 * i)) & 0xFF));
    }
    void bytes(const QByteArray& b) { s.append(b.constData(), size_t(b.size())); }
    // Exactly n bytes: cut, or padded with pad.
    void fixed(const QByteArray& b, int n, char pad = ' ') {
        const QByteArray cut = b.left(n);
        bytes(cut);
        s.append(size_t(n - cut.size()), pad);
    }
    std::string s;
};

constexpr double kSysmis = -DBL_MAX;
constexpr double kBias = 100.0;
constexpr int kVeryLongSegment = 252; // width each segment but the last stands for

// A string wider than 255 bytes is stored as segments of 255 bytes, each counting for 252.
int segments(int width) {
    return width <= 255 ? 1 : (width + kVeryLongSegment - 1) / kVeryLongSegment;
}
int segmentWidth(int width, int k) {
    const int n = segments(width);
    if (n == 1) return width;
    return k < n - 1 ? 255 : width - (n - 1) * kVeryLongSegment;
}
// Eight-byte units a segment occupies in a case: one for a number.
int units(int segWidth) {
    return segWidth == 0 ? 1 : (segWidth + 7) / 8;
}

qint32 packed(const Format& f) {
    return qint32((f.type << 16) | (f.width << 8) | f.decimals);
}

// Every variable and every further segment needs a unique name of at most eight bytes; it must
// not be another variable's long name either, so that a reader renaming in any order never
// meets a clash.
std::vector<std::vector<QByteArray>> shortNames(const std::vector<Variable>& vars) {
    QSet<QByteArray> taken;
    for (const Variable& v : vars)
        taken.insert(v.name.toUpper());
    QSet<QByteArray> used;
    std::vector<std::vector<QByteArray>> names(vars.size());
    int serial = 0;
    for (size_t i = 0; i < vars.size(); ++i) {
        const QByteArray upper = vars[i].name.toUpper();
        const int n = segments(vars[i].width);
        for (int k = 0; k < n; ++k) {
            QByteArray name = upper.left(8);
            const bool clash = k > 0 || used.contains(name) || (taken.contains(name) && name != upper);
            while (clash && (used.contains(name) || taken.contains(name) || name == upper.left(8))) {
                const QByteArray suffix = '_' + QByteArray::number(++serial, 36).toUpper();
                name = upper.left(8 - suffix.size()) + suffix;
            }
            used.insert(name);
            names[i].push_back(name);
        }
    }
    return names;
}

void header(Bytes& b, const std::vector<Variable>& vars, const QByteArray& fileLabel, qint64 cases,
            const QDateTime& created) {
    int caseSize = 0;
    for (const Variable& v : vars)
        for (int k = 0; k < segments(v.width); ++k)
            caseSize += units(segmentWidth(v.width, k));
    b.fixed("$FL2", 4);
    b.fixed("@(#) SPSS DATA FILE Morvanta research export", 60);
    b.i32(2); // layout code
    b.i32(caseSize);
    b.i32(1); // bytecode compression
    b.i32(0); // no weight variable
    b.i32(cases <= INT32_MAX ? qint32(cases) : -1);
    b.f64(kBias);
    // The month in English whatever the locale, as readers expect.
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = created.date();
    b.fixed(QStringLiteral("%1 %2 %3")
                .arg(d.day(), 2, 10, QLatin1Char('0'))
                .arg(QLatin1String(months[d.month() - 1]))
                .arg(d.year() % 100, 2, 10, QLatin1Char('0'))
                .toLatin1(),
            9);
    b.fixed(created.time().toString(QStringLiteral("HH:mm:ss")).toLatin1(), 8);
    b.fixed(fileLabel, kMaxFileLabel);
    b.fixed({}, 3, '\0');
}

void variableRecord(Bytes& b, int width, const QByteArray& shortName, const Format& format,
                    const QByteArray& label, const std::optional<double>& missing) {
    b.i32(2);
    b.i32(width);
    b.i32(label.isEmpty() ? 0 : 1);
    b.i32(missing ? 1 : 0);
    b.i32(packed(format));
    b.i32(packed(format));
    b.fixed(shortName, 8);
    if (!label.isEmpty()) {
        b.i32(qint32(label.size()));
        b.fixed(label, int((label.size() + 3) / 4 * 4));
    }
    if (missing) b.f64(*missing);
    // A string wider than eight bytes continues in records of its own.
    for (int u = 1; u < units(width); ++u) {
        b.i32(2);
        b.i32(-1);
        for (int z = 0; z < 4; ++z)
            b.i32(0);
        b.fixed({}, 8);
    }
}

// Variable records; gives each variable's dictionary index, counted in eight-byte units from 1.
std::vector<int> variables(Bytes& b, const std::vector<Variable>& vars,
                           const std::vector<std::vector<QByteArray>>& names) {
    std::vector<int> index;
    int next = 1;
    for (size_t i = 0; i < vars.size(); ++i) {
        const Variable& v = vars[i];
        index.push_back(next);
        for (int k = 0; k < segments(v.width); ++k) {
            const int w = segmentWidth(v.width, k);
            const Format f = v.width == 0 ? v.format : Format{kFormatA, w, 0};
            variableRecord(b, w, names[i][size_t(k)], f, k == 0 ? v.label : QByteArray(),
                           k == 0 ? v.missing : std::nullopt);
            next += units(w);
        }
    }
    return index;
}

void labelText(Bytes& b, const QByteArray& label) {
    const QByteArray cut = label.left(255);
    b.s.push_back(char(quint8(cut.size())));
    // The length byte and the label fill whole eight-byte units.
    b.fixed(cut, int((cut.size() + 1 + 7) / 8 * 8 - 1));
}

// Labels of numbers and of strings up to eight bytes: a pair of records per variable.
void valueLabels(Bytes& b, const std::vector<Variable>& vars, const std::vector<int>& index) {
    for (size_t i = 0; i < vars.size(); ++i) {
        const Variable& v = vars[i];
        const size_t n = v.width == 0 ? v.numberLabels.size() : v.textLabels.size();
        if (n == 0 || v.width > 8) continue;
        b.i32(3);
        b.i32(qint32(n));
        if (v.width == 0) {
            for (const auto& [value, label] : v.numberLabels) {
                b.f64(value);
                labelText(b, label);
            }
        } else {
            for (const auto& [value, label] : v.textLabels) {
                b.fixed(value, 8);
                labelText(b, label);
            }
        }
        b.i32(4);
        b.i32(1);
        b.i32(index[i]);
    }
}

void extension(Bytes& b, int subtype, int size, const std::string& data) {
    b.i32(7);
    b.i32(subtype);
    b.i32(size);
    b.i32(qint32(data.size() / size_t(size)));
    b.s += data;
}

void machineInfo(Bytes& b) {
    Bytes ints;
    for (qint32 v :
         {1, 0, 0, -1, 1, 1, 2, 65001}) // version, machine, IEEE, compression, little-endian, UTF-8
        ints.i32(v);
    extension(b, 3, 4, ints.s);
    Bytes floats;
    floats.f64(kSysmis);
    floats.f64(DBL_MAX);
    floats.f64(std::nextafter(-DBL_MAX, 0.0));
    extension(b, 4, 8, floats.s);
}

void displayParameters(Bytes& b, const std::vector<Variable>& vars) {
    Bytes d;
    for (const Variable& v : vars)
        for (int k = 0; k < segments(v.width); ++k) {
            d.i32(int(v.measure));
            d.i32(v.displayWidth);
            d.i32(int(v.alignment));
        }
    extension(b, 11, 4, d.s);
}

void longNames(Bytes& b, const std::vector<Variable>& vars,
               const std::vector<std::vector<QByteArray>>& names) {
    QByteArray pairs;
    for (size_t i = 0; i < vars.size(); ++i) {
        if (i) pairs += '\t';
        pairs += names[i][0] + '=' + vars[i].name;
    }
    extension(b, 13, 1, pairs.toStdString());
}

void veryLongStrings(Bytes& b, const std::vector<Variable>& vars,
                     const std::vector<std::vector<QByteArray>>& names) {
    QByteArray map;
    for (size_t i = 0; i < vars.size(); ++i)
        if (segments(vars[i].width) > 1)
            map += names[i][0] + '=' + QByteArray::number(vars[i].width).rightJustified(5, '0') +
                   QByteArray("\0\t", 2);
    if (!map.isEmpty()) extension(b, 14, 1, map.toStdString());
}

// Labels of strings wider than eight bytes, in a record of their own.
void longStringLabels(Bytes& b, const std::vector<Variable>& vars) {
    Bytes l;
    for (const Variable& v : vars) {
        if (v.width <= 8 || v.textLabels.empty()) continue;
        l.i32(qint32(v.name.size()));
        l.bytes(v.name);
        l.i32(v.width);
        l.i32(qint32(v.textLabels.size()));
        for (const auto& [value, label] : v.textLabels) {
            l.i32(v.width);
            l.fixed(value, v.width);
            l.i32(qint32(label.size()));
            l.bytes(label);
        }
    }
    if (!l.s.empty()) extension(b, 21, 1, l.s);
}

} // namespace

std::string dictionary(const std::vector<Variable>& vars, const QByteArray& fileLabel, qint64 cases,
                       const QDateTime& created) {
    const auto names = shortNames(vars);
    Bytes b;
    header(b, vars, fileLabel, cases, created);
    const std::vector<int> index = variables(b, vars, names);
    valueLabels(b, vars, index);
    machineInfo(b);
    displayParameters(b, vars);
    longNames(b, vars, names);
    veryLongStrings(b, vars, names);
    const QByteArray encoding("UTF-8");
    extension(b, 20, 1, encoding.toStdString());
    longStringLabels(b, vars);
    b.i32(999);
    b.i32(0);
    return b.s;
}

CaseWriter::CaseWriter(OutputFile& out, const std::vector<Variable>& vars) : out_(out) {
    for (const Variable& v : vars)
        widths_.push_back(v.width);
    block_.assign(8, '\0');
}

void CaseWriter::flushBlock() {
    out_.write(block_);
    block_.assign(8, '\0');
    commands_ = 0;
}

void CaseWriter::command(unsigned char code) {
    if (commands_ == 8) flushBlock();
    block_[size_t(commands_++)] = char(code);
}

void CaseWriter::raw(const char* eight) {
    command(253);
    block_.append(eight, 8);
}

void CaseWriter::number(double v) {
    next_ = (next_ + 1) % widths_.size();
    if (std::isnan(v)) return command(255);
    // Small whole numbers, the most common answers and codes, fit in the command byte.
    if (v >= 1 - kBias && v <= 251 - kBias && v == std::floor(v)) return command((unsigned char)(v + kBias));
    const auto bits = std::bit_cast<quint64>(v);
    char le[8];
    for (int i = 0; i < 8; ++i)
        le[i] = char((bits >> (8 * i)) & 0xFF);
    raw(le);
}

void CaseWriter::text(const QByteArray& utf8) {
    const int width = widths_[next_];
    next_ = (next_ + 1) % widths_.size();
    // Segment k holds bytes 255·k onward, padded with spaces to its units.
    for (int k = 0, n = segments(width); k < n; ++k) {
        const qsizetype from = qsizetype(k) * 255;
        const int w = segmentWidth(width, k);
        for (int u = 0; u < units(w); ++u) {
            char unit[8];
            std::memset(unit, ' ', 8);
            const qsizetype at = from + u * 8;
            const qsizetype n = std::min<qsizetype>({8, w - u * 8, utf8.size() - at});
            if (n > 0) std::memcpy(unit, utf8.constData() + at, size_t(n));
            if (std::memcmp(unit, "        ", 8) == 0)
                command(254);
            else
                raw(unit);
        }
    }
}

void CaseWriter::finish() {
    if (commands_ > 0) flushBlock();
}

} // namespace exporting::sav
