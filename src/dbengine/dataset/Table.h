#pragma once
#include "Dataset.h"
#include "Filter.h"
#include "RecordStore.h"

#include <functional>
#include <memory>
#include <vector>

namespace dbf {
class DbfFile;
}

namespace db {

// A dataset over one dBASE table of an alias: stored order or the order of an index tag,
// a text filter, an optional master-detail link, lookup fields.
class Table : public Dataset {
    Q_OBJECT
public:
    explicit Table(QObject* parent = nullptr);
    ~Table() override;

    void setDatabaseName(const QString& alias) { databaseName_ = alias; }
    const QString& databaseName() const { return databaseName_; }
    void setTableName(const QString& fileName) { tableName_ = fileName; }
    const QString& tableName() const { return tableName_; }
    // Index tag whose key orders the view; the tag's key is the field of the same name.
    void setIndexName(const QString& tag) { indexName_ = tag; }
    const QString& indexName() const { return indexName_; }
    // Master-detail: this table shows the rows whose first index field equals masterField of
    // the master's current record, and follows every move of the master.
    void setMasterSource(DataSource* master, const QString& masterField);
    void setReadOnly(bool ro) { readOnly_ = ro; }
    // Fields of the key the engine indexes for this table, e.g. "NOMU;NOMTESTIR;NOMTESTA": one
    // index then serves every search and filter that names all of them.
    void setKeyIndexFields(const QString& fields) { keyIndexFields_ = fields; }
    // A new record's number in field keeps its value unless a stored record (with the same
    // value in scope, when given) already has it; then it gets one more than the largest. This
    // is decided under the append lock, so two program instances never share a number.
    // Holds from the next append, whether the table is open or not.
    void setUniqueNumber(const QString& field, const QString& scope = QString());

    // Persistent field objects, declared before opening; without any, the file's columns are used.
    Field* addField(const QString& objectName, const QString& fieldName, FieldKind kind, int size = 0);

    bool canModify() const override { return !readOnly_; }
    // Reads the table again (rows written by other components or processes); cursor to first.
    void refresh();
    // Reads the view again by itself, the cursor kept on its record, whenever another workstation
    // commits a change to the table, where the store can tell (a server database). Set before open.
    void setFollowChanges(bool on) { followChanges_ = on; }
    // The dBASE file of a table kept in a folder; null for other stores.
    dbf::DbfFile* file() const { return store_ ? store_->file() : nullptr; }
    RecordStore* store() const { return store_.get(); }
    QString filePath() const;
    // Stored record number of a view row, for tools and tests.
    RowId recordNumber(int row) const {
        settle();
        return recAt(size_t(row));
    }

