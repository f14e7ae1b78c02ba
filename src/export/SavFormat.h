#pragma once
#include "Output.h"

#include <QByteArray>
#include <QDateTime>
#include <optional>
#include <string>
#include <vector>

// The SPSS system file (.sav) as PSPP documents it: a dictionary of variables, UTF-8 throughout,
// and cases in bytecode compression, written as they come so no table is held twice.
namespace exporting::sav {

inline constexpr int kMaxStringWidth = 32767;
inline constexpr int kMaxVariableLabel = 255;
inline constexpr int kMaxValueLabel = 120;
inline constexpr int kMaxFileLabel = 64;

enum class Measure { Nominal = 1, Ordinal = 2, Scale = 3 };
enum class Alignment { Left = 0, Right = 1, Centre = 2 };

// A print (and write) format: F8.2 is {5, 8, 2}, DATE11 {20, 11, 0}, A35 {1, 35, 0}.
struct Format {
    int type = 5;
    int width = 8;
    int decimals = 0;
};
inline constexpr int kFormatA = 1, kFormatF = 5, kFormatDate = 20;

struct Variable {
    QByteArray name;  // the long name, ASCII, unique without regard to case
    int width = 0;    // 0 for a number, else the string's bytes (1 to kMaxStringWidth)
    QByteArray label; // UTF-8, at most kMaxVariableLabel bytes
    Format format;    // ignored for strings, whose format is A<width>
    std::optional<double> missing;
    Measure measure = Measure::Scale;
    Alignment alignment = Alignment::Right;
    int displayWidth = 8;
    // Labels are UTF-8 of at most kMaxValueLabel bytes; string values at most width bytes.
    std::vector<std::pair<double, QByteArray>> numberLabels;
    std::vector<std::pair<QByteArray, QByteArray>> textLabels;
};

// Everything before the cases: header, variable records, value labels and extension records.
std::string dictionary(const std::vector<Variable>& vars, const QByteArray& fileLabel, qint64 cases,
                       const QDateTime& created);

// The cases, cell by cell in variable order, compressed into out.
class CaseWriter {
public:
    CaseWriter(OutputFile& out, const std::vector<Variable>& vars);
    void number(double v); // NaN is system-missing
    void text(const QByteArray& utf8);
    // Pads and writes the last block of commands.
    void finish();

private:
    void command(unsigned char code);
    void raw(const char* eight);
    void flushBlock();

    OutputFile& out_;
    std::vector<int> widths_; // per variable, to pad each string to its segments
    size_t next_ = 0;         // the variable the next cell belongs to
    std::string block_;       // eight command bytes, then the raw data they announce
    int commands_ = 0;
};

} // namespace exporting::sav
