#include "Mdx.h"

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

namespace {

constexpr uint32_t kPage = 512;
constexpr size_t kHeaderBytes = 2048; // file header and tag table: the first four pages
constexpr size_t kTagTable = 544;
constexpr size_t kTagEntry = 32;
constexpr size_t kMaxTags = (kHeaderBytes - kTagTable) / kTagEntry;
constexpr size_t kExprAt = 24, kExprMax = 220;
constexpr size_t kFilterAt = 762, kFilterMax = 220;
constexpr size_t kBusyMark = 47; // reserved byte: set while a change is under way
constexpr int kMaxDepth = 32;

// Blank dates carry the value other dBASE writers give them, so their keys agree with ours.
constexpr double kBlankDate = 21474835648.0;

void stamp(unsigned char* p) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    p[0] = uint8_t(tm.tm_year);
    p[1] = uint8_t(tm.tm_mon + 1);
    p[2] = uint8_t(tm.tm_mday);
}

std::string cString(const unsigned char* p, size_t max) {
    size_t n = strnlen(reinterpret_cast<const char*>(p), max);
    std::string s(reinterpret_cast<const char*>(p), n);
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// A node decoded: a leaf has one record number per key, a branch one child more than keys.
struct Node {
    bool leaf = true;
    std::vector<uint32_t> ptr;
    std::vector<std::string> keys;
};

} // namespace

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
        throw DbfError("Index " + path_ + " is damaged (" + why + "); rebuild it with morv-db reindex");
    };
    if (size < kHeaderBytes) bad("shorter than its header");
    header_.assign(kHeaderBytes, 0);
    readExact(fd_, header_.data(), kHeaderBytes, 0, path_);
    const unsigned char* h = header_.data();
    pagesPerBlock_ = le16(h + 20);
    blockBytes_ = le16(h + 22);
    if (pagesPerBlock_ < 1 || pagesPerBlock_ > 32 || blockBytes_ != pagesPerBlock_ * kPage)
        bad("block size " + std::to_string(blockBytes_));
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
        throw DbfError("Index " + path_ + " is damaged (page " + std::to_string(page) +
                       " out of range); rebuild it with morv-db reindex");
    std::vector<unsigned char> b(blockBytes_);
    readExact(fd_, b.data(), b.size(), off_t(page) * kPage, path_);
    return cache_.emplace(page, std::move(b)).first->second.data();
}

unsigned char* MdxFile::writableBlock(uint32_t page) {
    unsigned char* b = block(page);
    changed_[page] = true;
    return b;
}

