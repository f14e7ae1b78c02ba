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

namespace {
std::string missingIndex(const std::string& table, const std::string& index) {
    return "Table " + table + ": its production index " + index +
           " is missing; rebuild it with morv-db reindex";
}
} // namespace

void DbfFile::requireProductionIndex() const {
    if (!mdx_) throw DbfError(missingIndex(path_, indexPathFor(path_)));
}

void DbfFile::openIndex() {
    const std::string ip = indexPathFor(path_);
    if (!os::exists(ip)) throw DbfError(missingIndex(path_, ip));
    mdx_ = MdxFile::open(ip, fields_, writable_);
    std::string problem = mdx_->problem();
    if (problem.empty() && writable_ && !mdx_->writable()) problem = "Index " + ip + " cannot be written";
    if (!problem.empty()) {
        // Writing would leave that tag wrong for every other program on the folder.
        readOnlyReason_ = problem + "; the table is open read-only";
        writable_ = false;
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
    if (!writable_) fail(readOnlyReason_.empty() ? "is read-only" : readOnlyReason_);
    underAppendLock([&] { mdx_->rebuild(count_, recordAt(), durable_); });
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

std::string DbfFile::reindexFile(const std::string& path, const std::vector<TagSpec>& tagsIfNone) {
    std::shared_ptr<DbfFile> f;
    try {
        f = open(path);
    } catch (const DbfError& e) {
        // A missing or unreadable index: make it anew when we know its tags.
        if (tagsIfNone.empty()) throw;
        openWithoutIndex(path); // the table itself must be sound
        createIndex(path, tagsIfNone);
        return "made anew (" + std::string(e.what()) + ")";
    }
    if (!f->mdx_) {
        if (tagsIfNone.empty()) return "has no production index";
        f.reset();
        createIndex(path, tagsIfNone);
        return "made";
    }
    f->reindex();
    return "rebuilt " + std::to_string(f->mdx_->tags().size()) + " tags";
}

void DbfFile::createIndex(const std::string& path, const std::vector<TagSpec>& tags) {
    auto f = openWithoutIndex(path);
    if (!f->writable_) f->fail("is read-only");
    f->underAppendLock([&] {
        std::string base = path.substr(0, path.size() - 4);
        size_t slash = base.find_last_of('/');
        std::string name = base.substr(slash == std::string::npos ? 0 : slash + 1);
        for (char& c : name)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        MdxFile::create(indexPathFor(path), name, f->fields_, tags, f->count_, f->recordAt());
        // The header says there is a production index; a field with a tag of its own is marked.
        unsigned char one = 1;
        writeAll(f->fd_, &one, 1, 28, path);
        for (size_t i = 0; i < f->fields_.size(); ++i) {
            unsigned char mark = std::any_of(tags.begin(), tags.end(), [&](const TagSpec& t) {
                return t.expr == f->fields_[i].name && t.filter.empty();
            });
            writeAll(f->fd_, &mark, 1, off_t(32 + 32 * i + 31), path);
        }
        syncFile(f->fd_, path);
    });
}

} // namespace dbf
