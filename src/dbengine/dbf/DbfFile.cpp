#include "DbfFile.h"
#include "FieldText.h"
#include "NumberText.h"

#include "Bytes.h"
#include "FileLock.h"
#include "KeyIndex.h"
#include "Mdx.h"
#include "MemoFile.h"
#include "Os.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace dbf {

using namespace number;

[[noreturn]] static void ioFail(const char* what, const std::string& path) {
    const int err = errno;
    throw DbfFault(std::string(what) + " " + path + ": " + os::reason(err),
                   faultAt(db::Fault::Disk, path, err));
}

void writeAll(int fd, const void* data, size_t n, off_t at, const std::string& path) {
    auto p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = os::pwrite(fd, p, n, at);
        if (w < 0) ioFail("Cannot write", path);
        if (w == 0) {
            errno = ENOSPC;
            ioFail("Cannot write", path);
        }
        p += w;
        n -= size_t(w);
        at += w;
    }
}

void readExact(int fd, void* data, size_t n, off_t at, const std::string& path) {
    auto p = static_cast<char*>(data);
    while (n > 0) {
        ssize_t r = os::pread(fd, p, n, at);
        if (r < 0) ioFail("Cannot read", path);
        if (r == 0)
            throw DbfFault("Cannot read " + path + ": the file ends early",
                           faultAt(db::Fault::TableChanged, path));
        p += r;
        n -= size_t(r);
        at += r;
    }
}

void syncFile(int fd, const std::string& path) {
    if (os::sync(fd) != 0) ioFail("Cannot write", path);
}

void truncateFile(int fd, off_t size, const std::string& path) {
    if (os::truncate(fd, size) != 0) ioFail("Cannot truncate", path);
}

void closeFile(int fd, const std::string& path) {
    if (os::close(fd) != 0) ioFail("Cannot write", path);
}

void writeNewFile(const std::string& path, const std::string& bytes, const char* what) {
    int fd = os::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw DbfError(std::string("Cannot create ") + what + " " + path + ": " + os::reason(errno));
    try {
        try {
            writeAll(fd, bytes.data(), bytes.size(), 0, path);
            syncFile(fd, path);
        } catch (...) {
            os::close(fd);
            throw;
        }
        closeFile(fd, path);
    } catch (...) {
        std::remove(path.c_str()); // a half-made file must not pass for a good one
        throw;
    }
}

uint64_t fileSize(int fd, const std::string& path) {
    os::FileInfo info;
    if (os::stat(fd, info) != 0) ioFail("Cannot read", path);
    return info.size;
}

namespace {

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

void stampDate(unsigned char* h) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    h[1] = uint8_t(tm.tm_year); // years since 1900, as dBASE IV writes it
    h[2] = uint8_t(tm.tm_mon + 1);
    h[3] = uint8_t(tm.tm_mday);
}

std::string memoPathFor(const std::string& path) {
    std::string base = path.substr(0, path.size() - 4);
    bool upperExt = path.size() >= 4 && path.compare(path.size() - 3, 3, "DBF") == 0;
    std::string preferred = base + (upperExt ? ".DBT" : ".dbt");
    if (os::exists(preferred)) return preferred;
    std::string other = base + (upperExt ? ".dbt" : ".DBT");
    if (os::exists(other)) return other;
    return preferred;
}

// A .cpg sidecar (written by GIS tools) names the code page when the header does not.
bool sidecarSays1251(const std::string& path) {
    QFile f(QString::fromStdString(path.substr(0, path.size() - 4) + ".cpg"));
    if (!f.open(QIODevice::ReadOnly)) return false;
    return f.readAll().contains("1251");
}

} // namespace