    // Searches and writes that reach every live record whatever the filter or master link, for
    // a window that must not disturb the restriction other windows left. The cursor stays on its
    // record and the view follows the written record in or out.
    // The first record whose fields (";"-separated) equal the values; -1 when none.
    int64_t findStored(const QString& keyFields, const std::vector<Variant>& values) const;
    Variant storedValue(RowId rec, const Field* f) const;
    // Whether row rec, read again as stored, is live and holds the values in its key fields:
    // false once another program packed or cut it away or moved another row there.
    bool storedHolds(RowId rec, const QString& keyFields, const std::vector<Variant>& values);
    void writeStored(RowId rec, Field* f, const Variant& v);
    // Appends a record with the values in field order; returns its row id.
    RowId appendStored(const std::vector<Variant>& values);
    // The stored record whose key fields hold the values (as findStored), or a new one made of
    // values; one step under the append lock, so two program instances never make two.
    // *made says which.
    RowId findOrAppendStored(const QString& keyFields, const std::vector<Variant>& key,
                             const std::vector<Variant>& values, bool* made = nullptr);
    // The same for a group, in one step: the records not found are appended together (one
    // sync of the table and one of its index for all of them). (*made)[i] is true for the
    // entries that made their record; a key twice in the group makes one record.
    std::vector<RowId> findOrAppendStoredMany(const QString& keyFields,
                                              const std::vector<std::vector<Variant>>& keys,
                                              const std::vector<std::vector<Variant>>& values,
                                              std::vector<bool>* made = nullptr);

protected:
    void doOpen() override;
    void doClose() override;
    size_t viewSize() const override { return identity_ || paged_ ? identityCount_ : view_.size(); }
    Variant readStored(size_t row, const Field* f) const override;
    void rebuildView() override;
    void settleView() override { rebuildView(); }
    void compileFilter(const QString& text) override;
    int writeBuffer(const std::vector<Variant>& buffer, bool inserting, size_t row) override;
    void removeRow(size_t row) override;
    void fillMasterFields() override;
    int locateFast(const std::vector<const Field*>& fields,
                   const std::vector<Variant>& values) const override;

private:
    bool passes(RowId rec) const { return store_->passes(rec, scanSpec()); }
    ScanSpec scanSpec() const;
    int placeInView(RowId rec);
    void masterMoved();
    void changedElsewhere();
    Variant masterValue() const;
    // The store's columns of fields named by a key; false when one is a lookup or unbound (-1).
    bool keyColumns(const std::vector<const Field*>& keys, std::vector<int>& cols,
                    std::vector<FieldKind>& kinds) const;
    // The checks of a write past the filter; the record the cursor stands on, or -1.
    int64_t beginStoredWrite();
    void storedWritten(const std::vector<RowId>& recs, int64_t cursorRec);
    // The values of an appended record (field order, lookups skipped) for the store.
    std::vector<ColumnValue> appendedValues(const std::vector<Variant>& values) const;
    void lockRow(size_t row) override;
    void unlockRow() override;
    void noticeStoredChanges() override;
    // The buffer's values for the store; only, when given, is the one field written.
    std::vector<ColumnValue> columnValues(const std::vector<Variant>& buffer,
                                          const Field* only = nullptr) const;

    QString databaseName_, tableName_, indexName_, keyIndexFields_;
    bool readOnly_ = false;
    std::unique_ptr<RecordStore> store_;
    // The view: row ids in view order. A view of every record in stored order is kept
    // as just its length, which saves 4 bytes a record on the big tables; a paged one as its
    // length too, its rows given by the store.
    std::vector<RowId> view_;
    bool identity_ = false;
    bool paged_ = false;
    uint32_t identityCount_ = 0;
    RowId recAt(size_t row) const {
        return identity_ ? RowId(row) : paged_ ? store_->rowAt(row) : view_[row];
    }
    int rowOf(RowId rec) const; // -1 when the record is not in the view
    void materialize();
    FilterExpr filterExpr_;
    int sortColumn_ = -1;
    DataSource* master_ = nullptr;
    QString masterField_;
    int detailColumn_ = -1;
    bool masterKeyNull_ = false;
    double masterKey_ = 0;
    bool defaultFields_ = false;
    int64_t editLock_ = -1; // the record whose lock an edit holds
    uint32_t cutsSeen_ = 0; // the store's cuts when the view was built
    int64_t lastLook_ = 0;  // steady-clock ms of the last look at the store from a move
    // One reader for each column fields read, by column; a field of another kind reads through
    // the store.
    std::vector<ColumnReader> readers_;
    void makeReaders();
    // Row n of an identity view is record n: the readers serve browsing straight.
    void readDirectly() { setDirectReaders(identity_ ? readers_.data() : nullptr, readers_.size()); }
    // No rows until the view is read again.
    void forgetView();
    QString numberField_, numberScope_;
    NumberRule numberRule_;
    void resolveNumberRule();
    bool followChanges_ = false;
    bool refreshingForOthers_ = false; // read again for another workstation's change, record kept
    bool othersPending_ = false;       // such a change came during an edit
};

} // namespace db
