#pragma once
#include "../Errors.h"
#include "../Fault.h"
#include "CodePage.h"
#include "FileLock.h"
#include "Os.h"

#include <QDate>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace dbf {

// What an edit or write of a record another process holds is told, as dBASE programs say it.
inline constexpr char kRecordLocked[] = "Record locked by another user.";

// Any fault of a table or memo file; the message names the file.
class DbfError : public db::DatabaseError {
public:
    using db::DatabaseError::DatabaseError;
};

// A DbfError that says what went wrong, for the windows.
class DbfFault : public DbfError, public db::FaultCarrier {
public:
    DbfFault(const std::string& msg, db::FaultInfo info) : DbfError(msg), db::FaultCarrier(std::move(info)) {}
};

// What a window needs to say a fault in the user's words.
inline db::FaultInfo faultAt(db::Fault fault, const std::string& path, int errnum = 0) {
    return db::FaultInfo(fault, QString::fromStdString(path), {}, {}, errnum);
}

struct FieldDef {
    std::string name; // upper case as stored
    char type = 'C';  // C N F D L M
    uint8_t length = 0;
    uint8_t decimals = 0;
    uint32_t offset = 0; // within the record, after the deletion flag
};

class MemoFile;
struct MemoUndo;
class KeyIndex;
class MdxFile;
struct TagSpec;

// One .dbf file (and its .dbt), shared by every dataset that opens the same path.
// Records are read with pread into memory of our own, a chunk at a time on first use: a file
// another program cuts or rewrites can make what we hold stale, never unreadable. Writes are
// pwrite + fdatasync under OFD locks.
class DbfFile {
public:
    // Opening for writing also cuts bytes a writer killed mid-append left past the last record;
    // a read-only open changes nothing.
    static std::shared_ptr<DbfFile> open(const std::string& path, bool readOnly = false);
    // The same without its production index, for the tools that make one anew.
    static std::shared_ptr<DbfFile> openWithoutIndex(const std::string& path);
    // Every component opening the same file gets the same object.
    static std::shared_ptr<DbfFile> openShared(const std::string& path, bool readOnly = false);
    static void create(const std::string& path, std::vector<FieldDef> fields, CodePage cp = CodePage::Cp866);

    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    const std::string& path() const { return path_; }
    const std::vector<FieldDef>& fields() const { return fields_; }
    int fieldIndex(std::string_view name) const; // case-insensitive, -1 if none
    uint32_t recordCount() const { return count_; }
    uint16_t recordLength() const { return recLen_; }
    uint16_t headerLength() const { return hdrLen_; }
    CodePage codePage() const { return cp_; }
    bool writable() const { return writable_; }
    // Bytes past the last record and its end mark, as found when opened read-only.
    uint64_t strayBytes() const { return stray_; }

    // Picks up what other processes stored since we last looked (appended and changed records,
    // a cut-off or rewritten file); true when the count changed.
    bool refresh();
    // Bumped each time the file is found to hold fewer records than before, or another structure:
    // views over it must be built again.
    uint32_t cuts() const { return cuts_; }
    // What we hold is no longer the table as stored: another program rewrote it with another
    // header or record length, or put another file in its place. Nothing more is read or written.
    bool detached() const { return !detached_.empty(); }
    const std::string& detachedReason() const { return detached_; }
    // Reads one record again from the file; for an edit taken under its lock. Fails when the
    // record is no longer stored.
    void reloadRecord(uint32_t rec);

    // A record past the stored count reads as blank.
    const char* record(uint32_t rec) const {
        const size_t c = rec >> chunkShift_;
        if (c < chunks_.size() && chunks_[c]) [[likely]]
            return chunks_[c].get() + kChunkPad + size_t(rec & chunkMask_) * recLen_;
        return loadChunk(rec);
    }
    bool isDeleted(uint32_t rec) const { return record(rec)[0] == '*'; }
    std::string_view raw(uint32_t rec, int field) const {
        const FieldDef& f = fields_[size_t(field)];
        return {record(rec) + 1 + f.offset, f.length};
    }

    QString readString(uint32_t rec, int field) const;           // right-trimmed
    bool readNumber(uint32_t rec, int field, double& out) const; // false when blank
    QDate readDate(uint32_t rec, int field) const;               // invalid when blank
    int readLogical(uint32_t rec, int field) const;              // 1, 0, -1 when unset
    QString readMemo(uint32_t rec, int field) const;
    uint32_t memoBlock(uint32_t rec, int field) const;