namespace {

constexpr uint64_t kPow10i[] = {1ull,
                                10ull,
                                100ull,
                                1000ull,
                                10000ull,
                                100000ull,
                                1000000ull,
                                10000000ull,
                                100000000ull,
                                1000000000ull,
                                10000000000ull,
                                100000000000ull,
                                1000000000000ull,
                                10000000000000ull,
                                100000000000000ull,
                                1000000000000000ull,
                                10000000000000000ull,
                                100000000000000000ull,
                                1000000000000000000ull};

double combine(uint64_t whole, uint64_t frac, int fracDigits) {
    // Whole numbers in float columns need no division; otherwise exact operands, one rounding.
    return frac == 0 ? double(whole) : double(whole * kPow10i[fracDigits] + frac) / kPow10[fracDigits];
}

// Anything the fast paths do not take: exponents, very long digit strings, odd blanks.
bool parseNumberSlow(std::string_view s, double& out) {
    std::string t(s);
    for (char& c : t)
        if (c == ',') c = '.';
    size_t b = t.find_first_not_of(' ');
    if (b == std::string::npos) return false;
    const char* start = t.c_str() + b;
    char* end = nullptr;
    double v = std::strtod(start, &end);
    if (end == start) return false;
    while (*end == ' ')
        ++end;
    // The whole text must be used: a NUL inside it is rubbish, not its end.
    if (end != t.c_str() + t.size() || !std::isfinite(v)) return false;
    // strtod takes "inf", "nan" and hex; a dBASE number is digits only.
    for (const char* c = start; c < end; ++c)
        if (!std::strchr("0123456789+-.eE ", *c)) return false;
    out = v;
    return true;
}

} // namespace

namespace number {
[[gnu::noinline]] bool parseNumberLong(const char* p, const char* e, double& out) {
    const char* numStart = p;
    bool neg = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint64_t whole = 0, frac = 0;
    int wholeDigits = 0, fracDigits = 0;
    for (; p < e && unsigned(*p - '0') <= 9; ++p, ++wholeDigits)
        whole = whole * 10 + unsigned(*p - '0');
    if (p < e && (*p == '.' || *p == ',')) {
        for (++p; p < e && unsigned(*p - '0') <= 9; ++p, ++fracDigits)
            frac = frac * 10 + unsigned(*p - '0');
    }
    while (p < e && *p == ' ')
        ++p;
    if (p != e || wholeDigits + fracDigits > 18)
        return parseNumberSlow(std::string_view(numStart, size_t(e - numStart)), out);
    if (wholeDigits + fracDigits == 0) return false;
    double v = combine(whole, frac, fracDigits);
    out = neg ? -v : v;
    return true;
}
} // namespace number

bool parseNumber(std::string_view s, double& out) {
    if (s.size() >= 8) return parseNumberAt(s.data(), s.data() + s.size(), out);
    char buf[8]; // short texts are right-aligned in blanks so the fast path may read 8 bytes
    std::memset(buf, ' ', sizeof buf);
    std::memcpy(buf + 8 - s.size(), s.data(), s.size());
    return parseNumberAt(buf, buf + 8, out);
}

bool DbfFile::readNumber(uint32_t rec, int field, double& out) const {
    std::string_view s = raw(rec, field);
    return parseNumberAt(s.data(), s.data() + s.size(), out);
}

std::shared_ptr<DbfFile> DbfFile::openShared(const std::string& path, bool readOnly) {
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<DbfFile>> registry;
    std::string key = os::canonical(path);
    if (readOnly) key += "\n(read-only)"; // a writer never gets a read-only object
    std::lock_guard<std::mutex> lock(mutex);
    if (auto existing = registry[key].lock()) {
        existing->refresh();
        // One that another program replaced stays with those who hold it; whoever opens the
        // table now gets the file in its place.
        if (!existing->detached()) return existing;
    }
    auto file = open(path, readOnly);
    registry[key] = file;
    return file;
}

std::shared_ptr<DbfFile> DbfFile::open(const std::string& path, bool readOnly) {
    return openFile(path, readOnly, true);
}

