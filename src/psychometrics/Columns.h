#pragma once
#include "dataset/ColumnScan.h"

#include <QString>
#include <memory>
#include <stdexcept>

namespace psychometrics {

// Figures that cannot be made; the message says why, for the user.
class AnalysisError : public std::runtime_error {
public:
    explicit AnalysisError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

// One table of a database, a folder or a server, read whole (see db::ColumnScan).
class Columns {
public:
    Columns(const QString& database, const char* file) : scan_(db::ColumnScan::open(database, file)) {}
    // The column of a field; a table without it throws AnalysisError naming both.
    int column(const char* name);
    uint32_t count() const { return scan_->count(); }
    template <class Step> void scan(Step&& step) { scan_->scan(std::forward<Step>(step)); }

private:
    std::unique_ptr<db::ColumnScan> scan_;
};

} // namespace psychometrics
