#include "ColumnScan.h"

#include "Table.h"
#include "Variant.h"
#include "dbf/DbfFile.h"
#include "dbf/FieldText.h"
#include "dbf/Os.h"

#include <QDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>

namespace db {

std::optional<int64_t> wholeNumberSlow(std::string_view field) {
    double d;
    if (!dbf::parseNumber(field, d)) return std::nullopt;
    return roundHalfEven(d);
}

ColumnScan::ColumnScan(const QString& dir, const char* file) {
    Table locate; // finds the file whatever the letter case on disk, or says why not
    locate.setTableName(QDir(dir).filePath(QLatin1String(file)));
    file_ = dbf::DbfFile::open(locate.filePath().toStdString(), true);
    for (const dbf::FieldDef& f : file_->fields()) {
        offsets_.push_back(f.offset);
        lengths_.push_back(f.length);
    }
}

ColumnScan::~ColumnScan() = default;

QString ColumnScan::path() const {
    return QString::fromStdString(file_->path());
}

int ColumnScan::column(const char* name) const {
    return file_->fieldIndex(name);
}

uint32_t ColumnScan::count() const {
    return file_->recordCount();
}

bool ColumnScan::live(uint32_t r) const {
    return !file_->isDeleted(r);
}

std::optional<int64_t> ColumnScan::whole(uint32_t r, int c) const {
    return wholeNumber(file_->raw(r, c));
}

std::optional<double> ColumnScan::number(uint32_t r, int c) const {
    double v;
    if (!file_->readNumber(r, c, v)) return std::nullopt;
    return v;
}

QString ColumnScan::text(uint32_t r, int c) const {
    return file_->readString(r, c);
}

QString ColumnScan::text(const Record& rec, int c) const {
    return dbf::decodeText(rec.raw(c), file_->codePage());
}

QDate ColumnScan::date(uint32_t r, int c) const {
    return file_->readDate(r, c);
}

std::optional<double> ColumnScan::Record::number(int c) const {
    double v;
    if (!dbf::parseNumber(raw(c), v)) return std::nullopt;
    return v;
}

QDate ColumnScan::Record::date(int c) const {
    return dbf::parseDate(raw(c));
}

uint16_t ColumnScan::recordLength() const {
    return file_->recordLength();
}

namespace {

// Bytes of records read at once: large enough for the disk, small beside any table.
constexpr size_t kBlockBytes = size_t(1) << 20;
// Blanks either side of a block: number parsing reads whole 8-byte words around a field.
constexpr size_t kPad = 16;

struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) dbf::os::close(fd);
    }
};

} // namespace

void ColumnScan::blocks(const std::function<bool(uint32_t, const char*, uint32_t)>& fn) const {
    // Plain reads into one buffer of our own, reused: the file object's cache would keep every
    // record read, as much memory as the table.
    file_->refresh();
    const uint32_t count = file_->recordCount();
    const size_t length = file_->recordLength(), header = file_->headerLength();
    if (count == 0 || length == 0) return;
    const Descriptor d{dbf::os::open(file_->path(), O_RDONLY)};
    if (d.fd < 0) throw DatabaseError("Cannot open table " + file_->path() + ": " + dbf::os::reason(errno));
    const uint32_t per = uint32_t(std::max<size_t>(1, kBlockBytes / length));
    std::vector<char> buffer(kPad * 2 + size_t(per) * length, ' ');
    char* data = buffer.data() + kPad;
    for (uint32_t at = 0; at < count;) {
        const uint32_t n = std::min(per, count - at);
        const size_t want = size_t(n) * length;
        size_t got = 0;
        while (got < want) {
            const ssize_t r =
                dbf::os::pread(d.fd, data + got, want - got, off_t(header + size_t(at) * length + got));
            if (r <= 0) break;
            got += size_t(r);
        }
        // Another program cut the file: the whole records it still holds, and no more.
        const uint32_t whole = uint32_t(got / length);
        std::memset(data + size_t(whole) * length, ' ', kPad);
        if (whole > 0 && !fn(at, data, whole)) return;
        if (whole < n) return;
        at += n;
    }
}

} // namespace db
