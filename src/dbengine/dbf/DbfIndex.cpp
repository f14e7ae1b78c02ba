// The table's side of its production index: found and checked at open, kept in step by the
// writes of DbfFile.cpp, read for the orders of the views.
#include "Bytes.h"
#include "DbfFile.h"
#include "Mdx.h"
#include "Os.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace dbf {

std::string DbfFile::indexPathFor(const std::string& path) {
    std::string base = path.size() > 4 ? path.substr(0, path.size() - 4) : path;
    for (const char* ext : {".MDX", ".mdx", ".Mdx"})
        if (os::exists(base + ext)) return base + ext;
    // Files copied from another system may differ in case from the table's name.
    const QFileInfo table(QString::fromStdString(path));
    const QString wanted = table.completeBaseName() + QStringLiteral(".mdx");
    for (const QString& entry : table.dir().entryList(QDir::Files))
        if (entry.compare(wanted, Qt::CaseInsensitive) == 0) return table.dir().filePath(entry).toStdString();
    return base + ".MDX";
}

std::function<const char*(uint32_t)> DbfFile::recordAt() const {
    return [this](uint32_t rec) { return record(rec); };
}

std::function<const char*(uint32_t)> DbfFile::passAt() const {
    return [this](uint32_t rec) {
        const size_t c = rec >> chunkShift_;
        if (c > 0 && c - 1 < chunks_.size()) chunks_[c - 1].reset();
        return record(rec);
    };
}

namespace {
std::string missingIndex(const std::string& table, const std::string& index) {
    return "Table " + table + ": its production index " + index +
           " is missing; rebuild it with morv-db reindex";
}
} // namespace

void DbfFile::requireProductionIndex() const {
    if (!mdx_) throw DbfError(indexError_.empty() ? missingIndex(path_, indexPathFor(path_)) : indexError_);
}

void DbfFile::adoptIndex() {
    // The header does not announce the index beside the table: another writer rewrote the
    // table and cleared the flag, perhaps changing records without the index.
    try {
        openIndex();
    } catch (const DbfError& e) {
        mdx_.reset(); // the table still opens; a program that needs the index is told why not
        indexError_ = e.what();
        return;
    }
    if (!writable_ || !mdx_) return;
    underAppendLock([&] {
        mdx_->rebuild(count_, recordAt(), durable_);
        const unsigned char one = 1;
        writeAll(fd_, &one, 1, 28, path_);
        sync();
    });
}

void DbfFile::openIndex() {
    const std::string ip = indexPathFor(path_);
    if (!os::exists(ip)) throw DbfError(missingIndex(path_, ip));
    mdx_ = MdxFile::open(ip, fields_, writable_);
    std::string problem = mdx_->problem();
    if (problem.empty() && writable_ && !mdx_->writable()) problem = "Index " + ip + " cannot be written";
    if (!problem.empty()) {
        // Writing would leave that tag wrong for every other program on the folder.
        readOnlyReason_ =
            problem + "; the table is open read-only until its index is rebuilt (morv-db reindex)";
        writable_ = false;
        indexKeepsReadOnly_ = true;
        return;
    }
    if (!writable_) return;
    underAppendLock([&] {
        if (mdx_->interrupted()) mdx_->rebuild(count_, recordAt(), durable_);
    });
}

void DbfFile::endIndexStep() {
    if (!mdx_) return;
    try {
        mdx_->end(durable_);
    } catch (const DbfError&) {
        // The record is stored; the index keeps its busy mark and the next step rebuilds it.
        mdx_->abandon();
    }
}

bool DbfFile::tagOrder(const std::string& tagName, std::vector<uint32_t>& out) {
    const std::string tag = tagName; // may be a tag's own name, which reading the index replaces
    if (!mdx_ || !mdx_->tag(tag)) return false;
    bool ok = true;
    underAppendLock([&] {
        if (auto it = tagOrders_.find(tag); it != tagOrders_.end()) {
            out = it->second;
            return;
        }
        if (mdx_->interrupted()) {
            if (!writable_) {
                ok = false;
                return;
            }
            mdx_->rebuild(count_, recordAt(), durable_);
        }
        out = mdx_->order(tag);
        tagOrders_[tag] = out;
    });
    if (!ok) return false;
    const uint32_t n = count_;
    out.erase(std::remove_if(out.begin(), out.end(), [n](uint32_t r) { return r >= n; }), out.end());
    return true;
}

void DbfFile::reindex() {
    if (!mdx_) return;
    if (!writable_) fail(readOnlyReason_.empty() ? "is read-only" : readOnlyReason_, readOnlyFault());
    underAppendLock([&] { mdx_->rebuild(count_, recordAt(), durable_); });
}

std::string DbfFile::repairIndex(const std::vector<TagSpec>& ownTags) {
    if (!writable_ && !indexKeepsReadOnly_) fail("is read-only", db::Fault::ReadOnly);
    std::string report;
    std::vector<std::string> faults;
    underAppendLock([&] {
        report = remakeIndex(ownTags);
        // Read back as another program would find it: a rebuild that did not hold is no repair.
        mdx_.reset();
        tagOrders_.clear();
        writable_ = true;
        indexKeepsReadOnly_ = false;
        readOnlyReason_.clear();
        mdx_ = MdxFile::open(indexPathFor(path_), fields_, true);
        if (!mdx_->problem().empty())
            faults.push_back(mdx_->problem());
        else
            faults = mdx_->check(count_, recordAt());
    });
    if (!faults.empty()) {
        writable_ = false;
        indexKeepsReadOnly_ = true;
        readOnlyReason_ =
            faults.front() + "; the table is open read-only until its index is rebuilt (morv-db reindex)";
        throw DbfFault("Index " + indexPathFor(path_) +
                           " is still damaged after a rebuild: " + faults.front(),
                       faultAt(db::Fault::IndexDamaged, indexPathFor(path_)));
    }
    return report;
}

