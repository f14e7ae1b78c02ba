#pragma once
#include "ColumnReader.h"
#include "Field.h"
#include "Variant.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <vector>

namespace db {

enum class DataSetState { Inactive, Browse, Edit, Insert };

// The cursor over a view of rows that every window works with. Subclasses provide the rows
// (Table over a dBASE file, Query over an SQL result); this class gives the cursor meanings.
class Dataset : public QObject {
    Q_OBJECT
public:
    explicit Dataset(QObject* parent = nullptr);
    ~Dataset() override;

    // Fields
    const QList<Field*>& fields() const { return fields_; }
    Field* findField(const QString& name) const;   // by field name, case-insensitive
    Field* fieldByName(const QString& name) const; // throws DatabaseError
    Variant fieldValue(const QString& name) const { return fieldByName(name)->value(); }
    void setFieldValue(const QString& name, const Variant& v) { fieldByName(name)->setValue(v); }

    // Open and close
    void open();
    void close();
    bool active() const { return state_ != DataSetState::Inactive; }
    void setActive(bool a) { a ? open() : close(); }
    DataSetState state() const { return state_; }

    // Navigation within the view
    void first();
    void last();
    void next();
    void prior();
    int moveBy(int n);
    bool eof() const {
        settle();
        return eof_;
    }
    bool bof() const {
        settle();
        return bof_;
    }
    bool isEmpty() const { return rowCount() == 0; }
    int recordCount() const { return active() ? int(settledSize()) : 0; }
    int recNo() const { // view position, -1 when empty
        settle();
        return pos_;
    }
    bool locate(const QString& keyFields, const std::vector<Variant>& values);

    // Editing
    void edit();
    void insert();
    void append();
    void post();
    void cancel();
    void deleteRecord();
    void setFields(const std::vector<Variant>& values);
    bool modified() const { return modified_; }
    virtual bool canModify() const { return false; }

    // Filter
    const QString& filter() const { return filterText_; }
    void setFilter(const QString& text);
    bool filtered() const { return filtered_; }
    void setFiltered(bool on);
    // The windows' way of changing a filter: switch it off, set the text, switch it on, with one
    // rebuild of the view. A text the parser refuses leaves the dataset unfiltered.
    void filterBy(const QString& text);

    // Rows by view position without moving the cursor (for lazy grids).
    // While inserting, the new row counts too, at the cursor.
    int rowCount() const {
        return active() ? int(settledSize()) + (state_ == DataSetState::Insert ? 1 : 0) : 0;
    }
    // Open, with its rows not read yet: they are read when first asked for.
    bool viewPending() const { return viewPending_; }
    Variant valueAt(int row, const Field* f) const;

    // Runs when a new record is started, after the master link filled its field.
    std::function<void(Dataset&)> onNewRecord;

    // Posts a pending change if something was changed, else drops it.
    void checkBrowseMode();

    // Controls holding typed text not yet written to the record write it from here, before a
    // post or a move off the record; a hook that throws stops the post.
    void addUpdateHook(QObject* owner, std::function<void()> hook);
    void removeUpdateHooks(QObject* owner);
    void updateRecord();

    // For fields. Browsing a stored field is every scan's hot path: no call until the store.
    Variant currentValue(const Field* f) const {
        if (!viewPending_ && state_ == DataSetState::Browse && pos_ >= 0 && !f->isLookup()) [[likely]] {
            const auto c = size_t(f->column());
            if (c < directCount_ && direct_[c].read && direct_[c].kind == f->kind()) [[likely]]
                return direct_[c](RowId(pos_));
            return readStored(size_t(pos_), f);
        }
        return currentValueSlow(f);
    }
    void setCurrentValue(Field* f, const Variant& v);
    // Lookup: first row of this dataset's view whose keyField equals key; null when none.
    Variant lookup(const QString& keyField, const Variant& key, const QString& resultField) const;

signals:
    void dataSetChanged(); // view rebuilt, opened or closed
    void scrolled();       // cursor moved to another record
    void recordChanged(db::Field* field);
    void stateChanged();

protected:
    void addField(Field* f) { fields_.append(f); }
    void clearFields();
    void setState(DataSetState s);

