#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace dbf {
class DbfFile;
}

namespace db {

struct FilterNode;

// A filter text parsed once: field, comparison (= <> < > <= >=), decimal or quoted literal,
// and/or/not, parentheses. "NOMTESTA=5and KRIT=1" reads as two comparisons.
class FilterExpr {
public:
    // Throws DatabaseError with a message that quotes the text and says what is wrong.
    static FilterExpr parse(const QString& text);

    FilterExpr();
    ~FilterExpr();
    FilterExpr(FilterExpr&&) noexcept;
    FilterExpr& operator=(FilterExpr&&) noexcept;

    bool empty() const { return root_ == nullptr; }
    // Binds field names to the columns of a file; throws DatabaseError for an unknown field.
    void bind(const dbf::DbfFile& file);
    bool matches(const dbf::DbfFile& file, uint32_t rec) const;
    // Binds field names through a store's own lookup: column(name, type) gives the column and
    // sets type to 'N' (number), 'C' (text), 'D' (date) or 'M' (memo); -1 when there is none.
    void bind(const std::function<int(const QString& name, char& type)>& column);
    // The bound filter as an SQL condition with the same meaning (a blank value matches no
    // comparison); literals are appended to params and named $1, $2, ... after those already there.
    QString sql(const std::function<QString(int column)>& columnName, QStringList& params) const;
    // For a bound filter made only of number-field = number comparisons joined by "and":
    // their columns and numbers, so the rows can come from a key index instead of a scan.
    bool equalityTerms(std::vector<int>& columns, std::vector<double>& values) const;

private:
    std::unique_ptr<FilterNode> root_;
};

} // namespace db
