#pragma once
#include "dataset/Variant.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <ostream>
#include <vector>

// A fresh database of the program's ten tables in a temporary directory, bound to the alias morv.
class TestDb {
public:
    TestDb();
    ~TestDb();
    QString dir() const { return tmp_.path(); }
    QString path(const QString& file) const { return tmp_.filePath(file); }
    // Appends a row with the values in field order straight to a table file.
    void add(const QString& file, const std::vector<db::Variant>& values) const;

private:
    QTemporaryDir tmp_;
};

// One field of a table file read afresh, every row in stored order, as shown and trimmed.
QStringList readColumn(const QString& path, const char* field);

// A row of one testee and test in bd_rezult (number NOMVOPR, value OTVET) or bd_rez (number
// KRIT, value BALL), read afresh from the file.
struct RunRow {
    int number = 0;
    int value = 0;
    QDate date;
};
// Those rows of institution org's testee in test, in stored order.
QList<RunRow> runRows(const QString& dbDir, const char* file, int org, int testee, int test);

// Runs a command, returns its exit status; output goes to *out when given.
int runCommand(const QString& program, const QStringList& args, QString* out = nullptr);
// As runCommand, with the standard output and error apart; the exit code, or -1.
int runSeparate(const QString& program, const QStringList& args, QByteArray* out, QByteArray* err);
// A file's bytes, empty when it cannot be read.
QByteArray bytesOf(const QString& path);
// Overwrites bytes of a file in place, as damage from outside would.
void patchFile(const QString& path, qint64 at, const QByteArray& bytes);
// A file of the project's test data (tests/data), such as "foreign/gdal-cpg/o_CP866.dbf".
QString testData(const QString& relative);
// A program of tests/tools, such as "xbase-dump".
QString testTool(const QString& name);
// The team's ../shared/tools/NAME beside the source tree, or empty when this checkout has none:
// checks that need it skip.
QString sharedTool(const QString& name);
// Our cross-check (tests/tools/dbf-crosscheck) of every table of a directory, read by an
// independent reader: exit status and its report.
int peerCheck(const QString& dir, QString* report = nullptr);
// The rows of one table of that directory as that reader sees them, one JSON object a line.
QStringList peerDump(const QString& dir, const QString& table);

// Readable strings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