    // Writes. Each is on disk when it returns (unless durability is switched off for bulk loads).
    // underLock may change the record once the append lock is held and the records stored
    // so far (count of them) are readable, e.g. to give it a number no one has.
    using AppendStep = std::function<void(std::string& record, uint32_t count)>;
    uint32_t appendRecord(const std::string& bytes, const AppendStep& underLock = {});
    // Appends records as one step: every record, then the index, then the count, each synced
    // once for the whole group, so a crash leaves either none of them or all. Returns the first
    // one's number; the others follow it.
    uint32_t appendRecords(const std::vector<std::string>& records);
    void writeRecord(uint32_t rec, const std::string& bytes);
    void setDeleted(uint32_t rec, bool deleted);
    // Stores a memo text; reuses oldBlock when the text fits there. Returns the block number.
    uint32_t writeMemo(const std::string& bytes, uint32_t oldBlock);
    void setDurable(bool durable) { durable_ = durable; }
    // The dBASE lock of one record, counted within this process (its datasets share this
    // object): false when another process holds it after waiting up to waitMs.
    bool lockRecord(uint32_t rec, int waitMs = 0);
    // Runs fn holding the append lock, with the records other processes stored so far readable:
    // a find-or-create step in it cannot race another program instance's.
    void underAppendLock(const std::function<void()>& fn);
    void unlockRecord(uint32_t rec);
    // Memo texts written since beginMemoWrites are taken back by undoMemoWrites, for a record
    // whose own write then failed; endMemoWrites keeps them.
    void beginMemoWrites();
    void endMemoWrites();
    void undoMemoWrites();

    // Hash index over the given columns, built on first use and kept up to date with writes.
    KeyIndex& keyIndex(const std::vector<int>& columns);
    // The widest index already built whose columns are all among the given ones, or null.
    const KeyIndex* indexWithin(const std::vector<int>& columns) const;

    // The production index (.MDX), when the header says the table has one.
    MdxFile* productionIndex() const { return mdx_.get(); }
    // Throws the message of a missing production index (its file and the remedy) when the
    // table has none.
    void requireProductionIndex() const;
    // Why a table we may write opened read-only (an index tag we cannot keep); empty otherwise.
    const std::string& readOnlyReason() const { return readOnlyReason_; }
    db::Fault readOnlyFault() const {
        return indexKeepsReadOnly_ ? db::Fault::IndexDamaged : db::Fault::ReadOnly;
    }
    // 0-based record numbers in the order of an index tag; false when there is no such tag
    // or its index is being repaired by someone who cannot write it.
    bool tagOrder(const std::string& tag, std::vector<uint32_t>& out);
    // Rebuilds every tag of the production index from the records.
    void reindex();
    // Makes the production index anew with the program's tags under the append lock and reads it
    // back; a table kept read-only for its index becomes writable. Throws (IndexDamaged) when the
    // index read back is still not sound. Returns what was done.
    std::string repairIndex(const std::vector<TagSpec>& ownTags);
    // Every fault of every tag; empty when the index is sound or there is none.
    std::vector<std::string> checkIndex();
    // Gives an existing table a new production index with these tags, built from its records.
    static void createIndex(const std::string& path, const std::vector<TagSpec>& tags);
    // Rebuilds a table's production index under its append lock. Given the tags a program
    // keeps there, makes it anew with those (and the other tags it can still evaluate) whatever
    // the file holds. Returns what was done, tags dropped and why, for a report.
    static std::string reindexFile(const std::string& path, const std::vector<TagSpec>& ownTags);
    // Where the production index of a table is, or would be.
    static std::string indexPathFor(const std::string& path);

