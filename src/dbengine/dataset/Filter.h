#pragma once
#include <QString>
#include <cstdint>
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
    // For a bound filter made only of number-field = number comparisons joined by "and":
    // their columns and numbers, so the rows can come from a key index instead of a scan.
    bool equalityTerms(std::vector<int>& columns, std::vector<double>& values) const;

private:
    std::unique_ptr<FilterNode> root_;
};

} // namespace db
