// Arbitrary text as a filter: it must parse or throw db::DatabaseError, and a parsed filter must
// bind to a small table (or throw DatabaseError) and evaluate on every record.
#include "dataset/Filter.h"
#include "dbf/DbfFile.h"

#include <QDate>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;
std::shared_ptr<dbf::DbfFile> g_table;

void removeDir() {
    g_table.reset();
    if (g_dir.empty()) return;
    ::unlink((g_dir + "/f.dbf").c_str());
    ::unlink((g_dir + "/f.dbt").c_str());
    ::rmdir(g_dir.c_str());
}

void put(std::string& r, int field, const std::string& text) {
    r.replace(1 + g_table->fields()[size_t(field)].offset, text.size(), text);
}

// Names from the program's own filters plus one of each type; rows with blanks, negatives,
// Cyrillic text and a number wider than 64-bit integers.
void makeTable() {
    using dbf::DbfFile;
    const char* root = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl =
        std::string(root) + "/fuzz_filter." + std::to_string(getpid()) + ".XXXXXX"; // see fuzz_dbf
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_dir = tmpl;
    std::atexit(removeDir);
    std::string path = g_dir + "/f.dbf";
    DbfFile::create(path, {{"NOMU", 'N', 3, 0},
                           {"NOMTESTIR", 'N', 5, 0},
                           {"NOMTESTA", 'N', 3, 0},
                           {"KRIT", 'N', 1, 0},
                           {"A", 'N', 10, 2},
                           {"B", 'C', 20, 0},
                           {"PRICE", 'F', 12, 4},
                           {"BORN", 'D', 8, 0},
                           {"OK", 'L', 1, 0},
                           {"BIG", 'N', 20, 0},
                           {"NOTES", 'M', 10, 0}});
    g_table = DbfFile::open(path);
    struct Row {
        int nomu, ir, ta, krit;
        double a;
        const char16_t* b;
        double price;
        QDate born;
        const char* ok;
        const char* big;
    } rows[] = {
        {3, 12, 2, 1, 1, u"x", 3.5, QDate(1999, 12, 31), "T", "99999999999999999999"},
        {3, 12, 5, 1, -7.25, u"Иванов", -1234.5678, QDate(2024, 2, 29), "F", "-9223372036854775808"},
        {-1, 0, 0, 0, 0, u"", 0, QDate(), " ", ""},
        {999, 99999, 999, 9, 1e6, u"ёлка 'в' \"лесу\"", 1e6, QDate(2000, 1, 1), "?", "1"},
    };
    for (const Row& row : rows) {
        std::string r = g_table->blankRecord();
        if (row.nomu >= 0) put(r, 0, g_table->formatNumber(0, row.nomu));
        put(r, 1, g_table->formatNumber(1, row.ir));
        put(r, 2, g_table->formatNumber(2, row.ta));
        put(r, 3, g_table->formatNumber(3, row.krit));
        put(r, 4, g_table->formatNumber(4, row.a));
        std::string b;
        dbf::encode(QString::fromUtf16(row.b), g_table->codePage(), b);
        put(r, 5, b);
        put(r, 6, g_table->formatNumber(6, row.price));
        put(r, 7, DbfFile::formatDate(row.born));
        put(r, 8, row.ok);
        std::string big(row.big);
        put(r, 9, std::string(20 - big.size(), ' ') + big);
        g_table->appendRecord(r);
    }
    g_table->setDeleted(2, true);
}

volatile size_t g_sink;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        db::FilterExpr e = db::FilterExpr::parse(text);
        e.bind(*g_table);
        size_t hits = 0;
        for (uint32_t rec = 0; rec < g_table->recordCount(); ++rec)
            hits += e.matches(*g_table, rec);
        g_sink = hits;
    } catch (const db::DatabaseError&) {
    }
    return 0;
}
