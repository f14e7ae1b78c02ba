// A server table read whole for the analyses and the export: the columns asked for in batches
// by id, so that the server walks its primary key, each batch laid out as the file reader lays
// out records and read by the same code.
#include "PgColumnScan.h"

#include "PgConnection.h"
#include "PgStore.h"
#include "dataset/ColumnScan.h"

#include <algorithm>
#include <cstring>

namespace pg {

namespace {

constexpr int kFirstBatch = 500; // a small table in one round trip
constexpr int kLargestBatch = 50000;
constexpr size_t kPad = 16; // blanks either side: number parsing reads whole words around a field

class ServerScan : public db::ColumnScan {
public:
    ServerScan(const QString& url, const QString& table)
        : conn_(Connection::shared(url)), url_(url), table_(table) {
        const PgStore store(url, table, true); // the columns, or why the table cannot be read
        columns_ = store.columns();
    }

    QString where() const override {
        return QStringLiteral("%1 (%2)").arg(table_, Connection::safeUrl(url_));
    }

    int column(const char* name) override {
        const QString wanted = QLatin1String(name);
        for (size_t i = 0; i < columns_.size(); ++i) {
            if (columns_[i].name.compare(wanted, Qt::CaseInsensitive) != 0) continue;
            auto at = std::find(asked_.begin(), asked_.end(), i);
            if (at == asked_.end()) at = asked_.insert(at, i);
            return int(at - asked_.begin());
        }
        return -1;
    }

    uint32_t count() const override {
        const Result r = conn_->exec(QStringLiteral("SELECT count(*) FROM %1").arg(ident(table_)));
        return uint32_t(std::strtoul(r.raw(0, 0), nullptr, 10));
    }

protected:
    void blocks(const std::function<bool(const Block&)>& fn) override {
        QString select = QStringLiteral("id");
        for (size_t c : asked_)
            select += QLatin1String(", ") + ident(columns_[c].name.toLower());
        const QString sql =
            QStringLiteral("SELECT %1 FROM %2 WHERE id > $1 ORDER BY id LIMIT $2").arg(select, ident(table_));
        QString after = QStringLiteral("0");
        uint32_t first = 0;
        for (int size = kFirstBatch;; size = std::min(size * 8, kLargestBatch)) {
            const Result r = conn_->exec(sql, {after, QString::number(size)});
            if (r.rows() == 0) return;
            layOut(r);
            Block b;
            b.first = first;
            b.rows = uint32_t(r.rows());
            b.data = bytes_.data() + kPad;
            b.stride = 0;
            b.offsets = offsets_.data();
            b.lengths = lengths_.data();
            b.layoutStride = asked_.size();
            b.utf8 = true;
            if (!fn(b) || r.rows() < size) return;
            first += uint32_t(r.rows());
            after = QString::fromLatin1(r.raw(r.rows() - 1, 0));
        }
    }

private:
    // The batch's values one after another behind a live record's flag, as the file has them:
    // a date as yyyymmdd, a logical as T or F, a null as nothing.
    void layOut(const Result& r) {
        bytes_.assign(kPad, ' ');
        bytes_ += ' ';
        offsets_.clear();
        lengths_.clear();
        for (int row = 0; row < r.rows(); ++row)
            for (size_t i = 0; i < asked_.size(); ++i) {
                const int col = int(i) + 1;
                offsets_.push_back(uint32_t(bytes_.size() - kPad));
                const size_t before = bytes_.size();
                if (!r.isNull(row, col)) append(r.raw(row, col), columns_[asked_[i]].kind);
                lengths_.push_back(uint32_t(bytes_.size() - before));
            }
        bytes_.append(kPad, ' ');
    }

    void append(const char* value, db::FieldKind kind) {
        const size_t n = std::strlen(value);
        if (kind == db::FieldKind::Date) {
            if (n == 10 && value[4] == '-' && value[7] == '-') // anything else is no day of ours
                bytes_.append(value, 4).append(value + 5, 2).append(value + 8, 2);
        } else if (kind == db::FieldKind::Boolean) {
            bytes_ += value[0] == 't' ? 'T' : 'F';
        } else {
            bytes_.append(value, n);
        }
    }

    std::shared_ptr<Connection> conn_;
    QString url_, table_;
    std::vector<db::StoreColumn> columns_;
    std::vector<size_t> asked_; // columns_ of the passes' columns, in the order asked
    std::string bytes_;
    std::vector<uint32_t> offsets_, lengths_;
};

} // namespace

void registerColumnScan() {
    for (const QString& scheme : {QStringLiteral("postgresql"), QStringLiteral("postgres")})
        db::registerColumnScan(scheme, [](const QString& url, const QString& table) {
            return std::make_unique<ServerScan>(url, table);
        });
}

} // namespace pg