std::shared_ptr<DbfFile> DbfFile::openFile(const std::string& path, bool readOnly, bool withIndex) {
    std::shared_ptr<DbfFile> f(new DbfFile);
    f->path_ = path;
    if (!readOnly) f->fd_ = os::open(path, O_RDWR);
    f->writable_ = f->fd_ >= 0;
    // Only a file we may not write falls back to reading; any other failure is the message.
    if (f->fd_ < 0 && (readOnly || errno == EACCES || errno == EPERM || errno == EROFS))
        f->fd_ = os::open(path, O_RDONLY);
    if (f->fd_ < 0) throw DbfError("Cannot open table " + path + ": " + os::reason(errno));
    os::FileInfo st;
    if (os::stat(f->fd_, st) != 0) throw DbfError("Cannot read table " + path + ": " + os::reason(errno));
    if (!st.regular) throw DbfError("Table " + path + " is not a regular file");
    size_t size = size_t(st.size);
    if (size < 32) f->fail("file is shorter than a dBASE header");
    std::vector<unsigned char> head(std::min<size_t>(size, 32 + 32 * 256 + 2));
    readExact(f->fd_, head.data(), head.size(), 0, path);
    f->parseHeader(head.data(), head.size());
    if (f->writable_) f->repairTail();
    if (os::stat(f->fd_, st) != 0) throw DbfError("Cannot read table " + path + ": " + os::reason(errno));
    size = size_t(st.size);
    const size_t body = size_t(f->hdrLen_) + size_t(f->count_) * f->recLen_;
    if (body > size)
        f->fail("header claims " + std::to_string(f->count_) + " records, more than the file holds");
    f->stray_ = size > body + 1 ? size - body - 1 : 0;
    // Chunks of about 128 KiB, a power of two records each so that finding one is a shift.
    while (f->chunkShift_ < 16 && (size_t(f->recLen_) << (f->chunkShift_ + 1)) <= 128 * 1024)
        ++f->chunkShift_;
    f->chunkMask_ = (1u << f->chunkShift_) - 1;
    f->blank_.reset(new char[f->kChunkPad * 2 + f->recLen_]);
    std::memset(f->blank_.get(), ' ', f->kChunkPad * 2 + f->recLen_);
    f->seen_ = st.mtimeNs;
    f->seenSize_ = st.size;
    bool needMemo =
        std::any_of(f->fields_.begin(), f->fields_.end(), [](const FieldDef& d) { return d.type == 'M'; });
    if (needMemo) f->memo_ = std::make_unique<MemoFile>(memoPathFor(path), f->writable_);
    if (f->version_ == 0x03 || head[29] == 0) {
        if (sidecarSays1251(path)) f->cp_ = CodePage::Cp1251;
    }
    if (withIndex && (head[28] & 0x01))
        f->openIndex(); // the header says there is a production index
    else if (withIndex && os::exists(indexPathFor(path)))
        f->adoptIndex();
    return f;
}

void DbfFile::parseHeader(const unsigned char* h, size_t size) {
    version_ = h[0];
    switch (version_) {
    case 0x03:
    case 0x83:
    case 0x8B:
    case 0x8E:
    case 0xF5:
    case 0x30:
    case 0x04:
    case 0x7B:
    case 0xCB:
        break;
    default:
        fail("is not a dBASE table (version byte " + std::to_string(version_) + ")");
    }
    count_ = le32(h + 4);
    hdrLen_ = le16(h + 8);
    recLen_ = le16(h + 10);
    cp_ = codePageForDriver(h[29]);
    if (hdrLen_ < 33 || recLen_ < 1) fail("has a broken header (header or record length)");
    if (hdrLen_ > size && size < 32 + 32 * 256 + 2) fail("is truncated inside its header");
    uint32_t offset = 0;
    size_t pos = 32;
    for (; pos + 32 <= std::min<size_t>(hdrLen_, size); pos += 32) {
        if (h[pos] == 0x0D) break;
        FieldDef d;
        const char* name = reinterpret_cast<const char*>(h + pos);
        d.name = upper(std::string_view(name, strnlen(name, 11)));
        d.type = char(std::toupper(h[pos + 11]));
        d.length = h[pos + 16];
        d.decimals = h[pos + 17];
        d.offset = offset;
        if (d.name.empty() || d.length == 0) fail("has a broken field descriptor");
        if (!std::strchr("CNFDLM", d.type))
            fail("has a field " + d.name + " of unsupported type " + std::string(1, d.type));
        offset += d.length;
        fields_.push_back(std::move(d));
    }
    if (fields_.empty()) fail("has no fields");
    if (offset + 1 > recLen_) fail("has fields wider than its record length");
    // Other readers look for the field list's end mark; without it they read records as fields.
    if (pos >= std::min<size_t>(hdrLen_, size) || h[pos] != 0x0D)
        fail("has a damaged header: the end mark (0x0D) after its " + std::to_string(fields_.size()) +
             " field descriptors is missing");
}

