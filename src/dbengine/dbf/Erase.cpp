// Removing records for good: new files written beside the old, a journal, then renames.
#include "Erase.h"

#include "Bytes.h"
#include "DbfFile.h"
#include "FileLock.h"
#include "KeyIndex.h"
#include "Mdx.h"
#include "MemoFile.h"
#include "Os.h"

#include <QDate>
#include <QDir>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <set>
#include <sstream>

namespace dbf {

namespace {

constexpr char kJournalHead[] = "morv-erase 1";
constexpr off_t kMdxBusyMark = 47;

std::string fileName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string inDir(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

struct Rename {
    std::string from, to; // names within the folder
};

// One table of a journal: the state of its .dbf when the journal was stored, and its renames
// (memo file, index, table last).
struct JournalTable {
    std::string table;
    uint64_t inode = 0, size = 0;
    int64_t mtime = 0;
    std::vector<Rename> renames;
};

std::string journalText(const std::vector<JournalTable>& tables) {
    std::ostringstream out;
    out << kJournalHead << '\n';
    for (const auto& t : tables) {
        out << "table\t" << t.table << '\t' << t.inode << '\t' << t.size << '\t' << t.mtime << '\n';
        for (const auto& r : t.renames)
            out << "rename\t" << r.from << '\t' << r.to << '\n';
    }
    out << "end\n"; // a journal without it was never stored whole
    return out.str();
}

bool parseJournal(const std::string& text, std::vector<JournalTable>& tables) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kJournalHead) return false;
    while (std::getline(in, line)) {
        std::istringstream l(line);
        std::string kind;
        std::getline(l, kind, '\t');
        if (kind == "end") return true;
        if (kind == "table") {
            JournalTable t;
            std::getline(l, t.table, '\t');
            l >> t.inode >> t.size >> t.mtime;
            if (!l || t.table.empty()) return false;
            tables.push_back(std::move(t));
        } else if (kind == "rename" && !tables.empty()) {
            Rename r;
            std::getline(l, r.from, '\t');
            std::getline(l, r.to, '\t');
            if (r.from.empty() || r.to.empty()) return false;
            tables.back().renames.push_back(std::move(r));
        } else {
            return false;
        }
    }
    return false;
}

std::string readWhole(int fd, const std::string& path) {
    std::string bytes(size_t(fileSize(fd, path)), '\0');
    readExact(fd, bytes.data(), bytes.size(), 0, path);
    return bytes;
}

void syncFolder(const std::string& dir) {
    if (os::syncDir(dir) != 0) throw DbfError("Cannot write folder " + dir + ": " + os::reason(errno));
}

void renameInFolder(const std::string& dir, const Rename& r) {
    if (os::rename(inDir(dir, r.from), inDir(dir, r.to)) != 0)
        throw DbfError("Cannot rename " + inDir(dir, r.from) + " to " + r.to + ": " + os::reason(errno) +
                       "; the erasure is finished when the database is next opened");
}

// The files an erasure stopped before its journal leaves behind.
void removeStrayParts(const std::string& dir) {
    const QDir folder(QString::fromStdString(dir));
    const QStringList parts =
        folder.entryList({QStringLiteral("*") + QLatin1String(kEraseSuffix)}, QDir::Files | QDir::Hidden);
    for (const QString& name : parts)
        os::remove(folder.filePath(name).toStdString());
}

// Whether the table is still as the journal found it, checked under its append lock; then renames.
bool finishTable(const std::string& dir, const JournalTable& t) {
    const bool pending = std::any_of(t.renames.begin(), t.renames.end(),
                                     [&](const Rename& r) { return os::exists(inDir(dir, r.from)); });
    if (!pending) return true;
    const std::string path = inDir(dir, t.table);
    const int fd = os::open(path, O_RDWR);
    if (fd < 0) throw DbfError("Cannot open table " + path + ": " + os::reason(errno));
    bool same = false;
    {
        FileLock lock(fd, kAppendLockOffset);
        os::FileInfo st;
        same = os::stat(fd, st) == 0 && st.inode == t.inode && st.size == t.size && st.mtimeNs == t.mtime;
        if (same)
            for (const Rename& r : t.renames)
                if (os::exists(inDir(dir, r.from))) renameInFolder(dir, r);
    }
    os::close(fd);
    return same;
}

// One erasure at a time in a folder, across processes: one must not take another's new files
// for the leftovers of a crash. The lock file exists only while an erasure holds it: the holder
// removes it before letting go, and a waiter that then gets the removed file tries again.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir) : path_(inDir(dir, kEraseLock)) {
        for (;;) {
            fd_ = os::open(path_, O_RDWR | O_CREAT, 0666);
            if (fd_ < 0)
                throw DbfFault("Cannot open " + path_ + ": " + os::reason(errno),
                               faultAt(db::Fault::Disk, path_, errno));
            if (os::lock(fd_, 0) != 0 && errno != ENOLCK && errno != EINVAL && errno != EOPNOTSUPP) {
                const int err = errno;
                os::close(fd_);
                throw DbfFault("Cannot lock " + path_ + ": " + os::reason(err),
                               faultAt(db::Fault::Disk, path_, err));
            }
            os::FileInfo mine, named;
            if (os::stat(fd_, mine) == 0 && os::stat(path_, named) == 0 && mine.inode == named.inode &&
                mine.device == named.device)
                return;
            os::close(fd_); // the previous holder removed it meanwhile
        }
    }
    ~FolderLock() {
        os::remove(path_);
        os::close(fd_); // the lock goes with the descriptor
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    std::string path_;
    int fd_ = -1;
};

