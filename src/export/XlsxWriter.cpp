#include "Output.h"
#include "Writers.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <xlsxwriter.h>

namespace exporting {

namespace {

// Excel counts days from 30 December 1899.
const qint64 kExcelEpochDay = QDate(1899, 12, 30).toJulianDay();

// A width in characters that shows the column's heading and widest value.
double fittedWidth(const Column& c, size_t rows) {
    qsizetype widest = std::min<qsizetype>(c.title.size(), 30);
    switch (c.type) {
    case ColumnType::Date:
        widest = std::max<qsizetype>(widest, 10);
        break;
    case ColumnType::Text:
        for (const QString& t : c.texts)
            widest = std::max(widest, t.size());
        break;
    case ColumnType::Number:
        for (size_t r = 0; r < rows; ++r)
            if (!c.missing(r))
                widest = std::max<qsizetype>(widest, QString::number(c.numbers[r], 'f', c.decimals).size());
        break;
    }
    return double(std::min<qsizetype>(widest, 60)) + 2;
}

} // namespace

void writeXlsx(const Sheet& sheet, const QString& path, const Progress& progress) {
    if (sheet.rows + 1 > LXW_ROW_MAX || sheet.columns.size() > LXW_COL_MAX)
        throw ExportError(
            QStringLiteral("В файле Excel не больше %1 строк и %2 столбцов, а данных %3 строк и %4 "
                           "столбцов; выберите формат SPSS или CSV.")
                .arg(LXW_ROW_MAX - 1)
                .arg(LXW_COL_MAX)
                .arg(sheet.rows)
                .arg(sheet.columns.size()));
    OutputFile out(path);
    const std::string temp = out.tempPath();
    // Rows go straight to a temporary file instead of being kept in memory till the end.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(temp.c_str(), &options);
    if (!book) out.fail(QStringLiteral("библиотека libxlsxwriter не начала файл"));
    // Whatever happens below, the library's handles and temporary files go.
    struct Closer {
        lxw_workbook*& book;
        ~Closer() {
            if (book) workbook_close(book);
        }
    } closer{book};
    auto check = [&](lxw_error e) {
        if (e != LXW_NO_ERROR) out.fail(QString::fromUtf8(lxw_strerror(e)));
    };

    lxw_worksheet* ws = workbook_add_worksheet(book, "Данные");
    lxw_format* heading = workbook_add_format(book);
    format_set_bold(heading);
    format_set_text_wrap(heading);
    lxw_format* dateFormat = workbook_add_format(book);
    format_set_num_format(dateFormat, "dd.mm.yyyy");
    std::vector<lxw_format*> numberFormats(sheet.columns.size(), nullptr);
    for (size_t c = 0; c < sheet.columns.size(); ++c) {
        const Column& col = sheet.columns[c];
        if (col.type == ColumnType::Number && col.decimals > 0) {
            numberFormats[c] = workbook_add_format(book);
            format_set_num_format(numberFormats[c], ("0." + QByteArray(col.decimals, '0')).constData());
        }
        check(worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), fittedWidth(col, sheet.rows),
                                   col.type == ColumnType::Date ? dateFormat : numberFormats[c]));
    }
    worksheet_freeze_panes(ws, 1, 0);

    for (size_t c = 0; c < sheet.columns.size(); ++c)
        check(worksheet_write_string(ws, 0, lxw_col_t(c), sheet.columns[c].title.toUtf8().constData(),
                                     heading));
    QByteArray text;
    for (size_t r = 0; r < sheet.rows; ++r) {
        const auto row = lxw_row_t(r + 1);
        for (size_t c = 0; c < sheet.columns.size(); ++c) {
            const Column& col = sheet.columns[c];
            if (col.missing(r)) continue;
            switch (col.type) {
            case ColumnType::Text:
                text = col.texts[r].toUtf8();
                check(worksheet_write_string(ws, row, lxw_col_t(c), text.constData(), nullptr));
                break;
            case ColumnType::Date:
                check(worksheet_write_number(ws, row, lxw_col_t(c),
                                             double(qint64(col.numbers[r]) - kExcelEpochDay), dateFormat));
                break;
            case ColumnType::Number:
                check(worksheet_write_number(ws, row, lxw_col_t(c), col.numbers[r], numberFormats[c]));
                break;
            }
        }
        if (progress && r % 4096 == 0) progress(qint64(r), qint64(sheet.rows));
    }
    lxw_workbook* closing = book;
    book = nullptr;
    // The library names only its zip step; the system's reason (a full disk) says more.
    errno = 0;
    if (const lxw_error e = workbook_close(closing); e != LXW_NO_ERROR) {
        if (errno != 0) out.fail(errno);
        out.fail(QString::fromUtf8(lxw_strerror(e)));
    }
    out.commit();
}

} // namespace exporting