void DbfFile::repairTail() {
    // A writer killed between writing a record and updating the count leaves bytes past the last
    // record; cut them so every reader sees a well-formed file again.
    AppendLock lock(*this);
    unsigned char c[4];
    readExact(fd_, c, 4, 4, path_);
    count_ = le32(c);
    off_t body = off_t(hdrLen_) + off_t(count_) * recLen_;
    if (off_t(fileSize(fd_, path_)) > body + 1) {
        truncateFile(fd_, body, path_);
        char eof = 0x1A;
        writeAll(fd_, &eof, 1, body, path_);
        syncFile(fd_, path_);
    }
}

DbfFile::~DbfFile() {
    // Every write was synced when it was made: a close has nothing left to report.
    if (fd_ >= 0) os::close(fd_);
}

void DbfFile::fail(const std::string& what, db::Fault fault) const {
    throw DbfFault("Table " + path_ + ": " + what, faultAt(fault, path_));
}

int DbfFile::fieldIndex(std::string_view name) const {
    std::string u = upper(name);
    for (size_t i = 0; i < fields_.size(); ++i)
        if (fields_[i].name == u) return int(i);
    return -1;
}

QString decodeText(std::string_view s, CodePage cp) {
    size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0'))
        --n;
    return decode(s.substr(0, n), cp);
}

QString DbfFile::readString(uint32_t rec, int field) const {
    return decodeText(raw(rec, field), cp_);
}

