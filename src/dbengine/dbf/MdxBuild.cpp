// Building whole tags (create, rebuild) and walking them (order, check).
#include "Bytes.h"
#include "Mdx.h"
#include "MdxNode.h"
#include "MdxSort.h"
#include "Os.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <set>

namespace dbf {

using namespace mdx;

namespace {

struct Built {
    std::string bytes; // the tag's blocks, from its header block on
    uint32_t root = 0;
    uint32_t nodes = 0;
};

using NextEntry = std::function<bool(std::string& key, uint32_t& rec)>;
// Where a tag's blocks go, in page order; without one they gather in Built::bytes.
using BlockSink = std::function<void(const std::string& block)>;

// Packs sorted entries into full leaves and the branches above them, from page first on. The
// leaves go to the sink as they fill: only the level above them is held.
Built buildTree(const MdxFile::Tag& t, const NextEntry& next, uint32_t first, uint32_t pagesPerBlock,
                uint32_t blockBytes, const BlockSink& sink = {}) {
    Built out;
    uint32_t page = first;
    auto store = [&](const Node& n) {
        std::string b(blockBytes, '\0');
        encode(reinterpret_cast<unsigned char*>(b.data()), n, t, blockBytes);
        if (sink)
            sink(b);
        else
            out.bytes += b;
        ++out.nodes;
        const uint32_t at = page;
        page += pagesPerBlock;
        return at;
    };
    std::vector<std::pair<uint32_t, std::string>> level; // page, largest key
    Node leaf;
    std::string key;
    uint32_t rec = 0;
    while (next(key, rec)) {
        leaf.keys.push_back(key);
        leaf.ptr.push_back(rec);
        if (leaf.keys.size() < t.maxKeys) continue;
        level.emplace_back(store(leaf), leaf.keys.back());
        leaf = Node{};
    }
    if (!leaf.keys.empty()) level.emplace_back(store(leaf), leaf.keys.back());
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

NextEntry each(const std::vector<std::pair<std::string, uint32_t>>& entries) {
    return [&entries, i = size_t(0)](std::string& key, uint32_t& rec) mutable {
        if (i == entries.size()) return false;
        key = entries[i].first;
        rec = entries[i].second;
        ++i;
        return true;
    };
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
    // Within a step the step's rollback covers the rebuild; outside one, it has its own.
    const bool own = !undo_.active();
    if (own) undo_.start(fd_, path_, kHeaderBytes);
    try {
        undo_.keepAll(fd_, path_);
        rebuildInPlace(count, record, durable);
    } catch (...) {
        if (own) rollback(durable);
        throw;
    }
    if (own) undo_.clear();
}

void MdxFile::rebuildInPlace(uint32_t count, const RecordAt& record, bool durable) {
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
        const auto entries = entriesOf(*this, t, count, record);
        Built b = buildTree(t, each(entries), next + pagesPerBlock_, pagesPerBlock_, blockBytes_);
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

namespace {

MdxFile::Tag tagFor(const TagSpec& s, const std::vector<FieldDef>& fields, const std::string& path) {
    if (s.name.empty() || s.name.size() > 10) throw DbfError("Index " + path + ": bad tag name " + s.name);
    MdxFile::Tag t;
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
    if (t.forExpr && t.forExpr->type() != KeyExpr::Type::Logical)
        throw DbfError("Index " + path + ": the FOR condition of tag " + s.name + " is not logical");
    t.itemLen = uint16_t((t.keyLen + 4 + 3) & ~3);
    t.maxKeys = uint16_t((1024 - 12) / t.itemLen);
    return t;
}

std::string tagHeader(const MdxFile::Tag& t, const Built& b, const std::vector<FieldDef>& fields) {
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
    std::memcpy(p + kExprAt, t.expr.data(), std::min(t.expr.size(), kExprMax - 1));
    p[245] = t.filter.empty() ? 0 : 1;
    p[246] = 1;
    put32(p + 248, b.root);
    put32(p + 252, b.root);
    stamp(p + 257);
    bool oneField =
        std::any_of(fields.begin(), fields.end(), [&](const FieldDef& f) { return f.name == t.expr; });
    p[480] = oneField ? 1 : 0;
    std::memcpy(p + kFilterAt, t.filter.data(), std::min(t.filter.size(), kFilterMax - 1));
    return th;
}

// The tag table: entries in creation order, linked as a binary tree by name.
void tagEntry(unsigned char* h, size_t i, const MdxFile::Tag& t) {
    unsigned char* e = h + kTagTable + i * kTagEntry;
    put32(e, t.headerPage);
    std::memcpy(e + 4, t.name.data(), t.name.size());
    e[15] = uint8_t(0x10 | (t.unique ? 0x40 : 0));
    e[19] = 2;
    e[20] = uint8_t(t.keyType);
    if (i == 0) return;
    for (size_t at = 0;;) {
        unsigned char* n = h + kTagTable + at * kTagEntry;
        bool less = t.name < cString(n + 4, 11);
        unsigned char& link = n[less ? 16 : 17];
        if (!link) {
            link = uint8_t(i + 1);
            e[18] = uint8_t(at + 1);
            return;
        }
        at = link - 1u;
    }
}

// The file header and tag table before the tags are placed.
std::string headerImage(const std::string& path, const std::string& tableName,
                        const std::vector<TagSpec>& specs) {
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
    return image;
}

} // namespace

std::string MdxFile::image(const std::string& path, const std::string& tableName,
                           const std::vector<FieldDef>& fields, const std::vector<TagSpec>& specs,
                           uint32_t count, const RecordAt& record) {
    std::string image = headerImage(path, tableName, specs);
    MdxFile m;
    m.path_ = path;
    m.fields_ = fields;
    uint32_t next = uint32_t(kHeaderBytes / kPage);
    for (size_t i = 0; i < specs.size(); ++i) {
        Tag t = tagFor(specs[i], fields, path);
        t.headerPage = next;
        const auto entries = entriesOf(m, t, count, record);
        Built b = buildTree(t, each(entries), next + 2, 2, 1024);
        image += tagHeader(t, b, fields);
        image += b.bytes;
        tagEntry(reinterpret_cast<unsigned char*>(image.data()), i, t);
        next += (b.nodes + 1) * 2;
    }
    put32(reinterpret_cast<unsigned char*>(image.data()) + 32, next);
    return image;
}

// Written as it is built, with the keys sorted in bounded memory: a new index of any size.
void MdxFile::create(const std::string& path, const std::string& tableName,
                     const std::vector<FieldDef>& fields, const std::vector<TagSpec>& specs, uint32_t count,
                     const RecordAt& record) {
    std::string head = headerImage(path, tableName, specs);
    MdxFile m;
    m.path_ = path;
    m.fields_ = fields;
    const int fd = os::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw DbfError("Cannot create index " + path + ": " + os::reason(errno));
    try {
        try {
            uint32_t next = uint32_t(kHeaderBytes / kPage);
            off_t at = off_t(kHeaderBytes);
            for (size_t i = 0; i < specs.size(); ++i) {
                Tag t = tagFor(specs[i], fields, path);
                t.headerPage = next;
                const off_t tagAt = at;
                at += 1024; // the tag's header block, written once its tree is
                mdx::SortedEntries sorted(m, t, count, record, path + ".sort");
                Built b = buildTree(
                    t, [&](std::string& key, uint32_t& rec) { return sorted.next(key, rec); }, next + 2, 2,
                    1024,
                    [&](const std::string& block) {
                        writeAll(fd, block.data(), block.size(), at, path);
                        at += off_t(block.size());
                    });
                const std::string th = tagHeader(t, b, fields);
                writeAll(fd, th.data(), th.size(), tagAt, path);
                tagEntry(reinterpret_cast<unsigned char*>(head.data()), i, t);
                next += (b.nodes + 1) * 2;
            }
            put32(reinterpret_cast<unsigned char*>(head.data()) + 32, next);
            writeAll(fd, head.data(), head.size(), 0, path);
            syncFile(fd, path);
        } catch (...) {
            os::close(fd);
            throw;
        }
        closeFile(fd, path);
    } catch (...) {
        os::remove(path); // a half-made file must not pass for a good one
        throw;
    }
}

void MdxFile::overwrite(const std::string& path, std::string image, bool durable) {
    const int fd = os::open(path, O_RDWR);
    if (fd < 0) throw DbfError("Cannot open index " + path + ": " + os::reason(errno));
    struct Close {
        int fd;
        ~Close() { os::close(fd); }
    } close{fd};
    FileUndo undo;
    undo.start(fd, path, kHeaderBytes);
    try {
        undo.keepAll(fd, path);
        // Marked busy until every byte is there: a writer killed meanwhile leaves the mark.
        image[kBusyMark] = 1;
        writeAll(fd, image.data(), image.size(), 0, path);
        truncateFile(fd, off_t(image.size()), path);
        if (durable) syncFile(fd, path);
        const unsigned char zero = 0;
        writeAll(fd, &zero, 1, kBusyMark, path);
        if (durable) syncFile(fd, path);
    } catch (...) {
        undo.restore(fd, path, kBusyMark + 1, durable);
        throw;
    }
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
    if (depth > kMaxDepth)
        throw DbfFault("Index " + path_ + " is damaged (tag " + t.name + " too deep)",
                       faultAt(db::Fault::IndexDamaged, path_));
    Node n = decode(block(page), t, blockBytes_, path_);
    cache_.erase(page); // a full walk need not keep what it read
    if (walked_) walked_->insert(page);
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
                faults->push_back("tag " + t.name + ": a key lies beyond its branch key");
            if (i > 0 && compare(t, out[j].first, 0, n.keys[i - 1], 0) < 0)
                faults->push_back("tag " + t.name + ": a key lies before its branch key");
            if (faults->size() > 20) return;
        }
    }
}

void MdxFile::checkFreeList(const std::set<uint32_t>& used, std::vector<std::string>& faults) {
    const uint32_t pages = le32(header_.data() + 32);
    std::set<uint32_t> seen;
    for (uint32_t page = le32(header_.data() + 36); page != 0;) {
        std::string fault;
        if (page < kHeaderBytes / kPage || uint64_t(page) + pagesPerBlock_ > pages)
            fault = "lies outside the file's " + std::to_string(pages) + " pages";
        else if (std::any_of(used.begin(), used.end(), [&](uint32_t u) {
                     return page < u + pagesPerBlock_ && u < page + pagesPerBlock_;
                 }))
            fault = "is in use by a tag";
        else if (!seen.insert(page).second)
            fault = "comes round again";
        if (!fault.empty()) {
            faults.push_back("the free-page list holds page " + std::to_string(page) + ", which " + fault +
                             " (a writer would hand it out again)");
            return;
        }
        unsigned char next[8];
        readExact(fd_, next, 8, off_t(page) * kPage, path_);
        page = le32(next + 4);
    }
}

std::vector<std::string> MdxFile::check(uint32_t count, const RecordAt& record) {
    std::vector<std::string> faults;
    loadHeader();
    if (header_[kBusyMark]) {
        std::string names;
        for (const Tag& t : tags_)
            names += (names.empty() ? "" : ", ") + t.name;
        faults.push_back("a change to " + std::string(tags_.size() == 1 ? "tag " : "tags ") + names +
                         " was not finished (a writer stopped mid-step); the next writer rebuilds it");
    }
    std::set<uint32_t> used;
    bool walkedAll = true;
    walked_ = &used;
    struct Unwalk {
        std::set<uint32_t>*& p;
        ~Unwalk() { p = nullptr; }
    } unwalk{walked_};
    for (const Tag& t : tags_) {
        used.insert(t.headerPage);
        if (!t.problem.empty()) {
            faults.push_back("tag " + t.name + ": " + t.problem);
            walkedAll = false;
            continue;
        }
        std::vector<std::pair<std::string, uint32_t>> e;
        try {
            startWalk(t);
            collect(t, t.root, e, 0, &faults);
        } catch (const DbfError& err) {
            faults.push_back("tag " + t.name + ": " + err.what());
            walkedAll = false;
            continue;
        }
        std::vector<std::pair<std::string, uint32_t>> want = entriesOf(*this, t, count, record);
        for (size_t i = 1; i < e.size(); ++i)
            if (compare(t, e[i - 1].first, e[i - 1].second, e[i].first, e[i].second) >= 0) {
                faults.push_back("tag " + t.name + ": keys out of order at record " +
                                 std::to_string(e[i].second));
                break;
            }
        if (t.unique)
            for (size_t i = 1; i < e.size(); ++i)
                if (e[i - 1].first == e[i].first) {
                    faults.push_back("tag " + t.name + ": a unique tag holds a key twice");
                    break;
                }
        // A unique tag keeps one record per key, and as dBASE does, no other record takes over
        // a key whose record changed: fewer keys than distinct values is no fault there.
        if (t.unique ? e.size() > want.size() : e.size() != want.size())
            faults.push_back("tag " + t.name + ": " + std::to_string(e.size()) + " keys for " +
                             std::to_string(want.size()) + " records");
        std::set<uint32_t> seen;
        for (auto& [k, r] : e) {
            if (r < 1 || r > count) {
                faults.push_back("tag " + t.name + ": a key for record " + std::to_string(r) +
                                 ", which does not exist");
                break;
            }
            if (!seen.insert(r).second) {
                faults.push_back("tag " + t.name + ": two keys for record " + std::to_string(r));
                break;
            }
            std::string k2;
            if (!keyFor(t, record(r - 1), k2) || k2 != k) {
                faults.push_back("tag " + t.name + ": the key of record " + std::to_string(r) +
                                 " is not its expression's");
                break;
            }
        }
    }
    // Pages of a tag that could not be walked cannot be told from free ones.
    if (walkedAll) checkFreeList(used, faults);
    cache_.clear();
    return faults;
}

} // namespace dbf
