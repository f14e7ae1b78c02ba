#include "Mdx.h"

#include "MdxNode.h"

#include "Bytes.h"
#include "Os.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <set>

namespace dbf {

using namespace mdx;

std::string bcdKey(double v) {
    std::string k(12, '\0');
    auto* p = reinterpret_cast<unsigned char*>(k.data());
    if (!std::isfinite(v) || v == 0) {
        p[0] = 52;
        p[1] = 1;
        return k;
    }
    // As dBASE writers do: the digit count is that of the number as written (whole part
    // without leading zeros, fraction without trailing ones); the digits start at the first
    // non-zero one and are padded with zeros to that count.
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.10f", std::fabs(v));
    std::string whole(buf, std::strchr(buf, '.')), frac(std::strchr(buf, '.') + 1);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    std::string all = whole + frac;
    size_t lead = std::min(all.find_first_not_of('0'), all.size());
    int exp = whole.empty() ? -int(lead) : int(whole.size());
    std::string digits = all.substr(lead);
    digits.resize(all.size(), '0');
    if (digits.size() > 20) digits.resize(20);
    p[0] = uint8_t(52 + exp);
    p[1] = uint8_t(digits.size() << 2 | 1 | (v < 0 ? 0x80 : 0));
    for (size_t i = 0; i < digits.size(); ++i)
        p[2 + i / 2] |= uint8_t((digits[i] - '0') << (i % 2 ? 0 : 4));
    return k;
}

double bcdValue(const unsigned char* p) {
    int n = (p[1] >> 2) & 0x1F;
    if (n > 20) n = 20;
    double v = 0;
    for (int i = 0; i < n; ++i)
        v = v * 10 + ((p[2 + i / 2] >> (i % 2 ? 0 : 4)) & 0x0F);
    v *= std::pow(10.0, int(p[0]) - 52 - n);
    return p[1] & 0x80 ? -v : v;
}

std::string dateKey(const KeyExpr::Value& v) {
    double d = v.blank ? kBlankDate : v.n;
    std::string k(8, '\0');
    std::memcpy(k.data(), &d, 8); // little-endian, as on every machine we run on
    return k;
}

MdxFile::~MdxFile() {
    if (fd_ >= 0) os::close(fd_);
}

const MdxFile::Tag* MdxFile::tag(const std::string& name) const {
    for (const Tag& t : tags_)
        if (t.name == name) return &t;
    return nullptr;
}

std::string MdxFile::problem() const {
    for (const Tag& t : tags_)
        if (!t.problem.empty())
            return "Index tag " + t.name + " of " + path_ + " cannot be kept up to date: expression \"" +
                   t.expr + (t.filter.empty() ? "" : "\" FOR \"" + t.filter) + "\": " + t.problem;
    return {};
}

std::unique_ptr<MdxFile> MdxFile::open(const std::string& path, const std::vector<FieldDef>& fields,
                                       bool writable) {
    std::unique_ptr<MdxFile> m(new MdxFile);
    m->path_ = path;
    m->fields_ = fields;
    if (writable) m->fd_ = os::open(path, O_RDWR);
    m->writable_ = m->fd_ >= 0;
    if (m->fd_ < 0) m->fd_ = os::open(path, O_RDONLY);
    if (m->fd_ < 0) throw DbfError("Cannot open index " + path + ": " + os::reason(errno));
    m->loadHeader();
    return m;
}

void MdxFile::loadHeader() {
    cache_.clear();
    changed_.clear();
    headerChanged_ = false;
    const uint64_t size = fileSize(fd_, path_);
    auto bad = [&](const std::string& why) -> void {
        throw DbfFault("Index " + path_ + " is damaged (" + why + "); rebuild it with morv-db reindex",
                       faultAt(db::Fault::IndexDamaged, path_));
    };
    if (size < kHeaderBytes) bad("shorter than its header");
    header_.assign(kHeaderBytes, 0);
    readExact(fd_, header_.data(), kHeaderBytes, 0, path_);
    const unsigned char* h = header_.data();
    pagesPerBlock_ = le16(h + 20);
    blockBytes_ = le16(h + 22);
    if (pagesPerBlock_ < 1 || pagesPerBlock_ > 32)
        bad(std::to_string(pagesPerBlock_) + " pages per block, where 1 to 32 can be");
    if (blockBytes_ != pagesPerBlock_ * kPage)
        bad("block size " + std::to_string(blockBytes_) + " for " + std::to_string(pagesPerBlock_) +
            " pages of 512 bytes");
    size_t n = le16(h + 28);
    if (n > kMaxTags) bad("too many tags");
    std::vector<Tag> old = std::move(tags_);
    tags_.clear();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char* e = h + kTagTable + i * kTagEntry;
        Tag t;
        t.headerPage = le32(e);
        t.name = cString(e + 4, 11);
        if (uint64_t(t.headerPage) * kPage + blockBytes_ > size) bad("tag " + t.name + " lies past the end");
        std::vector<unsigned char> th(blockBytes_);
        readExact(fd_, th.data(), th.size(), off_t(t.headerPage) * kPage, path_);
        cache_[t.headerPage] = th;
        t.root = le32(th.data());
        t.sizePages = le32(th.data() + 4);
        t.descending = th[8] & 0x08;
        t.unique = (th[8] & 0x40) || th[23];
        t.keyType = char(th[9]);
        t.keyLen = le16(th.data() + 12);
        t.maxKeys = le16(th.data() + 14);
        t.itemLen = le16(th.data() + 18);
        t.expr = cString(th.data() + kExprAt, kExprMax);
        if (th[245] && blockBytes_ >= kFilterAt + kFilterMax)
            t.filter = cString(th.data() + kFilterAt, kFilterMax);
        if (t.keyLen < 1 || t.itemLen < t.keyLen + 4 || t.maxKeys < 1 ||
            8 + size_t(t.maxKeys) * t.itemLen + 4 > blockBytes_)
            bad("tag " + t.name + " has impossible key sizes");
        if (uint64_t(t.root) * kPage + blockBytes_ > size || t.root == 0)
            bad("tag " + t.name + " has no root");
        // Compiled expressions survive a reload: they depend only on the text.
        auto same = std::find_if(old.begin(), old.end(), [&](const Tag& o) {
            return o.name == t.name && o.expr == t.expr && o.filter == t.filter && o.keyType == t.keyType;
        });
        if (same != old.end()) {
            t.key = same->key;
            t.forExpr = same->forExpr;
            t.problem = same->problem;
        } else {
            try {
                t.key = std::make_shared<KeyExpr>(t.expr, fields_);
                if (!t.filter.empty()) {
                    t.forExpr = std::make_shared<KeyExpr>(t.filter, fields_);
                    if (t.forExpr->type() != KeyExpr::Type::Logical)
                        throw DbfError(std::string("the FOR condition is not logical"));
                }
                KeyExpr::Type want = t.keyType == 'N'   ? KeyExpr::Type::Number
                                     : t.keyType == 'D' ? KeyExpr::Type::Date
                                                        : KeyExpr::Type::Char;
                if (t.keyType != 'C' && t.keyType != 'N' && t.keyType != 'D')
                    throw DbfError(std::string("key type ") + t.keyType + " is not supported");
                if (t.key->type() != want)
                    throw DbfError(std::string("the expression gives keys of another type"));
                if (want == KeyExpr::Type::Char && t.key->width() != t.keyLen)
                    throw DbfError(std::string("the expression gives keys of another length"));
            } catch (const DbfError& e) {
                t.key.reset();
                t.forExpr.reset();
                t.problem = e.what();
            }
        }
        tags_.push_back(std::move(t));
    }
}