    // Field text for a value; throws DbfError with a message for the user when it does not fit.
    std::string formatNumber(int field, double v) const;
    static std::string formatDate(const QDate& d);
    std::string blankRecord() const { return std::string(recLen_, ' '); }

private:
    friend class Erasure;
    DbfFile() = default;
    // Takes the file now at our path (one put there by an erasure of ours) for the one we had.
    void adoptReplacement();
    void parseHeader(const unsigned char* h, size_t size);
    const char* loadChunk(uint32_t rec) const;
    void forgetChunksFrom(uint32_t rec);
    void adoptCount(uint32_t n);
    void keepInChunk(uint32_t rec, const std::string& bytes);
    // Reads the header's count and lengths, failing when another program changed the structure.
    // header, when given, gets the header's first 12 bytes, and now the file's state as read.
    uint32_t storedCount(unsigned char* header = nullptr, os::FileInfo* now = nullptr);
    bool sameAsSeen(const os::FileInfo& st) const { return st.mtimeNs == seen_ && st.size == seenSize_; }
    bool replacedElsewhere(const os::FileInfo& mine) const;
    // Detaches the file when the header's lengths are not ours any more.
    bool reshapedElsewhere(const unsigned char* header);
    void repairTail();
    void undoAppend(const unsigned char* oldHeader, off_t at, uint64_t oldSize);
    void sync();
    // Takes the file as it is now for what we last saw; 0 = whatever its length.
    void noteOwnWrite(uint64_t expectedSize = 0);
    [[noreturn]] void fail(const std::string& what, db::Fault fault = db::Fault::TableDamaged) const;

    std::string path_;
    int fd_ = -1;
    bool writable_ = false;
    bool indexKeepsReadOnly_ = false; // writable but for a production index it cannot keep
    bool durable_ = true;
    // Bytes before and after each chunk: number parsing reads whole 8-byte words around a field.
    static constexpr size_t kChunkPad = 16;
    mutable std::vector<std::unique_ptr<char[]>> chunks_;
    std::unique_ptr<char[]> blank_;
    int chunkShift_ = 0;
    uint32_t chunkMask_ = 0;
    uint32_t count_ = 0;
    uint16_t hdrLen_ = 0;
    uint16_t recLen_ = 0;
    uint8_t version_ = 0;
    CodePage cp_ = CodePage::Cp866;
    std::vector<FieldDef> fields_;
    std::unique_ptr<MemoFile> memo_;
    bool journaling_ = false;
    std::vector<MemoUndo> memoUndo_;
    std::map<uint32_t, int> recordLocks_;
    int appendDepth_ = 0; // the append lock is held while above 0
    class AppendLock;
    uint64_t stray_ = 0;
    // The file as we last looked at it (or after our own last write); mutable so that a read
    // which finds the file cut makes the next refresh look again.
    mutable int64_t seen_ = 0;
    uint64_t seenSize_ = 0;
    uint32_t cuts_ = 0;
    std::string detached_;
    void detach(const std::string& why);
    std::vector<std::unique_ptr<KeyIndex>> indexes_;
    // Production index hooks (DbfIndex.cpp).
    static std::shared_ptr<DbfFile> openFile(const std::string& path, bool readOnly, bool withIndex);
    void openIndex();
    void adoptIndex();
    void endIndexStep();
    uint32_t appendGroup(const std::vector<std::string>& records, const AppendStep& underLock);
    std::string remakeIndex(const std::vector<TagSpec>& ownTags);
    std::vector<TagSpec> tagsToKeep(const std::string& index, const std::vector<TagSpec>& ownTags,
                                    std::string& dropped) const;
    std::string tableNameForIndex() const;
    void markIndexed(const std::vector<TagSpec>& tags);
    std::string indexError_; // why an index the header does not announce could not be opened
    std::function<const char*(uint32_t)> recordAt() const;
    // The same for one pass in record order: each chunk is let go once the pass is past it, so a
    // pass over a large table holds one chunk, not the table.
    std::function<const char*(uint32_t)> passAt() const;
    std::unique_ptr<MdxFile> mdx_;
    std::string readOnlyReason_;
    // Tag orders as last read, dropped with the key indexes whenever the file changed.
    std::map<std::string, std::vector<uint32_t>> tagOrders_;
};

// The append lock, counted: a step under it may append without letting it go in between.
class DbfFile::AppendLock {
public:
    explicit AppendLock(DbfFile& f) : f_(f) {
        if (f_.appendDepth_++ == 0) held_ = os::lock(f_.fd_, kAppendLockOffset) == 0;
    }
    ~AppendLock() {
        if (--f_.appendDepth_ == 0 && held_) os::unlock(f_.fd_, kAppendLockOffset);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

private:
    DbfFile& f_;
    bool held_ = false;
};

// Parses the text of a numeric field; false for blanks and garbage.
bool parseNumber(std::string_view s, double& out);

} // namespace dbf
