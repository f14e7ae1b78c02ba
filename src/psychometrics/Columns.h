#pragma once
#include <QDate>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

namespace dbf {
class DbfFile;
}

namespace psychometrics {

// Figures that cannot be made; the message says why, for the user.
class AnalysisError : public std::runtime_error {
public:
    explicit AnalysisError(const QString& msg) : std::runtime_error(msg.toStdString()) {}
};

// One table of a database folder read straight from its file, record by record, read-only: the
// analyses scan every answer row of a test, and a dataset's cursor would convert every field.
class Columns {
public:
    Columns(const QString& dir, const char* file);
    ~Columns();
    // The column of a field; a table without it throws AnalysisError naming both.
    int column(const char* name) const;
    uint32_t count() const;
    bool live(uint32_t r) const;
    // A number field as the windows read a whole number (halves to the even neighbour); nothing
    // when blank.
    std::optional<int64_t> whole(uint32_t r, int c) const;
    QString text(uint32_t r, int c) const;
    QDate date(uint32_t r, int c) const;

private:
    std::shared_ptr<dbf::DbfFile> file_;
};

} // namespace psychometrics
