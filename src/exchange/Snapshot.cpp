#include "Snapshot.h"

#include "Errors.h"
#include "dbf/Os.h"

#include <QDir>
#include <QFileInfo>
#include <fcntl.h>

namespace exchange {

namespace {
// Appends rewrite the header and the end mark; memo appends the header block and a block
// partly used before. More than both, at either end.
constexpr uint64_t kEdge = 4096;

bool readAt(int fd, unsigned char* to, size_t n, uint64_t at) {
    while (n > 0) {
        const ssize_t got = dbf::os::pread(fd, to, n, off_t(at));
        if (got <= 0) return false;
        to += got, n -= size_t(got), at += uint64_t(got);
    }
    return true;
}

bool writeAt(int fd, const unsigned char* from, size_t n, uint64_t at) {
    while (n > 0) {
        const ssize_t put = dbf::os::pwrite(fd, from, n, off_t(at));
        if (put <= 0) return false;
        from += put, n -= size_t(put), at += uint64_t(put);
    }
    return true;
}
} // namespace

void Snapshot::keepFile(const std::string& path, bool whole) {
    const int fd = dbf::os::open(path, O_RDONLY);
    if (fd < 0) throw db::DatabaseError(QStringLiteral("Cannot read %1").arg(QString::fromStdString(path)));
    dbf::os::FileInfo st;
    File f{path, 0, whole, {}, {}};
    bool ok = dbf::os::stat(fd, st) == 0;
    f.size = st.size;
    const uint64_t head = whole ? f.size : std::min(f.size, kEdge);
    f.head.resize(size_t(head));
    ok = ok && readAt(fd, f.head.data(), f.head.size(), 0);
    if (!whole && f.size > kEdge) {
        const uint64_t tail = std::min(f.size - kEdge, kEdge);
        f.tail.resize(size_t(tail));
        ok = ok && readAt(fd, f.tail.data(), f.tail.size(), f.size - tail);
    }
    dbf::os::close(fd);
    if (!ok) throw db::DatabaseError(QStringLiteral("Cannot read %1").arg(QString::fromStdString(path)));
    files_.push_back(std::move(f));
}

void Snapshot::keep(const QString& tablePath) {
    const QFileInfo table(tablePath);
    keepFile(tablePath.toStdString(), false);
    const QStringList siblings = table.dir().entryList({table.completeBaseName() + QStringLiteral(".*")},
                                                       QDir::Files | QDir::CaseSensitive);
    for (const QString& name : siblings) {
        const QString ext = QFileInfo(name).suffix().toLower();
        if (ext == QLatin1String("dbt")) keepFile(table.dir().filePath(name).toStdString(), false);
        if (ext == QLatin1String("mdx")) keepFile(table.dir().filePath(name).toStdString(), true);
    }
}

bool Snapshot::restore() const {
    bool ok = true;
    // The header first: from then on the file counts only the old records, and the bytes past
    // them are cut afterwards; never a count larger than what the file holds.
    for (const File& f : files_) {
        const int fd = dbf::os::open(f.path, O_RDWR);
        if (fd < 0) {
            ok = false;
            continue;
        }
        const bool done =
            writeAt(fd, f.head.data(), f.head.size(), 0) && dbf::os::truncate(fd, off_t(f.size)) == 0 &&
            (f.tail.empty() || writeAt(fd, f.tail.data(), f.tail.size(), f.size - f.tail.size())) &&
            dbf::os::sync(fd) == 0;
        ok = ok && done;
        dbf::os::close(fd);
    }
    return ok;
}

} // namespace exchange
