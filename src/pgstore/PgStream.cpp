// Reading a whole server table once: batches in id order, so the server walks its primary key
// and the program never holds more than one batch.
#include "PgStore.h"

#include <algorithm>

namespace pg {

namespace {
constexpr int kFirstBatch = 500; // as a page of a view: a query that wants one row waits no longer
constexpr int kLargestBatch = 50000;
} // namespace

class PgStore::Stream : public db::RowStream {
public:
    Stream(const PgStore& store, std::vector<int> columns, std::vector<db::FieldKind> kinds)
        : store_(store), columns_(std::move(columns)), kinds_(std::move(kinds)) {
        select_ = QStringLiteral("id");
        for (int c : columns_)
            select_ +=
                QLatin1String(", ") + (c >= 0 ? store_.sql_[size_t(c)].sqlName : QStringLiteral("NULL"));
    }

    ~Stream() override {
        if (!own_) return;
        if (pending_) {
            try {
                own_->receive(batchSql()); // the batch asked for ahead, unread
            } catch (const db::DatabaseError&) {
                return; // the connection goes with what it was doing
            }
        }
        Connection::keepSpare(std::move(own_));
    }

    bool next() override {
        if (++at_ < batch_.rows()) return true;
        if (done_) return false;
        fetch();
        return at_ < batch_.rows();
    }

    db::RowId id() const override { return last(at_); }

    db::Variant value(size_t i) const override {
        const int c = columns_[i];
        if (c < 0) return {};
        return cell(batch_, at_, int(i) + 1, store_.sql_[size_t(c)].type, kinds_[i]);
    }

private:
    db::RowId last(int row) const { return db::RowId(std::strtoul(batch_.raw(row, 0), nullptr, 10)); }

    QString batchSql() const {
        return QStringLiteral("SELECT %1 FROM %2 WHERE id > $1 ORDER BY id LIMIT %3")
            .arg(select_, store_.table_)
            .arg(size_);
    }

    void fetch() {
        const db::RowId after = batch_.rows() ? last(batch_.rows() - 1) : 0;
        if (pending_) {
            pending_ = false;
            batch_ = own_->receive(batchSql());
        } else if (!started_ && !store_.conn_->inTransaction()) {
            batch_ = first(after);
        } else {
            batch_ = connection().exec(batchSql(), {QString::number(after)});
        }
        started_ = true;
        done_ = batch_.rows() < size_;
        size_ = std::min(size_ * 8, kLargestBatch);
        at_ = 0;
        if (!done_ && own_) {
            // The next batch is made by the server while this one is read.
            own_->send(batchSql(), {QString::number(last(batch_.rows() - 1))});
            pending_ = true;
        }
    }

    // The first batch, on a connection of the stream's own so that the later ones can be asked for
    // ahead; a kept connection the server dropped meanwhile (a restart) gives way to a new one.
    Result first(db::RowId after) {
        bool reused = false;
        own_ = Connection::spare(store_.conn_->url(), &reused);
        try {
            return own_->exec(batchSql(), {QString::number(after)});
        } catch (const db::DatabaseError&) {
            if (!reused) throw;
        }
        own_ = std::make_unique<Connection>(store_.conn_->url());
        return own_->exec(batchSql(), {QString::number(after)});
    }

    // Within a caller's transaction the stream reads there, and sees what it wrote.
    Connection& connection() const { return own_ ? *own_ : *store_.conn_; }

    const PgStore& store_;
    std::vector<int> columns_;
    std::vector<db::FieldKind> kinds_;
    QString select_;
    Result batch_;
    int at_ = -1;
    int size_ = kFirstBatch;
    bool done_ = false;
    bool started_ = false;
    bool pending_ = false;
    std::unique_ptr<Connection> own_;
};

std::unique_ptr<db::RowStream> PgStore::stream(const std::vector<int>& columns,
                                               const std::vector<db::FieldKind>& kinds) {
    return std::make_unique<Stream>(*this, columns, kinds);
}

} // namespace pg