// Whether a stopped erasure left anything behind: its journal or files it was writing.
bool leftovers(const std::string& dir) {
    if (os::exists(inDir(dir, kEraseJournal))) return true;
    const QDir folder(QString::fromStdString(dir));
    return !folder.entryList({QStringLiteral("*") + QLatin1String(kEraseSuffix)}, QDir::Files | QDir::Hidden)
                .isEmpty();
}

std::string finishLocked(const std::string& dir);

} // namespace

class Erasure {
public:
    struct Table {
        std::shared_ptr<DbfFile> file;
        std::vector<bool> removed;
        uint32_t removedCount = 0;
        JournalTable journal;
    };

    static std::vector<EraseCount> run(const std::string& dir, const std::vector<EraseRequest>& requests);

private:
    static void lockTable(Table& t, std::vector<std::unique_ptr<DbfFile::AppendLock>>& locks);
    static void writeParts(const std::string& dir, Table& t);
    static std::string tableBytes(const Table& t);
    static std::string memoBytes(const Table& t);
    static void writeIndex(const std::string& path, const Table& t, const std::string& tableBytes);
};

void Erasure::lockTable(Table& t, std::vector<std::unique_ptr<DbfFile::AppendLock>>& locks) {
    DbfFile& f = *t.file;
    if (!f.writable_)
        f.fail(f.readOnlyReason_.empty() ? "is read-only" : f.readOnlyReason_, f.readOnlyFault());
    if (!f.recordLocks_.empty()) f.fail("has a record in edit; store or cancel it first", db::Fault::InUse);
    locks.push_back(std::make_unique<DbfFile::AppendLock>(f));
    f.refresh();
    f.storedCount(); // a table replaced or reshaped meanwhile is refused here
    // Every record lock, so that no workstation edits a record while the table is rewritten.
    if (f.count_ > 0 && os::tryLock(f.fd_, recordLockOffset(f.count_ - 1), off_t(f.count_)) != 0 &&
        (errno == EAGAIN || errno == EACCES))
        f.fail("has a record in edit on another workstation; try again once it is stored", db::Fault::InUse);
    // Everything is read from the file as stored now.
    f.chunks_.clear();
    f.indexes_.clear();
    f.tagOrders_.clear();
}

