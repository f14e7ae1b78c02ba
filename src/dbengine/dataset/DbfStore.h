#pragma once
#include "RecordStore.h"
#include "dbf/KeyIndex.h"

#include <memory>
#include <optional>
#include <string>

namespace db {

// The rows of a dBASE table: a row id is the record number. Files, byte-range locks, the
// production index and the key indexes stay below this class.
class DbfStore : public RecordStore {
public:
    // Components opening the same path share one file object.
    DbfStore(const std::string& path, bool readOnly);

    const std::vector<StoreColumn>& columns() const override { return columns_; }
    int columnIndex(const QString& name) const override;
    bool writable() const override;
    QString readOnlyReason() const override;
    dbf::DbfFile* file() const override { return file_.get(); }
    void bindFilter(FilterExpr& e) const override;
    void setKeyColumns(const std::vector<int>& columns) override { keyColumns_ = columns; }

    void refresh() override;
    uint32_t cuts() const override;
    QString detachedReason() const override;
    bool contains(RowId id) const override;

    void scan(const ScanSpec& how, RowSet& out) override;
    bool passes(RowId id, const ScanSpec& how) const override;
    bool before(RowId a, RowId b, const ScanSpec& how) const override;
    Variant read(RowId id, int column, FieldKind kind) const override;
    ColumnReader reader(int column, FieldKind kind) const override;
    int64_t find(const std::vector<int>& columns, const std::vector<FieldKind>& kinds,
                 const std::vector<Variant>& values) const override;
    int candidates(const std::vector<int>& columns, const std::vector<Variant>& values,
                   std::vector<RowId>& out) const override;

    RowId append(const std::vector<ColumnValue>& values, const NumberRule& rule) override;
    std::vector<RowId> appendMany(const std::vector<std::vector<ColumnValue>>& rows) override;
    void write(RowId id, const std::vector<ColumnValue>& values) override;
    void setDeleted(RowId id, bool deleted) override;
    bool lockRow(RowId id) override;
    void unlockRow(RowId id) override;
    void reloadRow(RowId id) override;
    void underAppendLock(const std::function<void()>& fn) override;

private:
    double sortKey(RowId rec, int column) const;
    bool orderByTag(const std::string& tag, std::vector<RowId>& view);
    // Key parts for the key index: 1 ready, -1 the values can match nothing, -2 no index fits.
    int keyParts(const std::vector<int>& cols, const std::vector<Variant>& values,
                 std::vector<dbf::KeyIndex::Part>& parts, std::vector<std::string>& texts) const;
    std::vector<RowId> indexCandidates(const std::vector<int>& cols,
                                       const std::vector<dbf::KeyIndex::Part>& parts) const;
    // The record's bytes with the values; inserting starts from a blank record.
    std::string encodeRecord(const std::vector<ColumnValue>& values, RowId rec, bool inserting) const;
    std::optional<QString> storedMemo(RowId rec, int column) const;
    void giveFreeNumber(const NumberRule& rule, std::string& record, uint32_t count) const;
    // Runs a record write; memo texts it wrote are taken back when it fails.
    void storeRecord(const std::function<void()>& write);

    std::shared_ptr<dbf::DbfFile> file_;
    std::vector<StoreColumn> columns_;
    std::vector<int> keyColumns_;
};

} // namespace db
