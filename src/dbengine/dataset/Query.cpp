#include "Query.h"

#include "../Errors.h"
#include "Aliases.h"
#include "sql/SqlRunner.h"

namespace db {

Query::Query(QObject* parent) : Dataset(parent) {}

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
        throw DatabaseError(QStringLiteral("%1: field index %2 out of range").arg(objectName()).arg(i));
    return fields()[i];
}

void Query::doOpen() {
    QString dir = Aliases::resolve(databaseName_);
    std::map<QString, Variant> params;
    for (const auto& [k, v] : params_)
        params[k] = v;
    sql::ResultSet rs = sql::runSelect(dir, sql_.join(QLatin1Char('\n')), params);
    clearFields();
    for (qsizetype c = 0; c < rs.columns.size(); ++c) {
        FieldKind kind = FieldKind::String;
        int size = 0;
        for (const auto& row : rs.rows) {
            const Variant v = row[size_t(c)];
            if (v.isNull()) continue;
            if (v.type() == Variant::Type::Int)
                kind = FieldKind::Integer;
            else if (v.type() == Variant::Type::Float)
                kind = FieldKind::Float;
            break;
        }
        if (kind == FieldKind::String)
            for (const auto& row : rs.rows)
                size = std::max(size, int(row[size_t(c)].toString().size()));
        auto* f = new Field(this, objectName() + rs.columns[c], rs.columns[c], kind, std::max(size, 1));
        f->setColumn(int(c));
        addField(f);
    }
    rows_ = std::move(rs.rows);
}

void Query::doClose() {
    rows_ = ResultTable();
}

Variant Query::readStored(size_t row, const Field* f) const {
    int c = f->column();
    if (c < 0 || c >= rows_.columnCount()) return {};
    return rows_.value(row, c);
}

} // namespace db