std::string Erasure::tableBytes(const Table& t) {
    const DbfFile& f = *t.file;
    std::string out(f.hdrLen_, '\0');
    readExact(f.fd_, out.data(), out.size(), 0, f.path_);
    const uint32_t kept = f.count_ - t.removedCount;
    out.reserve(out.size() + size_t(kept) * f.recLen_ + 1);
    auto* h = reinterpret_cast<unsigned char*>(out.data());
    const QDate today = QDate::currentDate();
    h[1] = uint8_t(today.year() - 1900);
    h[2] = uint8_t(today.month());
    h[3] = uint8_t(today.day());
    put32(h + 4, kept);
    for (uint32_t rec = 0; rec < f.count_; ++rec)
        if (!t.removed[rec]) out.append(f.record(rec), f.recLen_);
    out.push_back(0x1A);
    return out;
}

std::string Erasure::memoBytes(const Table& t) {
    const DbfFile& f = *t.file;
    std::string memo = readWhole(f.memo_->fd(), f.memo_->path());
    const uint64_t bs = f.memo_->blockSize();
    std::set<uint32_t> keptStarts;
    std::vector<uint32_t> gone;
    for (uint32_t rec = 0; rec < f.count_; ++rec)
        for (size_t c = 0; c < f.fields_.size(); ++c) {
            if (f.fields_[c].type != 'M') continue;
            const uint32_t block = f.memoBlock(rec, int(c));
            if (block == 0) continue;
            if (t.removed[rec])
                gone.push_back(block);
            else
                keptStarts.insert(block);
        }
    for (uint32_t block : gone) {
        const uint64_t at = block * bs;
        if (at >= memo.size() || keptStarts.count(block)) continue;
        uint64_t end = memo.size();
        const auto* p = reinterpret_cast<const unsigned char*>(memo.data() + at);
        if (at + 8 <= memo.size() && p[0] == 0xFF && p[1] == 0xFF && p[2] == 0x08 && p[3] == 0x00) {
            end = at + (std::max<uint64_t>(le32(p + 4), 8) + bs - 1) / bs * bs;
        } else {
            const size_t eof = memo.find('\x1A', at); // a text of the older kind ends at its mark
            if (eof != std::string::npos) end = (eof + 1 + bs - 1) / bs * bs;
        }
        // Never into a text a kept record still uses, even in a damaged file.
        auto next = keptStarts.upper_bound(block);
        if (next != keptStarts.end()) end = std::min<uint64_t>(end, *next * bs);
        end = std::min<uint64_t>(end, memo.size());
        std::fill(memo.begin() + long(at), memo.begin() + long(end), '\0');
    }
    return memo;
}