uint32_t MdxFile::allocate() {
    unsigned char* h = header_.data();
    headerChanged_ = true;
    uint32_t free = le32(h + 36);
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

namespace {

Node decode(const unsigned char* b, const MdxFile::Tag& t, uint32_t blockBytes, const std::string& path) {
    Node n;
    if (++t.visits > t.visitLimit)
        throw DbfError("Index " + path + " is damaged (tag " + t.name +
                       " reaches more nodes than the file holds); rebuild it with morv-db reindex");
    uint32_t count = le32(b);
    if (count > t.maxKeys || 8 + size_t(count) * t.itemLen + 4 > blockBytes)
        throw DbfError("Index " + path + " is damaged (tag " + t.name + ", a node claims " +
                       std::to_string(count) + " keys); rebuild it with morv-db reindex");
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
    loadHeader(); // another process may have changed it since we last looked
    record_ = record;
    count_ = count;
    outOfStep_ = false;
    if (header_[kBusyMark]) rebuild(count, record, durable);
    unsigned char one = 1;
    header_[kBusyMark] = 1;
    writeAll(fd_, &one, 1, kBusyMark, path_);
    if (durable) syncFile(fd_, path_);
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
}

void MdxFile::abandon() {
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
    throw DbfError("Index " + path_ + " is damaged (tag " + t.name + " too deep)");
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
        if (depth > kMaxDepth) throw DbfError("Index " + path_ + " is damaged (tag " + t.name + " too deep)");
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
        throw DbfError("Index " + path_ + " is damaged (tag " + t.name + " too deep)");
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

namespace {

struct Built {
    std::string bytes; // the tag's blocks, from its header block on
    uint32_t root = 0;
    uint32_t nodes = 0;
};

// Packs sorted entries into full leaves and the branches above them, from page first on.
Built buildTree(const MdxFile::Tag& t, const std::vector<std::pair<std::string, uint32_t>>& entries,
                uint32_t first, uint32_t pagesPerBlock, uint32_t blockBytes) {
    Built out;
    uint32_t next = first;
    auto store = [&](const Node& n) {
        std::string b(blockBytes, '\0');
        encode(reinterpret_cast<unsigned char*>(b.data()), n, t, blockBytes);
        out.bytes += b;
        ++out.nodes;
        uint32_t page = next;
        next += pagesPerBlock;
        return page;
    };
    std::vector<std::pair<uint32_t, std::string>> level; // page, largest key
    for (size_t i = 0; i < entries.size(); i += t.maxKeys) {
        Node n;
        for (size_t j = i; j < std::min(entries.size(), i + t.maxKeys); ++j) {
            n.keys.push_back(entries[j].first);
            n.ptr.push_back(entries[j].second);
        }
        level.emplace_back(store(n), n.keys.back());
    }
    if (level.empty()) level.emplace_back(store(Node{}), std::string());
    while (level.size() > 1) {
        std::vector<std::pair<uint32_t, std::string>> up;
        const size_t fan = size_t(t.maxKeys) + 1;
        for (size_t i = 0; i < level.size();) {
            size_t take = std::min(fan, level.size() - i);
            if (level.size() - i - take == 1) --take; // no branch with a single child
            Node n;
            n.leaf = false;
            for (size_t j = i; j < i + take; ++j) {
                n.ptr.push_back(level[j].first);
                if (j + 1 < i + take) n.keys.push_back(level[j].second);
            }
            up.emplace_back(store(n), level[i + take - 1].second);
            i += take;
        }
        level = std::move(up);
    }
    out.root = level[0].first;
    return out;
}

std::vector<std::pair<std::string, uint32_t>> entriesOf(const MdxFile& m, const MdxFile::Tag& t,
                                                        uint32_t count, const MdxFile::RecordAt& record) {
    std::vector<std::pair<std::string, uint32_t>> e;
    e.reserve(count);
    std::string k;
    for (uint32_t r = 0; r < count; ++r)
        if (m.keyFor(t, record(r), k)) e.emplace_back(k, r + 1);
    std::stable_sort(e.begin(), e.end(), [&](const auto& a, const auto& b) {
        return m.compare(t, a.first, a.second, b.first, b.second) < 0;
    });
    if (t.unique)
        e.erase(
            std::unique(e.begin(), e.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
            e.end());
    return e;
}

} // namespace

void MdxFile::rebuild(uint32_t count, const RecordAt& record, bool durable) {
    if (!writable_) throw DbfError("Index " + path_ + " is read-only");
    if (!problem().empty()) throw DbfError(problem());
    unsigned char* h = header_.data();
    h[kBusyMark] = 1;
    writeAll(fd_, h + kBusyMark, 1, kBusyMark, path_);
    if (durable) syncFile(fd_, path_);
    std::string image(reinterpret_cast<const char*>(h), kHeaderBytes);
    uint32_t next = uint32_t(kHeaderBytes / kPage);
    for (Tag& t : tags_) {
        std::vector<unsigned char> th(blockBytes_);
        readExact(fd_, th.data(), th.size(), off_t(t.headerPage) * kPage, path_);
        t.headerPage = next;
        Built b = buildTree(t, entriesOf(*this, t, count, record), next + pagesPerBlock_, pagesPerBlock_,
                            blockBytes_);
        t.root = b.root;
        t.sizePages = b.nodes * pagesPerBlock_;
        put32(th.data(), t.root);
        put32(th.data() + 4, t.sizePages);
        stamp(th.data() + 257);
        image.append(reinterpret_cast<const char*>(th.data()), th.size());
        image += b.bytes;
        next += (b.nodes + 1) * pagesPerBlock_;
    }
    auto* ih = reinterpret_cast<unsigned char*>(image.data());
    for (size_t i = 0; i < tags_.size(); ++i)
        put32(ih + kTagTable + i * kTagEntry, tags_[i].headerPage);
    put32(ih + 32, next);
    put32(ih + 36, 0); // no free blocks in a fresh build
    stamp(ih + 44);
    writeAll(fd_, image.data(), image.size(), 0, path_);
    truncateFile(fd_, off_t(image.size()), path_);
    if (durable) syncFile(fd_, path_);
    unsigned char zero = 0;
    writeAll(fd_, &zero, 1, kBusyMark, path_);
    if (durable) syncFile(fd_, path_);
    loadHeader();
}

void MdxFile::create(const std::string& path, const std::string& tableName,
                     const std::vector<FieldDef>& fields, const std::vector<TagSpec>& specs, uint32_t count,
                     const RecordAt& record) {
    if (specs.empty() || specs.size() > kMaxTags) throw DbfError("Index " + path + ": 1 to 47 tags");
    std::string image(kHeaderBytes, '\0');
    auto* h = reinterpret_cast<unsigned char*>(image.data());
    h[0] = 2;
    stamp(h + 1);
    std::memcpy(h + 4, tableName.data(), std::min<size_t>(tableName.size(), 16));
    put16(h + 20, 2);
    put16(h + 22, 1024);
    h[24] = 1; // production index: opened with its table
    h[25] = 48;
    h[26] = kTagEntry;
    put16(h + 28, uint16_t(specs.size()));
    h[30] = uint8_t(specs.size() + 1);
    h[31] = 0x1B;
    stamp(h + 44);
    MdxFile m;
    m.path_ = path;
    m.fields_ = fields;
    uint32_t next = uint32_t(kHeaderBytes / kPage);
    for (size_t i = 0; i < specs.size(); ++i) {
        const TagSpec& s = specs[i];
        if (s.name.empty() || s.name.size() > 10)
            throw DbfError("Index " + path + ": bad tag name " + s.name);
        Tag t;
        t.name = s.name;
        t.expr = s.expr;
        t.filter = s.filter;
        t.descending = s.descending;
        t.unique = s.unique;
        t.key = std::make_shared<KeyExpr>(s.expr, fields);
        if (!s.filter.empty()) t.forExpr = std::make_shared<KeyExpr>(s.filter, fields);
        switch (t.key->type()) {
        case KeyExpr::Type::Char:
            t.keyType = 'C';
            t.keyLen = uint16_t(t.key->width());
            break;
        case KeyExpr::Type::Number:
            t.keyType = 'N';
            t.keyLen = 12;
            break;
        case KeyExpr::Type::Date:
            t.keyType = 'D';
            t.keyLen = 8;
            break;
        default:
            throw DbfError("Index " + path + ": tag " + s.name + " has no key type for \"" + s.expr + "\"");
        }
        if (t.keyLen < 1 || t.keyLen > 100)
            throw DbfError("Index " + path + ": key of tag " + s.name + " too long");
        t.itemLen = uint16_t((t.keyLen + 4 + 3) & ~3);
        t.maxKeys = uint16_t((1024 - 12) / t.itemLen);
        t.headerPage = next;
        Built b = buildTree(t, entriesOf(m, t, count, record), next + 2, 2, 1024);
        std::string th(1024, '\0');
        auto* p = reinterpret_cast<unsigned char*>(th.data());
        put32(p, b.root);
        put32(p + 4, b.nodes * 2);
        p[8] = uint8_t(0x10 | (t.descending ? 0x08 : 0) | (t.unique ? 0x40 : 0));
        p[9] = uint8_t(t.keyType);
        p[11] = 0x1B;
        put16(p + 12, t.keyLen);
        put16(p + 14, t.maxKeys);
        p[16] = t.keyType == 'D' ? 1 : 0;
        put16(p + 18, t.itemLen);
        p[20] = 1;
        p[23] = t.unique ? 1 : 0;
        std::memcpy(p + kExprAt, s.expr.data(), std::min(s.expr.size(), kExprMax - 1));
        p[245] = s.filter.empty() ? 0 : 1;
        p[246] = 1;
        put32(p + 248, b.root);
        put32(p + 252, b.root);
        stamp(p + 257);
        bool oneField =
            std::any_of(fields.begin(), fields.end(), [&](const FieldDef& f) { return f.name == s.expr; });
        p[480] = oneField ? 1 : 0;
        std::memcpy(p + kFilterAt, s.filter.data(), std::min(s.filter.size(), kFilterMax - 1));
        image += th;
        image += b.bytes;
        h = reinterpret_cast<unsigned char*>(image.data()); // image grew
        // The tag table: entries in creation order, linked as a binary tree by name.
        unsigned char* e = h + kTagTable + i * kTagEntry;
        put32(e, next);
        std::memcpy(e + 4, s.name.data(), s.name.size());
        e[15] = uint8_t(0x10 | (t.unique ? 0x40 : 0));
        e[19] = 2;
        e[20] = uint8_t(t.keyType);
        if (i > 0) {
            size_t at = 0;
            for (;;) {
                unsigned char* n = h + kTagTable + at * kTagEntry;
                bool less = s.name < cString(n + 4, 11);
                unsigned char& link = n[less ? 16 : 17];
                if (!link) {
                    link = uint8_t(i + 1);
                    e[18] = uint8_t(at + 1);
                    break;
                }
                at = link - 1u;
            }
        }
        next += (b.nodes + 1) * 2;
    }
    put32(h + 32, next);
    writeNewFile(path, image, "index");
}

std::vector<uint32_t> MdxFile::order(const std::string& tagName) {
    const std::string name = tagName; // the caller's may be a tag's own name, which the reload replaces
    loadHeader();
    const Tag* t = tag(name);
    if (!t) throw DbfError("Index " + path_ + " has no tag " + name);
    std::vector<std::pair<std::string, uint32_t>> e;
    startWalk(*t);
    collect(*t, t->root, e, 0, nullptr);
    std::vector<uint32_t> out;
    out.reserve(e.size());
    for (auto& [k, r] : e)
        out.push_back(r - 1);
    cache_.clear();
    return out;
}

void MdxFile::collect(const Tag& t, uint32_t page, std::vector<std::pair<std::string, uint32_t>>& out,
                      int depth, std::vector<std::string>* faults) {
    if (depth > kMaxDepth) throw DbfError("Index " + path_ + " is damaged (tag " + t.name + " too deep)");
    Node n = decode(block(page), t, blockBytes_, path_);
    cache_.erase(page); // a full walk need not keep what it read
    if (n.leaf) {
        for (size_t i = 0; i < n.keys.size(); ++i)
            out.emplace_back(n.keys[i], n.ptr[i]);
        return;
    }
    for (size_t i = 0; i < n.ptr.size(); ++i) {
        size_t before = out.size();
        collect(t, n.ptr[i], out, depth + 1, faults);
        if (!faults) continue;
        // Every key below a branch key is at most that key; every key after it at least it.
        for (size_t j = before; j < out.size(); ++j) {
            if (i < n.keys.size() && compare(t, out[j].first, 0, n.keys[i], 0) > 0)
                faults->push_back(t.name + ": a key lies beyond its branch key");
            if (i > 0 && compare(t, out[j].first, 0, n.keys[i - 1], 0) < 0)
                faults->push_back(t.name + ": a key lies before its branch key");
            if (faults->size() > 20) return;
        }
    }
}

std::vector<std::string> MdxFile::check(uint32_t count, const RecordAt& record) {
    std::vector<std::string> faults;
    loadHeader();
    if (header_[kBusyMark]) faults.push_back("a change to " + path_ + " was not finished");
    for (const Tag& t : tags_) {
        if (!t.problem.empty()) {
            faults.push_back(t.name + ": " + t.problem);
            continue;
        }
        std::vector<std::pair<std::string, uint32_t>> e;
        try {
            startWalk(t);
            collect(t, t.root, e, 0, &faults);
        } catch (const DbfError& err) {
            faults.push_back(t.name + ": " + err.what());
            continue;
        }
        std::vector<std::pair<std::string, uint32_t>> want = entriesOf(*this, t, count, record);
        for (size_t i = 1; i < e.size(); ++i)
            if (compare(t, e[i - 1].first, e[i - 1].second, e[i].first, e[i].second) >= 0) {
                faults.push_back(t.name + ": keys out of order at record " + std::to_string(e[i].second));
                break;
            }
        if (t.unique)
            for (size_t i = 1; i < e.size(); ++i)
                if (e[i - 1].first == e[i].first) {
                    faults.push_back(t.name + ": a unique tag holds a key twice");
                    break;
                }
        // A unique tag keeps one record per key, and as dBASE does, no other record takes over
        // a key whose record changed: fewer keys than distinct values is no fault there.
        if (t.unique ? e.size() > want.size() : e.size() != want.size())
            faults.push_back(t.name + ": " + std::to_string(e.size()) + " keys for " +
                             std::to_string(want.size()) + " records");
        std::set<uint32_t> seen;
        for (auto& [k, r] : e) {
            if (r < 1 || r > count) {
                faults.push_back(t.name + ": a key for record " + std::to_string(r) +
                                 ", which does not exist");
                break;
            }
            if (!seen.insert(r).second) {
                faults.push_back(t.name + ": two keys for record " + std::to_string(r));
                break;
            }
            std::string k2;
            if (!keyFor(t, record(r - 1), k2) || k2 != k) {
                faults.push_back(t.name + ": the key of record " + std::to_string(r) +
                                 " is not its expression's");
                break;
            }
        }
    }
    cache_.clear();
    return faults;
}

} // namespace dbf