QDate parseDate(std::string_view s) {
    if (s.size() < 8) return {};
    uint64_t w = load8(s.data());
    if (digitRun(w) != 8) return {};
    int ymd = int(digitsValue(w, 8)); // yyyymmdd
    int y = ymd / 10000, md = ymd - y * 10000, m = md / 100, d = md - m * 100;
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y == 0 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return {}; // the calendar has no year 0
    if (m == 2 && d == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return {};
    // Days from the civil date (era arithmetic), without the calendar machinery of QDate(y, m, d).
    y -= m <= 2;
    int era = y / 400, yoe = y - era * 400;
    int doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return QDate::fromJulianDay(qint64(era) * 146097 + doe - 719468 + 2440588);
}

QDate DbfFile::readDate(uint32_t rec, int field) const {
    return parseDate(raw(rec, field));
}

int DbfFile::readLogical(uint32_t rec, int field) const {
    char c = raw(rec, field)[0];
    if (std::strchr("TtYy", c) && c) return 1;
    if (std::strchr("FfNn", c) && c) return 0;
    return -1;
}

uint32_t DbfFile::memoBlock(uint32_t rec, int field) const {
    std::string_view s = raw(rec, field);
    if (s.size() == 4 && fields_[size_t(field)].length == 4)
        return le32(reinterpret_cast<const unsigned char*>(s.data()));
    double v = 0;
    // Garbage such as "1e308" must not reach the cast: outside uint32 (or NaN) means no block.
    if (!parseNumber(s, v) || !(v >= 0 && v < 4294967296.0)) return 0;
    return uint32_t(v);
}

QString DbfFile::readMemo(uint32_t rec, int field) const {
    uint32_t block = memoBlock(rec, field);
    if (block == 0) return {};
    if (!memo_) fail("has memo fields but no memo file");
    return decode(memo_->read(block), cp_);
}

void DbfFile::sync() {
    if (durable_) syncFile(fd_, path_);
}

void DbfFile::underAppendLock(const std::function<void()>& fn) {
    AppendLock lock(*this);
    refresh();
    fn();
}

uint32_t DbfFile::appendRecord(const std::string& bytes, const AppendStep& underLock) {
    return appendGroup({bytes}, underLock);
}

uint32_t DbfFile::appendRecords(const std::vector<std::string>& records) {
    return appendGroup(records, {});
}

uint32_t DbfFile::appendGroup(const std::vector<std::string>& records, const AppendStep& underLock) {
    if (!writable_) fail(readOnlyReason_.empty() ? "is read-only" : readOnlyReason_, readOnlyFault());
    for (const std::string& r : records)
        if (r.size() != recLen_) fail("record of wrong length");
    AppendLock lock(*this);
    if (underLock) refresh(); // every record stored so far, ours or another process's, as stored now
    unsigned char h[12];
    os::FileInfo st;
    const uint32_t n = storedCount(h, &st); // another process may have appended since we looked
    if (records.empty()) return n;
    const off_t at = off_t(hdrLen_) + off_t(n) * recLen_;
    const uint64_t oldSize = st.size;
    if (uint64_t(at) > oldSize) fail("header claims more records than the file holds");
    if (n != count_) adoptCount(n);
    std::string buf;
    buf.reserve(records.size() * recLen_ + 1);
    for (const std::string& r : records)
        buf += r;
    if (underLock) {
        underLock(buf, n); // one record: the step sees it alone
        if (buf.size() != recLen_) fail("record of wrong length");
    }
    const bool clean = sameAsSeen(st);
    if (mdx_) {
        // The index is marked busy from here until after the count: a writer killed in
        // between leaves the mark, and the next one rebuilds the index.
        mdx_->begin(n, recordAt(), durable_);
    }
    const uint32_t added = uint32_t(records.size());
    buf.push_back(0x1A);
    try {
        // Records first, count after: a crash in between leaves the old, readable count.
        writeAll(fd_, buf.data(), buf.size(), at, path_);
        if (oldSize > uint64_t(at) + buf.size()) truncateFile(fd_, at + off_t(buf.size()), path_);
        sync();
        if (mdx_) {
            for (uint32_t i = 0; i < added; ++i)
                mdx_->add(n + i, buf.data() + size_t(i) * recLen_);
            mdx_->flush(durable_);
        }
        unsigned char nh[8];
        std::memcpy(nh, h, 8);
        stampDate(nh);
        put32(nh + 4, n + added);
        writeAll(fd_, nh, 8, 0, path_);
        sync();
    } catch (...) {
        if (mdx_) mdx_->rollback(durable_);
        undoAppend(h, at, oldSize);
        throw;
    }
    count_ = n + added;
    for (uint32_t i = 0; i < added; ++i)
        keepInChunk(n + i, buf.substr(size_t(i) * recLen_, recLen_));
    tagOrders_.clear();
    if (clean) noteOwnWrite(uint64_t(at) + buf.size()); // else the next refresh reads the others' work
    endIndexStep();
    return n;
}

void DbfFile::undoAppend(const unsigned char* oldHeader, off_t at, uint64_t oldSize) {
    // Best effort on a failing disk: the old header, the old length and the end mark where it was.
    os::pwrite(fd_, oldHeader, 8, 0);
    os::truncate(fd_, off_t(oldSize));
    if (oldSize > uint64_t(at)) {
        const char eof = 0x1A;
        os::pwrite(fd_, &eof, 1, at);
    }
    os::sync(fd_);
}

void DbfFile::writeRecord(uint32_t rec, const std::string& bytes) {
    if (!writable_) fail(readOnlyReason_.empty() ? "is read-only" : readOnlyReason_, readOnlyFault());
    if (bytes.size() != recLen_ || rec >= count_) fail("write outside its records");
    if (!lockRecord(rec, 2000)) throw DbfError(std::string(kRecordLocked));
    struct Unlock {
        DbfFile* file;
        uint32_t rec;
        ~Unlock() { file->unlockRecord(rec); }
    } unlock{this, rec};
    // The header as stored now: a record another program packed away must not be written back.
    os::FileInfo st;
    if (rec >= storedCount(nullptr, &st))
        fail("record " + std::to_string(rec + 1) + " is no longer stored: another program changed the table",
             db::Fault::TableChanged);
    const bool clean = sameAsSeen(st);
    const off_t at = off_t(hdrLen_) + off_t(rec) * recLen_;
    std::string old(recLen_, '\0');
    readExact(fd_, old.data(), old.size(), at, path_);
    // Only a write that changes a key touches the index, which is one tree for the whole file:
    // that change goes under the append lock.
    const bool indexed = mdx_ && mdx_->changesKeys(old.data(), bytes.data());
    std::optional<AppendLock> indexLock;
    if (indexed) {
        indexLock.emplace(*this);
        refresh();
        mdx_->begin(count_, recordAt(), durable_);
    }
    try {
        writeAll(fd_, bytes.data(), bytes.size(), at, path_);
        sync();
        if (indexed) {
            mdx_->update(rec, old.data(), bytes.data());
            mdx_->flush(durable_);
        }
    } catch (...) {
        // Half a record is worse than the old one: put the old bytes back.
        os::pwrite(fd_, old.data(), old.size(), at);
        os::sync(fd_);
        if (indexed) mdx_->rollback(durable_);
        throw;
    }
    keepInChunk(rec, bytes);
    if (indexed) endIndexStep();
    tagOrders_.clear();
    // A record write keeps the length: a longer file means another process appended meanwhile,
    // which the next refresh must still see.
    if (clean) noteOwnWrite(seenSize_);
    for (auto& ix : indexes_)
        ix->noteRewrite(rec, ix->hashRecord(*this, bytes.data()));
}

bool DbfFile::lockRecord(uint32_t rec, int waitMs) {
    if (!writable_) return true; // a read-only descriptor cannot lock, and never writes
    if (auto it = recordLocks_.find(rec); it != recordLocks_.end()) {
        ++it->second;
        return true;
    }
    for (int waited = 0;; waited += 5) {
        if (os::tryLock(fd_, recordLockOffset(rec)) == 0) break;
        if (errno != EAGAIN && errno != EACCES) break; // no locks on this file system: go on as before
        if (waited >= waitMs) return false;
        usleep(5000);
    }
    recordLocks_[rec] = 1;
    return true;
}

void DbfFile::unlockRecord(uint32_t rec) {
    auto it = recordLocks_.find(rec);
    if (it == recordLocks_.end() || --it->second > 0) return;
    recordLocks_.erase(it);
    os::unlock(fd_, recordLockOffset(rec));
}

const KeyIndex* DbfFile::indexWithin(const std::vector<int>& columns) const {
    const KeyIndex* best = nullptr;
    for (const auto& ix : indexes_) {
        bool inside = std::all_of(ix->columns().begin(), ix->columns().end(), [&](int c) {
            return std::find(columns.begin(), columns.end(), c) != columns.end();
        });
        if (inside && (!best || ix->columns().size() > best->columns().size())) best = ix.get();
    }
    return best;
}

KeyIndex& DbfFile::keyIndex(const std::vector<int>& columns) {
    refresh(); // keys another process stored, or changed, count too
    for (auto& ix : indexes_)
        if (ix->columns() == columns) {
            ix->catchUp(*this);
            return *ix;
        }
    indexes_.push_back(std::make_unique<KeyIndex>(columns));
    indexes_.back()->catchUp(*this);
    return *indexes_.back();
}

void DbfFile::setDeleted(uint32_t rec, bool deleted) {
    std::string r(record(rec), recLen_);
    r[0] = deleted ? '*' : ' ';
    writeRecord(rec, r);
}

uint32_t DbfFile::writeMemo(const std::string& bytes, uint32_t oldBlock) {
    if (!memo_) fail("has no memo file");
    MemoUndo undo;
    const uint32_t block = memo_->write(bytes, oldBlock, durable_, undo);
    if (journaling_) memoUndo_.push_back(std::move(undo));
    return block;
}

void DbfFile::beginMemoWrites() {
    journaling_ = true;
    memoUndo_.clear();
}

void DbfFile::endMemoWrites() {
    journaling_ = false;
    memoUndo_.clear();
}

void DbfFile::undoMemoWrites() {
    for (auto it = memoUndo_.rbegin(); it != memoUndo_.rend(); ++it)
        memo_->undo(*it, durable_);
    endMemoWrites();
}

std::string DbfFile::formatNumber(int field, double v) const {
    const FieldDef& f = fields_[size_t(field)];
    char buf[64];
    if (!std::isfinite(v)) fail("value is not a number for field " + f.name);
    int n = std::snprintf(buf, sizeof buf, "%*.*f", int(f.length), int(f.decimals), v);
    if (n < 0 || n > f.length)
        throw DbfFault("Value " + std::string(buf) + " does not fit field " + f.name + " (" +
                           std::to_string(f.length) + " characters)",
                       db::FaultInfo(db::Fault::ValueTooWide, QString::fromStdString(path_),
                                     QString::fromStdString(f.name), QString::fromUtf8(buf).trimmed()));
    return std::string(buf, size_t(n));
}

std::string DbfFile::formatDate(const QDate& d) {
    if (!d.isValid()) return std::string(8, ' ');
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year(), d.month(), d.day());
    return std::string(buf, 8);
}