void Erasure::writeIndex(const std::string& path, const Table& t, const std::string& bytes) {
    const DbfFile& f = *t.file;
    std::vector<TagSpec> specs;
    for (const auto& tag : f.mdx_->tags())
        specs.push_back({tag.name, tag.expr, tag.filter, tag.descending, tag.unique});
    std::string name = fileName(f.path_);
    name = name.substr(0, name.find_last_of('.'));
    for (char& c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    const char* records = bytes.data() + f.hdrLen_;
    const uint16_t len = f.recLen_;
    MdxFile::create(path, name, f.fields_, specs, f.count_ - t.removedCount,
                    [records, len](uint32_t rec) { return records + size_t(rec) * len; });
    // Marked busy: whoever opens the table first for writing builds it again from the table
    // it then finds, should a reader come between the renames.
    const int fd = os::open(path, O_RDWR);
    if (fd < 0) throw DbfError("Cannot write index " + path + ": " + os::reason(errno));
    try {
        const unsigned char one = 1;
        writeAll(fd, &one, 1, kMdxBusyMark, path);
        syncFile(fd, path);
    } catch (...) {
        os::close(fd);
        throw;
    }
    closeFile(fd, path);
}

void Erasure::writeParts(const std::string& dir, Table& t) {
    DbfFile& f = *t.file;
    const std::string bytes = tableBytes(t);
    auto part = [&](const std::string& finalPath) {
        Rename r{fileName(finalPath) + kEraseSuffix, fileName(finalPath)};
        t.journal.renames.push_back(r);
        return inDir(dir, r.from);
    };
    if (f.memo_) {
        const std::string p = part(f.memo_->path());
        writeNewFile(p, memoBytes(t), "memo file");
        os::copyMode(f.memo_->path(), p);
    }
    if (f.mdx_) {
        const std::string p = part(f.mdx_->path());
        writeIndex(p, t, bytes);
        os::copyMode(f.mdx_->path(), p);
    }
    const std::string p = part(f.path_);
    writeNewFile(p, bytes, "table");
    os::copyMode(f.path_, p);
    os::FileInfo st;
    if (os::stat(f.fd_, st) != 0) throw DbfError("Cannot read " + f.path_ + ": " + os::reason(errno));
    t.journal.table = fileName(f.path_);
    t.journal.inode = st.inode;
    t.journal.size = st.size;
    t.journal.mtime = st.mtimeNs;
}

std::vector<EraseCount> Erasure::run(const std::string& dir, const std::vector<EraseRequest>& requests) {
    FolderLock folder(dir);
    finishLocked(dir);
    std::vector<Table> tables;
    for (const auto& r : requests)
        tables.push_back({DbfFile::openShared(r.path), {}, 0, {}});
    std::vector<EraseCount> counts;
    bool stopped = false;
    {
        std::vector<std::unique_ptr<DbfFile::AppendLock>> locks;
        // The record locks go at the end, whatever happened; a table put in another's place
        // loses them with its descriptor anyway.
        struct RecordLocks {
            std::vector<Table>& tables;
            ~RecordLocks() {
                for (Table& t : tables)
                    if (t.file->count_ > 0)
                        os::unlock(t.file->fd_, recordLockOffset(t.file->count_ - 1), off_t(t.file->count_));
            }
        } recordLocks{tables};
        std::vector<JournalTable> journal;
        try {
            for (size_t i = 0; i < tables.size(); ++i) {
                Table& t = tables[i];
                lockTable(t, locks);
                t.removed.assign(t.file->count_, false);
                for (uint32_t rec = 0; rec < t.file->count_; ++rec)
                    if (requests[i].match(*t.file, rec)) {
                        t.removed[rec] = true;
                        ++t.removedCount;
                    }
                counts.push_back({t.file->path_, t.removedCount});
            }
            for (Table& t : tables)
                if (t.removedCount > 0) {
                    writeParts(dir, t);
                    journal.push_back(t.journal);
                }
            if (journal.empty()) return counts;
            // The step that decides: once the journal is stored, the erasure happens.
            const std::string name = std::string(kEraseJournal);
            writeNewFile(inDir(dir, name + kEraseSuffix), journalText(journal), "journal");
            if (os::rename(inDir(dir, name + kEraseSuffix), inDir(dir, name)) != 0)
                throw DbfError("Cannot store " + inDir(dir, name) + ": " + os::reason(errno));
        } catch (...) {
            removeStrayParts(dir);
            throw;
        }
        try {
            syncFolder(dir);
            for (const JournalTable& t : journal)
                for (const Rename& r : t.renames)
                    renameInFolder(dir, r);
            syncFolder(dir);
            os::remove(inDir(dir, kEraseJournal));
            syncFolder(dir);
        } catch (const DbfError&) {
            stopped = true; // finished below, once the locks are let go
        }
    }
    if (stopped) {
        const std::string done = finishLocked(dir);
        if (done.find("could not") != std::string::npos) throw DbfError("Erasure in " + dir + ": " + done);
    }
    for (Table& t : tables) {
        if (t.removedCount == 0) continue;
        // Only a table whose file was really put in place counts as erased.
        os::FileInfo mine, named;
        if (os::stat(t.file->fd_, mine) != 0 || os::stat(t.file->path_, named) != 0 ||
            mine.inode == named.inode)
            throw DbfError("Erasure in " + dir + " is not finished: " + t.file->path_ + " was not replaced");
        t.file->adoptReplacement();
    }
    return counts;
}

std::vector<EraseCount> eraseRecords(const std::string& dir, const std::vector<EraseRequest>& requests) {
    return Erasure::run(dir, requests);
}

std::string finishErasure(const std::string& dir) {
    // Nothing to finish: the folder is left as it is (a refused start must not change it).
    if (!leftovers(dir)) return {};
    FolderLock folder(dir);
    return finishLocked(dir);
}

std::string unfinishedErasure(const std::string& dir) {
    const std::string path = inDir(dir, kEraseJournal);
    const int fd = os::open(path, O_RDONLY);
    if (fd < 0) {
        const QStringList parts = QDir(QString::fromStdString(dir))
                                      .entryList({QStringLiteral("*") + QLatin1String(kEraseSuffix)},
                                                 QDir::Files | QDir::Hidden, QDir::Name);
        if (parts.isEmpty()) return {};
        return "an erasure stopped before it decided left " + parts.join(QStringLiteral(", ")).toStdString() +
               "; nothing was erased";
    }
    std::string text;
    try {
        text = readWhole(fd, path);
    } catch (const DbfError&) {
    }
    os::close(fd);
    std::vector<JournalTable> tables;
    if (!parseJournal(text, tables))
        return std::string(kEraseJournal) + " cannot be read; nothing was erased";
    std::string done, pending;
    for (const JournalTable& t : tables) {
        const bool waits = std::any_of(t.renames.begin(), t.renames.end(),
                                       [&](const Rename& r) { return os::exists(inDir(dir, r.from)); });
        std::string& list = waits ? pending : done;
        list += (list.empty() ? "" : ", ") + t.table;
    }
    if (pending.empty()) return {}; // every file in place: only the journal's removal was left
    return "an erasure was stopped half way: " + (done.empty() ? std::string("no table") : done) +
           " erased, " + pending + " not yet";
}

namespace {

std::string finishLocked(const std::string& dir) {
    const std::string path = inDir(dir, kEraseJournal);
    const int fd = os::open(path, O_RDONLY);
    if (fd < 0) {
        removeStrayParts(dir);
        return {};
    }
    std::string text;
    try {
        text = readWhole(fd, path);
    } catch (...) {
        os::close(fd);
        throw;
    }
    os::close(fd);
    std::vector<JournalTable> tables;
    std::string done;
    if (!parseJournal(text, tables)) {
        done = "an unreadable erasure journal was removed; nothing was erased";
    } else {
        done = "an interrupted erasure was finished";
        for (const JournalTable& t : tables)
            if (!finishTable(dir, t)) {
                done = "an interrupted erasure could not be finished, because " + t.table +
                       " changed since; erase again";
                break;
            }
        syncFolder(dir);
    }
    removeStrayParts(dir);
    os::remove(path);
    syncFolder(dir);
    return done;
}

} // namespace

void DbfFile::adoptReplacement() {
    std::shared_ptr<DbfFile> fresh = openFile(path_, !writable_, mdx_ != nullptr);
    std::swap(fd_, fresh->fd_); // the old descriptor closes with fresh, and its locks with it
    std::swap(memo_, fresh->memo_);
    std::swap(mdx_, fresh->mdx_);
    count_ = fresh->count_;
    stray_ = fresh->stray_;
    seen_ = fresh->seen_;
    seenSize_ = fresh->seenSize_;
    readOnlyReason_ = fresh->readOnlyReason_;
    writable_ = fresh->writable_;
    chunks_.clear();
    indexes_.clear();
    tagOrders_.clear();
    ++cuts_; // views over it are built again
}

} // namespace dbf
