#pragma once
#include "dataset/ResultTable.h"
#include "dataset/Variant.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace db::sql {

struct ResultSet {
    QStringList columns;
    ResultTable rows;
};

// Runs one SELECT over the .dbf tables of a directory. Each table is a read-only virtual table
// named after its file (case-insensitive). Parameters are written :NAME in the text and bound
// natively. Anything but reading (ATTACH, PRAGMA, writes) is refused with a DatabaseError.
// Only the functions a statistics query needs may be called. A run is cancelled when the
// progress hook returns false; its memory is capped (SQLite's own and the result's).
ResultSet runSelect(const QString& directory, const QString& sqlText,
                    const std::map<QString, Variant>& params);

// The same SELECT prepared (every refusal and missing table said here) with its rows read on
// demand, a batch at a time.
class Select {
public:
    Select(const QString& directory, const QString& sqlText, const std::map<QString, Variant>& params);
    ~Select();
    Select(const Select&) = delete;
    Select& operator=(const Select&) = delete;

    const QStringList& columns() const;
    // Adds up to maxRows more rows to rows (made with as many columns); false once every row is read.
    bool fetch(ResultTable& rows, size_t maxRows = SIZE_MAX);

private:
    struct Run;
    std::unique_ptr<Run> run_;
};

// Called now and then while a query runs, with the milliseconds since it started, and once with
// -1 when the run is over; returns false to cancel it. The window layer shows a progress window with a cancel
// button from it.
using ProgressHook = std::function<bool(qint64 elapsedMs)>;
void setProgressHook(ProgressHook hook);

// The most memory one query may use, in bytes: SQLite's working memory, and again its result.
void setMemoryLimit(qint64 bytes);
qint64 memoryLimit();

} // namespace db::sql