unsigned char* MdxFile::block(uint32_t page) {
    auto it = cache_.find(page);
    if (it != cache_.end()) return it->second.data();
    const uint32_t pages = le32(header_.data() + 32);
    if (page < kHeaderBytes / kPage || (pages && page >= pages && !changed_.count(page)))
        throw DbfFault("Index " + path_ + " is damaged (page " + std::to_string(page) +
                           " out of range); rebuild it with morv-db reindex",
                       faultAt(db::Fault::IndexDamaged, path_));
    std::vector<unsigned char> b(blockBytes_);
    readExact(fd_, b.data(), b.size(), off_t(page) * kPage, path_);
    return cache_.emplace(page, std::move(b)).first->second.data();
}

unsigned char* MdxFile::writableBlock(uint32_t page) {
    unsigned char* b = block(page);
    // Until written, what we hold of a page is what is stored: its old bytes for a rollback.
    if (!changed_.count(page)) undo_.keep(uint64_t(page) * kPage, b, blockBytes_);
    changed_[page] = true;
    return b;
}

uint32_t MdxFile::allocate() {
    unsigned char* h = header_.data();
    headerChanged_ = true;
    uint32_t free = le32(h + 36);
    if (free && !isFree(free)) {
        // A damaged list would hand out a page some tag uses: drop it, the file grows instead.
        put32(h + 36, 0);
        free = 0;
    }
    if (free) {
        const unsigned char* b = block(free);
        put32(h + 36, le32(b + 4));
        unsigned char* w = writableBlock(free);
        std::memset(w, 0, blockBytes_);
        return free;
    }
    uint32_t page = le32(h + 32);
    put32(h + 32, page + pagesPerBlock_);
    cache_[page].assign(blockBytes_, 0);
    changed_[page] = true;
    return page;
}

