#include "Output.h"
#include "Writers.h"

#include <QSet>
#include <exception>
#include <memory>
#include <readstat.h>

namespace exporting {

namespace {

// Seconds from the start of the Gregorian calendar, where SPSS counts dates from.
const qint64 kSpssEpochDay = QDate(1582, 10, 14).toJulianDay();

// A UTF-8 text cut to at most maxBytes on a character boundary, the cut marked with "…":
// the format's limit never leaves half a letter, which a reader would show as "?".
QByteArray fitted(const QString& text, int maxBytes) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes) return bytes;
    const QByteArray ellipsis = QStringLiteral("…").toUtf8();
    qsizetype cut = maxBytes - ellipsis.size();
    while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    return bytes.left(cut) + ellipsis;
}

struct Sink {
    OutputFile* out;
    std::exception_ptr failure;
    QString libraryMessage;
};

ssize_t writeData(const void* data, size_t len, void* ctx) {
    auto* sink = static_cast<Sink*>(ctx);
    try {
        sink->out->write(static_cast<const char*>(data), len);
        return ssize_t(len);
    } catch (...) {
        // No exception may cross the library's C frames.
        sink->failure = std::current_exception();
        return -1;
    }
}

void noteError(const char* message, void* ctx) {
    static_cast<Sink*>(ctx)->libraryMessage = QString::fromUtf8(message).trimmed();
}

struct WriterFree {
    void operator()(readstat_writer_t* w) const { readstat_writer_free(w); }
};

readstat_measure_t measureOf(Measure m) {
    switch (m) {
    case Measure::Nominal:
        return READSTAT_MEASURE_NOMINAL;
    case Measure::Ordinal:
        return READSTAT_MEASURE_ORDINAL;
    case Measure::Scale:
        break;
    }
    return READSTAT_MEASURE_SCALE;
}

} // namespace

void writeSav(const Sheet& sheet, const QString& path, const Progress& progress) {
    QSet<QString> seen;
    for (const Column& c : sheet.columns) {
        if (!validName(c.name))
            throw ExportError(QStringLiteral("Имя переменной «%1» недопустимо в файле SPSS.").arg(c.name));
        if (seen.contains(c.name.toUpper()))
            throw ExportError(QStringLiteral("Имя переменной «%1» встречается дважды.").arg(c.name));
        seen.insert(c.name.toUpper());
    }

    OutputFile out(path);
    Sink sink{&out, nullptr, {}};
    std::unique_ptr<readstat_writer_t, WriterFree> w(readstat_writer_init());
    auto check = [&](readstat_error_t e) {
        if (e == READSTAT_OK) return;
        if (sink.failure) std::rethrow_exception(sink.failure);
        out.fail(sink.libraryMessage.isEmpty() ? QString::fromUtf8(readstat_error_message(e))
                                               : sink.libraryMessage);
    };
    check(readstat_set_data_writer(w.get(), writeData));
    readstat_writer_set_error_handler(w.get(), noteError);
    check(readstat_writer_set_compression(w.get(), READSTAT_COMPRESS_ROWS));
    check(readstat_writer_set_file_label(w.get(), fitted(sheet.title, 64).constData()));

    std::vector<readstat_variable_t*> vars;
    for (const Column& c : sheet.columns) {
        const QByteArray name = c.name.toLatin1();
        readstat_variable_t* v = nullptr;
        if (c.type == ColumnType::Text) {
            qsizetype width = 1;
            for (const QString& t : c.texts)
                width = std::max(width, t.toUtf8().size());
            for (const auto& [value, label] : c.textLabels)
                width = std::max(width, value.toUtf8().size());
            v = readstat_add_variable(w.get(), name.constData(), READSTAT_TYPE_STRING, size_t(width));
            readstat_variable_set_alignment(v, READSTAT_ALIGNMENT_LEFT);
            // A string's print format must be as wide as the string itself.
            readstat_variable_set_display_width(v, int(width));
            if (!c.textLabels.empty()) {
                readstat_label_set_t* set =
                    readstat_add_label_set(w.get(), READSTAT_TYPE_STRING, ("L_" + name).constData());
                for (const auto& [value, label] : c.textLabels)
                    readstat_label_string_value(set, value.toUtf8().constData(),
                                                fitted(label, 120).constData());
                readstat_variable_set_label_set(v, set);
            }
        } else {
            v = readstat_add_variable(w.get(), name.constData(), READSTAT_TYPE_DOUBLE, 0);
            if (c.type == ColumnType::Date) {
                readstat_variable_set_format(v, "DATE11");
                readstat_variable_set_display_width(v, 11);
            } else {
                readstat_variable_set_format(v,
                                             QStringLiteral("F8.%1").arg(c.decimals).toLatin1().constData());
                readstat_variable_set_display_width(v, 8);
            }
            if (!c.numberLabels.empty()) {
                readstat_label_set_t* set =
                    readstat_add_label_set(w.get(), READSTAT_TYPE_DOUBLE, ("L_" + name).constData());
                for (const auto& [value, label] : c.numberLabels)
                    readstat_label_double_value(set, value, fitted(label, 120).constData());
                readstat_variable_set_label_set(v, set);
            }
            if (c.missingCode) check(readstat_variable_add_missing_double_value(v, *c.missingCode));
        }
        readstat_variable_set_label(v, fitted(c.title, 255).constData());
        readstat_variable_set_measure(v, measureOf(c.measure));
        vars.push_back(v);
    }

    check(readstat_begin_writing_sav(w.get(), &sink, long(sheet.rows)));
    check(readstat_validate_metadata(w.get()));
    for (readstat_variable_t* v : vars)
        check(readstat_validate_variable(w.get(), v));

    QByteArray text;
    for (size_t r = 0; r < sheet.rows; ++r) {
        check(readstat_begin_row(w.get()));
        for (size_t i = 0; i < vars.size(); ++i) {
            const Column& c = sheet.columns[i];
            if (c.type == ColumnType::Text) {
                text = c.texts[r].toUtf8();
                check(readstat_insert_string_value(w.get(), vars[i], text.constData()));
                continue;
            }
            const double v = c.numbers[r];
            if (std::isnan(v))
                check(readstat_insert_missing_value(w.get(), vars[i]));
            else if (c.type == ColumnType::Date)
                check(readstat_insert_double_value(w.get(), vars[i],
                                                   double(qint64(v) - kSpssEpochDay) * 86400.0));
            else
                check(readstat_insert_double_value(w.get(), vars[i], v));
        }
        check(readstat_end_row(w.get()));
        if (progress && r % 4096 == 0) progress(qint64(r), qint64(sheet.rows));
    }
    check(readstat_end_writing(w.get()));
    out.commit();
}

} // namespace exporting
