#include "Query.h"
#include "Fault.h"

#include "../Errors.h"
#include "Aliases.h"
#include "sql/SqlRunner.h"

#include <algorithm>

namespace db {

Query::Query(QObject* parent) : Dataset(parent) {}

Query::~Query() = default;

void Query::setSql(const QStringList& lines) {
    if (active()) close(); // a new text only makes sense for the next run
    sql_ = lines;
}

void Query::setParam(const QString& name, const Variant& value) {
    params_[name.toUpper()] = value;
}

Variant Query::param(const QString& name) const {
    auto it = params_.find(name.toUpper());
    return it == params_.end() ? Variant() : it->second;
}

Field* Query::fieldAt(int i) const {
    if (i < 0 || i >= fields().size())
        throw FaultError(QStringLiteral("%1: field index %2 out of range").arg(objectName()).arg(i),
                         FaultInfo(Fault::NoColumn));
    return fields()[i];
}

void Query::doOpen() {
    QString dir = Aliases::resolve(databaseName_);
    std::map<QString, Variant> params;
    for (const auto& [k, v] : params_)
        params[k] = v;
    auto select = std::make_unique<sql::Select>(dir, sql_.join(QLatin1Char('\n')), params);
    const QStringList columns = select->columns();
    const int n = int(columns.size());
    ResultTable rows(n);
    // A column's kind is that of its first value: rows are read until each column has one.
    // The rest are read when first used, unless a text column needs them all for its width.
    std::vector<FieldKind> kinds(size_t(n), FieldKind::String);
    std::vector<bool> known(size_t(n), false);
    bool more = true;
    auto allKnown = [&] { return std::find(known.begin(), known.end(), false) == known.end(); };
    while (!allKnown() && (more = select->fetch(rows, 1))) {
        const size_t row = rows.size() - 1;
        for (int c = 0; c < n; ++c) {
            const Variant v = rows.value(row, c);
            if (known[size_t(c)] || v.isNull()) continue;
            known[size_t(c)] = true;
            if (v.type() == Variant::Type::Int)
                kinds[size_t(c)] = FieldKind::Integer;
            else if (v.type() == Variant::Type::Float)
                kinds[size_t(c)] = FieldKind::Float;
        }
    }
    const bool texts = std::find(kinds.begin(), kinds.end(), FieldKind::String) != kinds.end();
    if (more && texts) {
        select->fetch(rows);
        more = false;
    }
    clearFields();
    for (int c = 0; c < n; ++c) {
        int size = 0;
        if (kinds[size_t(c)] == FieldKind::String)
            for (size_t row = 0; row < rows.size(); ++row)
                size = std::max(size, int(rows.value(row, c).toString().size()));
        auto* f = new Field(this, objectName() + columns[c], columns[c], kinds[size_t(c)], std::max(size, 1));
        f->setColumn(c);
        addField(f);
    }
    rows_ = std::move(rows);
    if (more) {
        select_ = std::move(select);
        deferView();
    }
}

void Query::settleView() {
    if (!select_) return;
    // The statement goes whatever happens: a run that failed gives no more rows.
    const std::unique_ptr<sql::Select> select = std::move(select_);
    try {
        select->fetch(rows_);
    } catch (...) {
        rows_ = ResultTable(rows_.columnCount()); // never part of a result shown as all of it
        throw;
    }
}

void Query::doClose() {
    select_.reset();
    rows_ = ResultTable();
}

Variant Query::readStored(size_t row, const Field* f) const {
    int c = f->column();
    if (c < 0 || c >= rows_.columnCount()) return {};
    return rows_.value(row, c);
}

} // namespace db