bool MdxFile::isFree(uint32_t page) {
    // A free page lies among the pages in use, is no tag's header or root (an empty root is
    // blank too), and is blank past the two words that link the list, as release() leaves it.
    // Any node in use has a record number or child there.
    const uint32_t pages = le32(header_.data() + 32);
    if (page < kHeaderBytes / kPage || uint64_t(page) + pagesPerBlock_ > pages) return false;
    for (const Tag& t : tags_)
        for (uint32_t used : {t.headerPage, t.root})
            if (page + pagesPerBlock_ > used && used + pagesPerBlock_ > page) return false;
    try {
        const unsigned char* b = block(page);
        return std::all_of(b + 8, b + blockBytes_, [](unsigned char c) { return c == 0; });
    } catch (const DbfError&) {
        return false;
    }
}

void MdxFile::release(uint32_t page) {
    unsigned char* h = header_.data();
    unsigned char* b = writableBlock(page);
    std::memset(b, 0, blockBytes_);
    // The next free page in both first words: readers disagree on which one holds it.
    put32(b, le32(h + 36));
    put32(b + 4, le32(h + 36));
    put32(h + 36, page);
    headerChanged_ = true;
}

namespace mdx {

Node decode(const unsigned char* b, const MdxFile::Tag& t, uint32_t blockBytes, const std::string& path) {
    Node n;
    if (++t.visits > t.visitLimit)
        throw DbfFault("Index " + path + " is damaged (tag " + t.name +
                           " reaches more nodes than the file holds); rebuild it with morv-db reindex",
                       faultAt(db::Fault::IndexDamaged, path));
    uint32_t count = le32(b);
    if (count > t.maxKeys || 8 + size_t(count) * t.itemLen + 4 > blockBytes)
        throw DbfFault("Index " + path + " is damaged (tag " + t.name + ", a node claims " +
                           std::to_string(count) + " keys); rebuild it with morv-db reindex",
                       faultAt(db::Fault::IndexDamaged, path));
    n.leaf = le32(b + 8 + size_t(count) * t.itemLen) == 0;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* it = b + 8 + size_t(i) * t.itemLen;
        n.ptr.push_back(le32(it));
        n.keys.emplace_back(reinterpret_cast<const char*>(it + 4), t.keyLen);
    }
    if (!n.leaf) n.ptr.push_back(le32(b + 8 + size_t(count) * t.itemLen));
    return n;
}

void encode(unsigned char* b, const Node& n, const MdxFile::Tag& t, uint32_t blockBytes) {
    unsigned char link[4];
    std::memcpy(link, b + 4, 4);
    std::memset(b, 0, blockBytes);
    put32(b, uint32_t(n.keys.size()));
    std::memcpy(b + 4, link, 4);
    for (size_t i = 0; i < n.keys.size(); ++i) {
        unsigned char* it = b + 8 + i * t.itemLen;
        put32(it, n.ptr[i]);
        std::memcpy(it + 4, n.keys[i].data(), t.keyLen);
    }
    if (!n.leaf) put32(b + 8 + n.keys.size() * t.itemLen, n.ptr.back());
}

} // namespace mdx

