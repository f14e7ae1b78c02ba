#pragma once
#include "TestFile.h"

// Tests kept in other tools' files, brought into the same in-memory test as our own file, with
// a report of what could not be carried over, each line naming the field or row.
namespace exchange {

struct Brought {
    TestFile test;
    QStringList report; // what was left out and why; empty when everything came over
};

// The number of the test's answer set with these options and points, made when the test has
// none yet: questions alike share one set.
int answerSetFor(TestFile& test, const std::vector<Option>& options);

// The rows of a CSV file: UTF-8 (with or without a byte-order mark) or, when the bytes are not
// UTF-8, Windows-1251 as a Russian Excel saves it; fields separated by ';' or ',' (whichever
// the first line has more of outside quotes), quoted with '"' as RFC 4180 says.
std::vector<QStringList> readCsv(const QByteArray& bytes);

// A REDCap data dictionary: the fields of one form (instrument) become the questions; radio,
// dropdown, yes/no and true/false fields with their "1, text | 2, text" choices a question
// each, the choice codes its options' points. Other field types, branching logic and
// calculations are reported, not imported. form picks the instrument when the dictionary has
// several (empty: the first). A dictionary without a usable field is refused.
Brought fromRedcap(const QByteArray& csv, const QString& form = {});

// A spreadsheet saved as CSV: a heading line, then one line per question: its text, its
// criterion (a number, or empty), then pairs of option text and points. Questions with the
// same options and points share one answer set. An option without points is refused: the
// program does not invent points.
Brought fromSpreadsheet(const QByteArray& csv, const QString& name);

} // namespace exchange