std::vector<std::string> DbfFile::checkIndex() {
    std::vector<std::string> faults;
    if (!mdx_) return faults;
    underAppendLock([&] { faults = mdx_->check(count_, recordAt()); });
    return faults;
}

std::shared_ptr<DbfFile> DbfFile::openWithoutIndex(const std::string& path) {
    return openFile(path, false, false);
}

std::string DbfFile::reindexFile(const std::string& path, const std::vector<TagSpec>& ownTags) {
    if (ownTags.empty()) {
        // Another program's table: its index is rebuilt with the tags it has.
        auto f = open(path);
        if (!f->mdx_) return "has no production index";
        f->reindex();
        return "rebuilt " + std::to_string(f->mdx_->tags().size()) + " tags";
    }
    // One of the program's: made anew with the program's tags, whatever the file holds, so
    // the table need not open (a damaged tag would open it read-only).
    auto f = openWithoutIndex(path);
    if (!f->writable_) f->fail("is read-only", db::Fault::ReadOnly);
    std::string report;
    f->underAppendLock([&] { report = f->remakeIndex(ownTags); });
    return report;
}

std::vector<TagSpec> DbfFile::tagsToKeep(const std::string& index, const std::vector<TagSpec>& ownTags,
                                         std::string& dropped) const {
    std::vector<TagSpec> specs = ownTags;
    auto drop = [&](const std::string& what) { dropped += (dropped.empty() ? "" : "; ") + what; };
    std::unique_ptr<MdxFile> old;
    try {
        old = MdxFile::open(index, fields_, false);
    } catch (const DbfError& e) {
        drop("whatever other tags it held, as it could not be read: " + std::string(e.what()));
        return specs;
    }
    for (const MdxFile::Tag& t : old->tags()) {
        const TagSpec tag{t.name, t.expr, t.filter, t.descending, t.unique};
        auto own = std::find_if(ownTags.begin(), ownTags.end(),
                                [&](const TagSpec& o) { return o.name == t.name || sameKey(o, tag); });
        if (own != ownTags.end()) {
            if (own->name != t.name) drop("tag " + t.name + " (the same key as " + own->name + ")");
            continue;
        }
        if (!t.problem.empty()) {
            drop("tag " + t.name + " (" + t.problem + ")");
            continue;
        }
        try {
            MdxFile::image(index, "", fields_, {tag}, 0, recordAt()); // can we make it?
            specs.push_back(tag);
        } catch (const DbfError& e) {
            drop("tag " + t.name + " (" + e.what() + ")");
        }
    }
    return specs;
}

std::string DbfFile::remakeIndex(const std::vector<TagSpec>& ownTags) {
    const std::string index = indexPathFor(path_);
    const bool present = os::exists(index);
    std::string dropped;
    const std::vector<TagSpec> specs = present ? tagsToKeep(index, ownTags, dropped) : ownTags;
    const std::string image = MdxFile::image(index, tableNameForIndex(), fields_, specs, count_, recordAt());
    if (present)
        MdxFile::overwrite(index, image, durable_);
    else
        writeNewFile(index, image, "index");
    markIndexed(specs);
    std::string report = (present ? "rebuilt " : "made ") + std::to_string(ownTags.size()) + " tags";
    if (specs.size() > ownTags.size())
        report += ", kept " + std::to_string(specs.size() - ownTags.size()) + " other tags";
    if (!dropped.empty()) report += "; dropped " + dropped;
    return report;
}

std::string DbfFile::tableNameForIndex() const {
    std::string base = path_.substr(0, path_.size() - 4);
    size_t slash = base.find_last_of('/');
    std::string name = base.substr(slash == std::string::npos ? 0 : slash + 1);
    for (char& c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

void DbfFile::markIndexed(const std::vector<TagSpec>& tags) {
    // The header says there is a production index; a field with a tag of its own is marked.
    unsigned char one = 1;
    writeAll(fd_, &one, 1, 28, path_);
    for (size_t i = 0; i < fields_.size(); ++i) {
        unsigned char mark = std::any_of(tags.begin(), tags.end(), [&](const TagSpec& t) {
            return t.expr == fields_[i].name && t.filter.empty();
        });
        writeAll(fd_, &mark, 1, off_t(32 + 32 * i + 31), path_);
    }
    syncFile(fd_, path_);
}

void DbfFile::createIndex(const std::string& path, const std::vector<TagSpec>& tags) {
    auto f = openWithoutIndex(path);
    if (!f->writable_) f->fail("is read-only", db::Fault::ReadOnly);
    f->underAppendLock([&] {
        MdxFile::create(indexPathFor(path), f->tableNameForIndex(), f->fields_, tags, f->count_, f->passAt());
        f->markIndexed(tags);
    });
}

} // namespace dbf
