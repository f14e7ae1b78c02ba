// What this process holds of a table against what is stored: records read a chunk at a time,
// and the looks at the file that notice other programs' appends, changes, cuts and replacements.
#include "Bytes.h"
#include "DbfFile.h"
#include "KeyIndex.h"
#include "Os.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dbf {

const char* DbfFile::loadChunk(uint32_t rec) const {
    if (rec >= count_) return blank_.get() + kChunkPad;
    const size_t c = rec >> chunkShift_;
    if (c >= chunks_.size()) chunks_.resize(c + 1);
    const uint32_t first = uint32_t(c) << chunkShift_;
    const size_t per = size_t(chunkMask_) + 1;
    const size_t want = std::min<size_t>(per, count_ - first) * recLen_;
    std::unique_ptr<char[]> chunk(new char[kChunkPad * 2 + per * recLen_]);
    char* data = chunk.get() + kChunkPad;
    size_t got = 0;
    while (got < want) {
        ssize_t r =
            os::pread(fd_, data + got, want - got, off_t(hdrLen_) + off_t(first) * recLen_ + off_t(got));
        if (r <= 0) break;
        got += size_t(r);
    }
    // Past what the file gave: blanks. A short read means the file was cut (or the disk failed)
    // under us; the next refresh must look at the file again.
    std::memset(chunk.get(), ' ', kChunkPad);
    std::memset(data + got, ' ', per * recLen_ - got + kChunkPad);
    if (got < want) seen_ = -1;
    chunks_[c] = std::move(chunk);
    return data + size_t(rec & chunkMask_) * recLen_;
}

void DbfFile::forgetChunksFrom(uint32_t rec) {
    const size_t c = rec >> chunkShift_;
    if (c < chunks_.size()) chunks_.resize(c);
}

void DbfFile::keepInChunk(uint32_t rec, const std::string& bytes) {
    const size_t c = rec >> chunkShift_;
    if (c < chunks_.size() && chunks_[c])
        std::memcpy(chunks_[c].get() + kChunkPad + size_t(rec & chunkMask_) * recLen_, bytes.data(), recLen_);
}

bool DbfFile::replacedElsewhere(const os::FileInfo& mine) const {
    // A file put in the table's place (a copy renamed over it) leaves ours unlinked: writes to it
    // would be lost.
    os::FileInfo named;
    return os::stat(path_, named) == 0 && (named.device != mine.device || named.inode != mine.inode);
}

bool DbfFile::reshapedElsewhere(const unsigned char* header) {
    if (le16(header + 8) == hdrLen_ && le16(header + 10) == recLen_) return false;
    detach("was rewritten by another program with another structure");
    return true;
}

uint32_t DbfFile::storedCount(unsigned char* header, os::FileInfo* now) {
    os::FileInfo st;
    if (os::stat(fd_, st) != 0) throw DbfError("Cannot read " + path_ + ": " + os::reason(errno));
    if (detached_.empty() && replacedElsewhere(st)) detach("was replaced by another program");
    if (!detached_.empty()) fail(detached_ + "; open it again", db::Fault::TableChanged);
    unsigned char own[12];
    unsigned char* h = header ? header : own;
    readExact(fd_, h, 12, 0, path_);
    if (reshapedElsewhere(h)) fail(detached_ + "; open it again", db::Fault::TableChanged);
    if (now) *now = st;
    return le32(h + 4);
}

void DbfFile::noteOwnWrite(uint64_t expectedSize) {
    os::FileInfo st;
    if (os::stat(fd_, st) != 0 || (expectedSize && st.size != expectedSize)) return;
    seen_ = st.mtimeNs;
    seenSize_ = st.size;
}

bool DbfFile::refresh() {
    // File times tick in steps of a few milliseconds: a change another process makes within the
    // same step as our own last write goes unseen until a later change or an edit's re-read.
    os::FileInfo st;
    if (os::stat(fd_, st) != 0 || !detached_.empty()) return false;
    if (replacedElsewhere(st)) {
        detach("was replaced by another program");
        return true;
    }
    if (sameAsSeen(st)) return false;
    unsigned char h[12];
    if (os::pread(fd_, h, sizeof h, 0) != ssize_t(sizeof h)) return false;
    // What we hold may be stale anywhere: records and keys are read again when next needed.
    chunks_.clear();
    indexes_.clear();
    tagOrders_.clear();
    const uint32_t before = count_;
    if (reshapedElsewhere(h)) return before != 0;
    uint32_t n = le32(h + 4);
    if (uint64_t(hdrLen_) + uint64_t(n) * recLen_ > st.size) {
        // The count is written after the record, so this is a cut, not an append in progress:
        // take the whole records the file holds.
        n = st.size > hdrLen_ ? uint32_t((st.size - hdrLen_) / recLen_) : 0;
    }
    if (n < count_) ++cuts_;
    count_ = n;
    seen_ = st.mtimeNs;
    seenSize_ = st.size;
    return n != before;
}

void DbfFile::adoptCount(uint32_t n) {
    // Records others appended are read when first used; fewer records than we knew is a cut.
    if (n < count_) {
        ++cuts_;
        indexes_.clear();
    }
    tagOrders_.clear();
    forgetChunksFrom(std::min(n, count_));
    count_ = n;
}

void DbfFile::detach(const std::string& why) {
    // None of what we know of its fields holds any more.
    detached_ = why;
    chunks_.clear();
    indexes_.clear();
    tagOrders_.clear();
    count_ = 0;
    ++cuts_;
}

void DbfFile::reloadRecord(uint32_t rec) {
    refresh();
    if (!detached_.empty()) fail(detached_ + "; open it again", db::Fault::TableChanged);
    if (rec >= count_ || rec >= storedCount())
        fail("record " + std::to_string(rec + 1) + " is no longer stored: another program changed the table",
             db::Fault::TableChanged);
    // Another workstation's write shows only in what is read after taking the lock.
    const size_t c = rec >> chunkShift_;
    if (c >= chunks_.size() || !chunks_[c]) return; // read from the file when first used
    std::string fresh(recLen_, '\0');
    readExact(fd_, fresh.data(), fresh.size(), off_t(hdrLen_) + off_t(rec) * recLen_, path_);
    keepInChunk(rec, fresh);
}

} // namespace dbf