void DbfFile::create(const std::string& path, std::vector<FieldDef> fields, CodePage cp) {
    if (fields.empty() || fields.size() > 255)
        throw DbfError("Table " + path + ": a table needs 1 to 255 fields");
    bool memo = false;
    uint32_t rlen = 1;
    for (auto& f : fields) {
        f.name = upper(f.name);
        if (f.name.empty() || f.name.size() > 10)
            throw DbfError("Table " + path + ": bad field name " + f.name);
        memo = memo || f.type == 'M';
        if (f.type == 'M') f.length = 10;
        if (f.type == 'D') f.length = 8;
        if (f.type == 'L') f.length = 1;
        f.offset = rlen - 1;
        rlen += f.length;
    }
    if (rlen > 65535) throw DbfError("Table " + path + ": records too long");
    uint16_t hlen = uint16_t(32 + 32 * fields.size() + 1);
    std::string out(hlen + 1, '\0');
    auto* h = reinterpret_cast<unsigned char*>(out.data());
    h[0] = memo ? 0x8B : 0x03;
    stampDate(h);
    put32(h + 4, 0);
    put16(h + 8, hlen);
    put16(h + 10, uint16_t(rlen));
    h[29] = driverForCodePage(cp);
    for (size_t i = 0; i < fields.size(); ++i) {
        unsigned char* d = h + 32 + 32 * i;
        std::memcpy(d, fields[i].name.data(), fields[i].name.size());
        d[11] = uint8_t(fields[i].type);
        d[16] = fields[i].length;
        d[17] = fields[i].decimals;
    }
    h[hlen - 1] = 0x0D;
    h[hlen] = 0x1A;
    writeNewFile(path, out, "table");
    if (!memo) return;
    try {
        MemoFile::create(path.substr(0, path.size() - 4) +
                             (path.compare(path.size() - 3, 3, "DBF") == 0 ? ".DBT" : ".dbt"),
                         path);
    } catch (...) {
        // No table stays behind without its memo file, to be taken for a good one.
        std::remove(path.c_str());
        throw;
    }
}

} // namespace dbf
