#pragma once
#include "DbfFile.h"

#include <memory>
#include <string>
#include <vector>

namespace dbf {

// A dBASE key or FOR expression of an index tag, compiled once against a table's fields and
// evaluated on raw record bytes. Knows field names, + and -, STR, DTOS, UPPER, SUBSTR, LEFT,
// RIGHT, VAL, DELETED, literals, comparisons and .AND./.OR./.NOT.
class KeyExpr {
public:
    enum class Type { Char, Number, Date, Logical };
    struct Value {
        Type type = Type::Char;
        std::string s;      // Char: the bytes as stored, blank-padded
        double n = 0;       // Number; Date: the Julian day
        bool blank = false; // Date without a value
        bool b = false;     // Logical
    };

    // Throws DbfError naming what it cannot understand.
    KeyExpr(const std::string& text, const std::vector<FieldDef>& fields);
    ~KeyExpr();
    KeyExpr(KeyExpr&&) noexcept;
    KeyExpr& operator=(KeyExpr&&) noexcept;

    Type type() const;
    // Width of a character result (fixed: fields have fixed widths).
    int width() const;
    // record points at the deletion flag, as in the file.
    Value eval(const char* record) const;
    bool test(const char* record) const { return eval(record).b; }

    struct Node;

private:
    std::unique_ptr<Node> root_;
    std::vector<FieldDef> fields_; // a copy: the expression may outlive the table object
};

} // namespace dbf
