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
QString sharedDir();
// ../shared/tools/peer-check on a directory: exit status and its report.
int peerCheck(const QString& dir, QString* report = nullptr);

// Readable strings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
