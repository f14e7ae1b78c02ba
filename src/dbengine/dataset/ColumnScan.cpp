#include "ColumnScan.h"

#include "RecordStore.h"
#include "Table.h"
#include "Variant.h"
#include "dbf/DbfFile.h"
#include "dbf/FieldText.h"
#include "dbf/Os.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
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

namespace {

QHash<QString, ColumnScanOpener>& openers() {
    static QHash<QString, ColumnScanOpener> map;
    return map;
}

// A folder's table read from its file with plain reads into one buffer of our own, reused: the
// file object's cache would keep every record read, as much memory as the table.
class FileScan : public ColumnScan {
public:
    FileScan(const QString& dir, const char* file) {
        Table locate; // finds the file whatever the letter case on disk, or says why not
        locate.setTableName(QDir(dir).filePath(QLatin1String(file)));
        file_ = dbf::DbfFile::open(locate.filePath().toStdString(), true);
        for (const dbf::FieldDef& f : file_->fields()) {
            offsets_.push_back(f.offset + 1); // after the deletion flag
            lengths_.push_back(f.length);
        }
    }
    QString where() const override { return QDir::toNativeSeparators(QString::fromStdString(file_->path())); }
    int column(const char* name) override { return file_->fieldIndex(name); }
    uint32_t count() const override { return file_->recordCount(); }

protected:
    void blocks(const std::function<bool(const Block&)>& fn) override;

private:
    std::shared_ptr<dbf::DbfFile> file_;
    std::vector<uint32_t> offsets_, lengths_;
};

} // namespace

std::unique_ptr<ColumnScan> ColumnScan::open(const QString& database, const char* file) {
    if (!isServerLocation(database)) return std::make_unique<FileScan>(database, file);
    const qsizetype at = database.indexOf(QLatin1String("://"));
    auto it = openers().constFind(database.left(at).toLower());
    if (it == openers().constEnd()) {
        openServerStore(database, QString(), true); // says that no library for the server was built in
        throw DatabaseError(QStringLiteral("This program cannot read the tables of %1").arg(database));
    }
    return (*it)(database, QFileInfo(QLatin1String(file)).completeBaseName().toLower());
}

void registerColumnScan(const QString& scheme, ColumnScanOpener opener) {
    openers().insert(scheme.toLower(), std::move(opener));
}

std::optional<double> ColumnScan::Record::number(int c) const {
    double v;
    if (!dbf::parseNumber(raw(c), v)) return std::nullopt;
    return v;
}

QDate ColumnScan::Record::date(int c) const {
    return dbf::parseDate(raw(c));
}

QString ColumnScan::Record::text(int c) const {
    if (!utf8_) return dbf::decodeText(raw(c), codePage_);
    std::string_view s = raw(c);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
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

void FileScan::blocks(const std::function<bool(const Block&)>& fn) {
    file_->refresh();
    const uint32_t count = file_->recordCount();
    const size_t length = file_->recordLength(), header = file_->headerLength();
    if (count == 0 || length == 0) return;
    const Descriptor d{dbf::os::open(file_->path(), O_RDONLY)};
    if (d.fd < 0) throw DatabaseError("Cannot open table " + file_->path() + ": " + dbf::os::reason(errno));
    const uint32_t per = std::min(count, uint32_t(std::max<size_t>(1, kBlockBytes / length)));
    std::vector<char> buffer(kPad * 2 + size_t(per) * length, ' ');
    char* data = buffer.data() + kPad;
    Block b;
    b.data = data;
    b.stride = length;
    b.offsets = offsets_.data();
    b.lengths = lengths_.data();
    b.codePage = file_->codePage();
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
        b.first = at;
        b.rows = whole;
        if (whole > 0 && !fn(b)) return;
        if (whole < n) return;
        at += n;
    }
}

} // namespace

} // namespace db