    // Provided by subclasses
    virtual void doOpen() = 0;
    virtual void doClose() = 0;
    virtual size_t viewSize() const = 0;
    virtual Variant readStored(size_t row, const Field* f) const = 0;
    virtual void rebuildView() = 0;
    // Reads the rows of a view whose reading open put off (deferView).
    virtual void settleView() {}
    // Called by doOpen: the rows are read on first use rather than now, so that opening a big
    // table or query nobody looks at yet costs nothing.
    void deferView() { viewPending_ = true; }
    // Called by a rebuild: the view is current now.
    void viewSettled() { viewPending_ = false; }
    // Reads a put-off view, the cursor on its first row.
    void settle() const {
        if (viewPending_) [[unlikely]]
            const_cast<Dataset*>(this)->settleNow();
    }
    size_t settledSize() const {
        settle();
        return viewSize();
    }
    virtual void compileFilter(const QString& text) { (void)text; }
    // Writes the buffer; returns the view position of the written row, or -1 when it left the view.
    virtual int writeBuffer(const std::vector<Variant>& buffer, bool inserting, size_t row) {
        (void)buffer, (void)inserting, (void)row;
        return -1;
    }
    virtual void removeRow(size_t row) { (void)row; }
    // An edit holds its row's lock from edit until post, cancel or close; lockRow refuses a row
    // another user holds.
    virtual void lockRow(size_t row) { (void)row; }
    virtual void unlockRow() {}
    // Before a move: a subclass whose stored rows another program changed underneath rebuilds its
    // view and says so (throws).
    virtual void noticeStoredChanges() {}
    virtual void fillMasterFields() {}
    // A view whose row n is record n, its fields read by these readers (by column): browsing
    // reads them without a virtual call. Set whenever the view or the readers change.
    void setDirectReaders(const ColumnReader* readers, size_t count) {
        direct_ = readers;
        directCount_ = readers ? count : 0;
    }
    // Fast path for locate; returns -2 when the subclass has none for these fields.
    virtual int locateFast(const std::vector<const Field*>& fields,
                           const std::vector<Variant>& values) const {
        (void)fields, (void)values;
        return -2;
    }

    // Cursor after the view changed underneath: first record, flags reset.
    void resetCursor();
    // Cursor after the view was read again with its record at pos: no move, nothing scrolled.
    void keepCursorAt(int pos) {
        pos_ = pos;
        bof_ = eof_ = false;
    }
    void requireEditing() const;
    void requireActive() const;
    // Counts who listens to scrolled: a scan's moves skip the emit when nobody does.
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;
    // The fields of a ";"-separated list, one for each value; throws when the counts differ.
    std::vector<const Field*> keyFieldsOf(const QString& keyFields, const std::vector<Variant>& values) const;

private:
    Variant currentValueSlow(const Field* f) const;
    void goTo(int pos);
    void settleNow();
    // Writes the buffer of a pending edit or insert, its typed text already taken in.
    void postBuffer();
    void beginNew(int insertPos);

    QList<Field*> fields_;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> updateHooks_;
    DataSetState state_ = DataSetState::Inactive;
    int pos_ = -1;
    bool eof_ = true;
    bool bof_ = true;
    bool modified_ = false;
    int savedPos_ = -1;           // cursor before an insert, for cancel
    std::vector<Variant> buffer_; // one entry per field while editing
    QString filterText_;
    bool filtered_ = false;
    bool viewPending_ = false;
    const ColumnReader* direct_ = nullptr;
    size_t directCount_ = 0;
    // A receiver deleted without a disconnect is never subtracted: at worst an emit too many.
    std::atomic<int> scrollWatchers_{0};
};

// Every read of a field goes through here; inline, since scans read millions.
inline Variant Field::value() const {
    return dataset_->currentValue(this);
}

// Connects data-aware controls to a dataset and relays its signals. A deleted dataset leaves the
// source empty, and its controls are told so.
class DataSource : public QObject {
    Q_OBJECT
public:
    explicit DataSource(QObject* parent = nullptr, Dataset* ds = nullptr);
    Dataset* dataSet() const { return dataset_; }
    void setDataSet(Dataset* ds);

signals:
    void dataSetChanged();
    void scrolled();
    void recordChanged(db::Field* field);
    void stateChanged();

private:
    QPointer<Dataset> dataset_;
    QList<QMetaObject::Connection> links_;
};

} // namespace db
