#pragma once
#include "dataset/ColumnScan.h"

#include <QString>
#include <stdexcept>

namespace psychometrics {

// Figures that cannot be made; the message says why, for the user.
class AnalysisError : public std::runtime_error {
public:
    explicit AnalysisError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

// One table of a database folder read straight from its file (see db::ColumnScan).
class Columns : public db::ColumnScan {
public:
    using db::ColumnScan::ColumnScan;
    // The column of a field; a table without it throws AnalysisError naming both.
    int column(const char* name) const;
};

} // namespace psychometrics
