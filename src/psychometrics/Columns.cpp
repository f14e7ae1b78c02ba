#include "psychometrics/Columns.h"

#include "dataset/Table.h"
#include "dataset/Variant.h"
#include "dbf/DbfFile.h"

#include <QDir>

namespace psychometrics {

Columns::Columns(const QString& dir, const char* file) {
    db::Table locate; // finds the file whatever the letter case on disk, or says why not
    locate.setTableName(QDir(dir).filePath(QLatin1String(file)));
    file_ = dbf::DbfFile::open(locate.filePath().toStdString(), true);
}

Columns::~Columns() = default;

int Columns::column(const char* name) const {
    const int c = file_->fieldIndex(name);
    if (c < 0)
        throw AnalysisError(
            QStringLiteral("В таблице %1 нет поля %2.")
                .arg(QDir::toNativeSeparators(QString::fromStdString(file_->path())), QLatin1String(name)));
    return c;
}

uint32_t Columns::count() const {
    return file_->recordCount();
}

bool Columns::live(uint32_t r) const {
    return !file_->isDeleted(r);
}

std::optional<int64_t> Columns::whole(uint32_t r, int c) const {
    // The common case, digits with an optional sign and zero decimals, without the general parse.
    const std::string_view s = file_->raw(r, c);
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    const bool negative = i < s.size() && s[i] == '-';
    if (negative) ++i;
    const size_t first = i;
    int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - first < 15)
        v = v * 10 + (s[i++] - '0');
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] == '0')
            ++i;
    }
    if (i == s.size() && i > first) return negative ? -v : v;
    double d;
    if (!file_->readNumber(r, c, d)) return std::nullopt;
    return db::roundHalfEven(d);
}

QString Columns::text(uint32_t r, int c) const {
    return file_->readString(r, c);
}

QDate Columns::date(uint32_t r, int c) const {
    return file_->readDate(r, c);
}

} // namespace psychometrics
