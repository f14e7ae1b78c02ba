#pragma once
#include "Variant.h"

#include <QString>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace db {

// Rows of a query result, stored compactly (a type byte and 8 bytes a cell) because a
// statistics query may return every score row of the database.
class ResultTable {
public:
    explicit ResultTable(int columns = 0) : columns_(columns) {}

    int columnCount() const { return columns_; }
    size_t size() const { return columns_ ? types_.size() / size_t(columns_) : 0; }
    bool empty() const { return size() == 0; }
    void add(const Variant& v); // cells in row order
    // Memory the cells take, near enough to cap a result by.
    size_t bytes() const { return bytes_; }
    Variant value(size_t row, int column) const;

    class Row {
    public:
        Row(const ResultTable* t, size_t r) : t_(t), r_(r) {}
        Variant operator[](size_t c) const { return t_->value(r_, int(c)); }
        Variant at(size_t c) const {
            if (c >= size_t(t_->columnCount())) throw std::out_of_range("column out of range");
            return (*this)[c];
        }
        size_t size() const { return size_t(t_->columnCount()); }

    private:
        const ResultTable* t_;
        size_t r_;
    };
    class Iterator {
    public:
        Iterator(const ResultTable* t, size_t r) : t_(t), r_(r) {}
        Row operator*() const { return Row(t_, r_); }
        Iterator& operator++() {
            ++r_;
            return *this;
        }
        bool operator!=(const Iterator& o) const { return r_ != o.r_; }

    private:
        const ResultTable* t_;
        size_t r_;
    };
    Row operator[](size_t r) const { return Row(this, r); }
    Row at(size_t r) const {
        if (r >= size()) throw std::out_of_range("row out of range");
        return Row(this, r);
    }
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, size()); }

private:
    int columns_;
    std::vector<uint8_t> types_;
    std::vector<uint64_t> payload_;
    std::vector<QString> strings_;
    size_t bytes_ = 0;
};

} // namespace db