namespace {

int rawCompare(char type, const std::string& a, const std::string& b) {
    if (a == b) return 0;
    if (type == 'N') {
        double x = bcdValue(reinterpret_cast<const unsigned char*>(a.data()));
        double y = bcdValue(reinterpret_cast<const unsigned char*>(b.data()));
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (type == 'D') {
        double x, y;
        std::memcpy(&x, a.data(), 8);
        std::memcpy(&y, b.data(), 8);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

int MdxFile::compare(const Tag& t, const std::string& a, uint32_t ra, const std::string& b,
                     uint32_t rb) const {
    int c = rawCompare(t.keyType, a, b);
    if (t.descending) c = -c;
    if (c) return c;
    return ra < rb ? -1 : ra > rb ? 1 : 0; // equal keys keep record order in both directions
}

bool MdxFile::keyFor(const Tag& t, const char* record, std::string& key) const {
    if (t.forExpr && !t.forExpr->test(record)) return false;
    KeyExpr::Value v = t.key->eval(record);
    if (t.keyType == 'N') {
        key = bcdKey(v.n);
    } else if (t.keyType == 'D') {
        key = dateKey(v);
    } else {
        key = v.s;
        key.resize(t.keyLen, ' ');
    }
    return true;
}

bool MdxFile::interrupted() {
    unsigned char c = 0;
    readExact(fd_, &c, 1, kBusyMark, path_);
    return c != 0;
}

void MdxFile::begin(uint32_t count, const RecordAt& record, bool durable) {
    if (!writable_) throw DbfError("Index " + path_ + " is read-only");
    undo_.clear();
    loadHeader(); // another process may have changed it since we last looked
    record_ = record;
    count_ = count;
    outOfStep_ = false;
    undo_.start(fd_, path_, kHeaderBytes);
    try {
        if (header_[kBusyMark]) rebuild(count, record, durable);
        unsigned char one = 1;
        header_[kBusyMark] = 1;
        writeAll(fd_, &one, 1, kBusyMark, path_);
        if (durable) syncFile(fd_, path_);
    } catch (...) {
        rollback(durable);
        throw;
    }
}

void MdxFile::add(uint32_t rec, const char* record) {
    count_ = std::max(count_, rec + 1);
    for (Tag& t : tags_) {
        std::string k;
        if (keyFor(t, record, k)) insertKey(t, k, rec + 1);
    }
}

void MdxFile::update(uint32_t rec, const char* oldRecord, const char* newRecord) {
    for (Tag& t : tags_) {
        std::string ko, kn;
        bool hadKey = keyFor(t, oldRecord, ko), hasKey = keyFor(t, newRecord, kn);
        if (hadKey && hasKey && ko == kn) continue;
        if (hadKey) {
            try {
                removeKey(t, ko, rec + 1);
            } catch (const DbfError&) {
                outOfStep_ = true; // another program changed the file under us: rebuild at flush
                return;
            }
        }
        if (hasKey) insertKey(t, kn, rec + 1);
    }
}

bool MdxFile::changesKeys(const char* oldRecord, const char* newRecord) const {
    for (const Tag& t : tags_) {
        if (!t.key) return true; // cannot tell: let the step fail on the read-only table
        std::string ko, kn;
        bool a = keyFor(t, oldRecord, ko), b = keyFor(t, newRecord, kn);
        if (a != b || ko != kn) return true;
    }
    return false;
}

void MdxFile::flush(bool durable) {
    if (outOfStep_) {
        outOfStep_ = false;
        header_[kBusyMark] = 1;
        rebuild(count_, record_, durable);
        header_[kBusyMark] = 1; // end() clears it
        return;
    }
    if (changed_.empty() && !headerChanged_) return;
    unsigned char* h = header_.data();
    stamp(h + 44);
    for (Tag& t : tags_)
        writeTagHeader(t);
    for (auto& [page, yes] : changed_)
        writeAll(fd_, cache_[page].data(), blockBytes_, off_t(page) * kPage, path_);
    writeAll(fd_, h, 48, 0, path_); // the busy mark stays set
    if (durable) syncFile(fd_, path_);
    changed_.clear();
    headerChanged_ = false;
}

void MdxFile::end(bool durable) {
    flush(durable);
    unsigned char zero = 0;
    header_[kBusyMark] = 0;
    // Not synced: a mark that is lost in a power cut costs only a needless rebuild.
    writeAll(fd_, &zero, 1, kBusyMark, path_);
    undo_.clear();
}

void MdxFile::rollback(bool durable) {
    undo_.restore(fd_, path_, kBusyMark + 1, durable);
    abandon();
}

void MdxFile::abandon() {
    undo_.clear();
    cache_.clear();
    changed_.clear();
    headerChanged_ = false;
}

void MdxFile::writeTagHeader(Tag& t) {
    unsigned char* th = block(t.headerPage);
    if (le32(th) == t.root && le32(th + 4) == t.sizePages) return;
    th = writableBlock(t.headerPage);
    put32(th, t.root);
    put32(th + 4, t.sizePages);
    stamp(th + 257);
}

bool MdxFile::lastEntry(const Tag& t, uint32_t page, std::string& key, uint32_t& rec) {
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        Node n = decode(block(page), t, blockBytes_, path_);
        if (n.leaf) {
            if (n.keys.empty()) return false;
            key = n.keys.back();
            rec = n.ptr.back();
            return true;
        }
        page = n.ptr.back();
    }
    throw DbfFault("Index " + path_ + " is damaged (tag " + t.name + " too deep)",
                   faultAt(db::Fault::IndexDamaged, path_));
}

namespace {
struct Split {
    bool happened = false;
    uint32_t left = 0;
    std::string key; // the largest key of the left part
};
} // namespace

void MdxFile::startWalk(const Tag& t) const {
    // Pages in the file, as the header says (and no fewer than it holds now).
    const uint64_t nodes =
        std::max<uint64_t>(le32(header_.data() + 32), cache_.size() * pagesPerBlock_) / pagesPerBlock_;
    t.visits = 0;
    t.visitLimit = nodes + 16;
}

void MdxFile::insertKey(Tag& t, const std::string& key, uint32_t rec1) {
    startWalk(t);
    t.visitLimit = t.visitLimit * 4 + 64; // ties look down a few paths more than once
    if (t.unique) {
        // A unique tag keeps the first record of each key only.
        std::vector<std::pair<uint32_t, uint32_t>> path;
        if (findPath(t, t.root, key, 0, path)) return;
    }
    std::function<Split(uint32_t, int)> into = [&](uint32_t page, int depth) -> Split {
        if (depth > kMaxDepth)
            throw DbfFault("Index " + path_ + " is damaged (tag " + t.name + " too deep)",
                           faultAt(db::Fault::IndexDamaged, path_));
        Node n = decode(block(page), t, blockBytes_, path_);
        size_t i = 0;
        if (n.leaf) {
            while (i < n.keys.size() && compare(t, n.keys[i], n.ptr[i], key, rec1) < 0)
                ++i;
            n.keys.insert(n.keys.begin() + long(i), key);
            n.ptr.insert(n.ptr.begin() + long(i), rec1);
        } else {
            for (; i < n.keys.size(); ++i) {
                int c = compare(t, n.keys[i], 0, key, 0);
                if (c > 0) break;
                if (c == 0) {
                    std::string lk;
                    uint32_t lr = 0;
                    // Equal keys may span children: go where the record's place is.
                    if (lastEntry(t, n.ptr[i], lk, lr) && compare(t, lk, lr, key, rec1) > 0) break;
                }
            }
            Split s = into(n.ptr[i], depth + 1);
            if (!s.happened) return {};
            n.keys.insert(n.keys.begin() + long(i), s.key);
            n.ptr.insert(n.ptr.begin() + long(i), s.left);
        }
        Split out;
        if (n.keys.size() > t.maxKeys) {
            // The left half moves to a new block; this block keeps the right half, so the
            // parent's pointer to it stays right.
            size_t m = n.keys.size() / 2;
            Node l;
            l.leaf = n.leaf;
            if (n.leaf) {
                l.keys.assign(n.keys.begin(), n.keys.begin() + long(m));
                l.ptr.assign(n.ptr.begin(), n.ptr.begin() + long(m));
                out.key = l.keys.back();
                n.keys.erase(n.keys.begin(), n.keys.begin() + long(m));
                n.ptr.erase(n.ptr.begin(), n.ptr.begin() + long(m));
            } else {
                l.keys.assign(n.keys.begin(), n.keys.begin() + long(m));
                l.ptr.assign(n.ptr.begin(), n.ptr.begin() + long(m) + 1);
                out.key = n.keys[m];
                n.keys.erase(n.keys.begin(), n.keys.begin() + long(m) + 1);
                n.ptr.erase(n.ptr.begin(), n.ptr.begin() + long(m) + 1);
            }
            out.happened = true;
            out.left = allocate();
            t.sizePages += pagesPerBlock_;
            unsigned char* lb = writableBlock(out.left);
            put32(lb + 4, page);
            encode(lb, l, t, blockBytes_);
        }
        encode(writableBlock(page), n, t, blockBytes_);
        return out;
    };
    Split s = into(t.root, 0);
    if (s.happened) {
        Node r;
        r.leaf = false;
        r.keys.push_back(s.key);
        r.ptr = {s.left, t.root};
        uint32_t page = allocate();
        t.sizePages += pagesPerBlock_;
        encode(writableBlock(page), r, t, blockBytes_);
        t.root = page;
    }
}

bool MdxFile::findPath(const Tag& t, uint32_t page, const std::string& key, uint32_t rec1,
                       std::vector<std::pair<uint32_t, uint32_t>>& path) {
    // rec1 == 0 finds any record with the key.
    if (path.size() > size_t(kMaxDepth))
        throw DbfFault("Index " + path_ + " is damaged (tag " + t.name + " too deep)",
                       faultAt(db::Fault::IndexDamaged, path_));
    Node n = decode(block(page), t, blockBytes_, path_);
    if (n.leaf) {
        for (size_t j = 0; j < n.keys.size(); ++j)
            if (n.keys[j] == key && (rec1 == 0 || n.ptr[j] == rec1)) {
                path.emplace_back(page, uint32_t(j));
                return true;
            }
        return false;
    }
    for (size_t i = 0; i < n.ptr.size(); ++i) {
        if (i > 0 && compare(t, n.keys[i - 1], 0, key, 0) > 0) break;
        if (i < n.keys.size() && compare(t, n.keys[i], 0, key, 0) < 0) continue;
        path.emplace_back(page, uint32_t(i));
        if (findPath(t, n.ptr[i], key, rec1, path)) return true;
        path.pop_back();
    }
    return false;
}

void MdxFile::removeChild(Tag& t, std::vector<std::pair<uint32_t, uint32_t>>& path, size_t level) {
    // path[level] is a branch; its child path[level].second is gone.
    auto [page, i] = path[level];
    Node n = decode(block(page), t, blockBytes_, path_);
    n.ptr.erase(n.ptr.begin() + long(i));
    if (!n.keys.empty()) n.keys.erase(n.keys.begin() + long(std::min<size_t>(i, n.keys.size() - 1)));
    if (n.ptr.empty()) {
        if (level == 0) { // the tree is empty: the root becomes an empty leaf
            n.leaf = true;
            encode(writableBlock(page), n, t, blockBytes_);
            return;
        }
        release(page);
        t.sizePages -= pagesPerBlock_;
        removeChild(t, path, level - 1);
        return;
    }
    if (n.keys.empty()) {
        // One child left: it takes this branch's place.
        uint32_t only = n.ptr[0];
        release(page);
        t.sizePages -= pagesPerBlock_;
        if (level == 0) {
            t.root = only;
        } else {
            auto [up, j] = path[level - 1];
            Node p = decode(block(up), t, blockBytes_, path_);
            p.ptr[j] = only;
            encode(writableBlock(up), p, t, blockBytes_);
        }
        return;
    }
    encode(writableBlock(page), n, t, blockBytes_);
    if (i == n.ptr.size()) {
        std::string k;
        uint32_t r = 0;
        if (lastEntry(t, page, k, r)) fixBound(t, path, level, k);
    }
}

void MdxFile::removeKey(Tag& t, const std::string& key, uint32_t rec1) {
    startWalk(t);
    t.visitLimit = t.visitLimit * 4 + 64;
    std::vector<std::pair<uint32_t, uint32_t>> path;
    if (!findPath(t, t.root, key, rec1, path)) {
        if (t.unique) return; // the key was another record's
        throw DbfError("Index " + path_ + ": tag " + t.name + " has no key for record " +
                       std::to_string(rec1));
    }
    auto [page, j] = path.back();
    Node n = decode(block(page), t, blockBytes_, path_);
    n.keys.erase(n.keys.begin() + long(j));
    n.ptr.erase(n.ptr.begin() + long(j));
    if (n.keys.empty() && path.size() > 1) {
        release(page);
        t.sizePages -= pagesPerBlock_;
        path.pop_back();
        removeChild(t, path, path.size() - 1);
        return;
    }
    encode(writableBlock(page), n, t, blockBytes_);
    if (j == n.keys.size() && !n.keys.empty()) fixBound(t, path, path.size() - 1, n.keys.back());
}

void MdxFile::fixBound(Tag& t, const std::vector<std::pair<uint32_t, uint32_t>>& path, size_t level,
                       const std::string& largest) {
    // A branch key is the largest key of its child, as other readers check: the first
    // ancestor that holds a key for this subtree gets the new one.
    while (level-- > 0) {
        auto [page, i] = path[level];
        Node n = decode(block(page), t, blockBytes_, path_);
        if (i < n.keys.size()) {
            if (n.keys[i] != largest) {
                n.keys[i] = largest;
                encode(writableBlock(page), n, t, blockBytes_);
            }
            return;
        }
    }
}

} // namespace dbf
