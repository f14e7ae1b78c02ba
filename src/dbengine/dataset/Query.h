#pragma once
#include "Dataset.h"
#include "ResultTable.h"

#include <QStringList>
#include <map>
#include <memory>
#include <vector>

namespace db {
namespace sql {
class Select;
}

// A read-only dataset holding the rows of one SELECT over the tables of an alias.
class Query : public Dataset {
    Q_OBJECT
public:
    explicit Query(QObject* parent = nullptr);
    ~Query() override;

    void setDatabaseName(const QString& alias) { databaseName_ = alias; }
    const QString& databaseName() const { return databaseName_; }
    // The text is kept as lines, as the windows edit it.
    void setSql(const QStringList& lines);
    const QStringList& sql() const { return sql_; }
    // Declares a parameter (written :NAME in the text) and its value.
    void setParam(const QString& name, const Variant& value);
    Variant param(const QString& name) const;

    // Field by position, for windows that read columns by index.
    Field* fieldAt(int i) const;

protected:
    void doOpen() override;
    void doClose() override;
    size_t viewSize() const override { return rows_.size(); }
    Variant readStored(size_t row, const Field* f) const override;
    void rebuildView() override {}
    void settleView() override;

private:
    QString databaseName_;
    QStringList sql_;
    std::map<QString, Variant> params_;
    ResultTable rows_;
    std::unique_ptr<sql::Select> select_; // the rest of the rows, until first used
};

} // namespace db
