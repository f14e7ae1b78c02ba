// Arbitrary bytes as a table file and, after the first kSplit marker, as its memo file.
// The reader must read every field of every record or throw db::EngineError; anything else
// (sanitizer report, hang, runaway memory) is a bug.
//
// FUZZ_DBF_MAKE_SEEDS=<dir> [FUZZ_DBF_FOREIGN=<dir>] writes the seed corpus instead of fuzzing.
#include "dbf/DbfFile.h"

#include <QDate>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view kSplit = "--DBT--";

std::string g_dir, g_dbf, g_dbt;

void writeFile(const std::string& path, const char* data, size_t n) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        data += w;
        n -= size_t(w);
    }
    ::close(fd);
}

std::string readFile(const std::string& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

void removeDir() {
    if (g_dir.empty()) return;
    for (const char* ext : {".dbf", ".dbt", ".DBT"})
        ::unlink((g_dir + "/t" + ext).c_str());
    ::rmdir(g_dir.c_str());
}

// Per-process, in memory when /dev/shm exists: the reader wants paths, and every input is a new file.
void makeDir() {
    const char* root =
        access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    // The pid in the name lets scripts/fuzz.sh clear what crashed runs (which skip atexit) left.
    std::string tmpl = std::string(root) + "/fuzz_dbf." + std::to_string(getpid()) + ".XXXXXX";
    if (!mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    g_dir = tmpl;
    g_dbf = g_dir + "/t.dbf";
    g_dbt = g_dir + "/t.dbt";
    std::atexit(removeDir);
}

// --- seed generation -----------------------------------------------------------------------

void put(std::string& r, const dbf::DbfFile& f, int field, const std::string& text) {
    r.replace(1 + f.fields()[size_t(field)].offset, text.size(), text);
}

std::string padded(const QString& s, const dbf::DbfFile& f, size_t width) {
    std::string enc;
    dbf::encode(s, f.codePage(), enc);
    enc.resize(width, ' ');
    return enc;
}

std::string memoRef(dbf::DbfFile& f, const QString& text) {
    std::string enc;
    dbf::encode(text, f.codePage(), enc);
    std::string num = std::to_string(f.writeMemo(enc, 0));
    return std::string(10 - num.size(), ' ') + num;
}

// Table file plus, when there is one, the marker and the memo file: one fuzzer input.
void saveSeed(const std::string& outDir, const std::string& name, const std::string& dbf,
              const std::string& dbt, bool hasMemo) {
    std::string bytes = readFile(dbf);
    if (hasMemo) {
        bytes += kSplit;
        bytes += readFile(dbt);
    }
    writeFile(outDir + "/" + name, bytes.data(), bytes.size());
}

void makeSeeds(const std::string& outDir) {
    using dbf::DbfFile;
    using dbf::FieldDef;
    ::mkdir(outDir.c_str(), 0755);
    {
        // Every field type, both code pages, short and multi-block memos, a deleted record.
        for (auto cp : {dbf::CodePage::Cp866, dbf::CodePage::Cp1251}) {
            DbfFile::create(g_dbf,
                            {{"NAME", 'C', 20, 0},
                             {"QTY", 'N', 6, 0},
                             {"PRICE", 'F', 12, 4},
                             {"BORN", 'D', 8, 0},
                             {"ACTIVE", 'L', 1, 0},
                             {"NOTES", 'M', 10, 0}},
                            cp);
            auto f = DbfFile::open(g_dbf);
            QString longText;
            for (int i = 0; i < 30; ++i)
                longText += QStringLiteral("Строка %1 мемо. ").arg(i);
            struct Row {
                QString name;
                double qty, price;
                QDate born;
                const char* active;
                QString memo;
            } rows[] = {
                {QStringLiteral("Иванов"), 12, 3.5, QDate(1999, 12, 31), "T", QStringLiteral("Короткая")},
                {QStringLiteral("Ёлка"), -7, 1234.5678, QDate(2024, 2, 29), "F", longText},
                {QStringLiteral("ascii"), 0, 0, QDate(), "?", QString()}};
            for (const Row& row : rows) {
                std::string r = f->blankRecord();
                put(r, *f, 0, padded(row.name, *f, 20));
                put(r, *f, 1, f->formatNumber(1, row.qty));
                put(r, *f, 2, f->formatNumber(2, row.price));
                put(r, *f, 3, DbfFile::formatDate(row.born));
                put(r, *f, 4, row.active);
                if (!row.memo.isEmpty()) put(r, *f, 5, memoRef(*f, row.memo));
                f->appendRecord(r);
            }
            f->setDeleted(1, true);
            f.reset();
            saveSeed(outDir, cp == dbf::CodePage::Cp866 ? "all_types_866" : "all_types_1251", g_dbf, g_dbt,
                     true);
        }
    }
    {
        // No memo: numbers with decimals, a blank number, wide text.
        DbfFile::create(g_dbf, {{"NOMU", 'N', 3, 0}, {"SUM", 'N', 15, 2}, {"TXT", 'C', 60, 0}});
        auto f = DbfFile::open(g_dbf);
        for (int i = 0; i < 4; ++i) {
            std::string r = f->blankRecord();
            if (i != 2) put(r, *f, 0, f->formatNumber(0, i * 37));
            put(r, *f, 1, f->formatNumber(1, -1234.5 * i));
            put(r, *f, 2, padded(QStringLiteral("строка %1").arg(i), *f, 60));
            f->appendRecord(r);
        }
        f.reset();
        ::unlink(g_dbt.c_str());
        saveSeed(outDir, "numbers", g_dbf, g_dbt, false);
    }
    {
        // Empty table with a memo field.
        DbfFile::create(g_dbf, {{"ID", 'N', 4, 0}, {"M", 'M', 10, 0}});
        saveSeed(outDir, "empty_memo", g_dbf, g_dbt, true);
    }
    // Tables written by other programs.
    if (const char* foreign = std::getenv("FUZZ_DBF_FOREIGN")) {
        const char* tables[][3] = {{"perl-cp866/t866.dbf", "perl-cp866/t866.dbt", "foreign_perl866"},
                                   {"perl-cp1251/t1251.dbf", "perl-cp1251/t1251.dbt", "foreign_perl1251"},
                                   {"xbase64-mdx/PEOPLE.DBF", "xbase64-mdx/PEOPLE.DBT", "foreign_xbase64"},
                                   {"gdal-cpg/o_CP866.dbf", "", "foreign_gdal"}};
        for (auto& t : tables) {
            std::string dbf = std::string(foreign) + "/" + t[0];
            if (access(dbf.c_str(), R_OK) != 0) continue;
            saveSeed(outDir, t[2], dbf, *t[1] ? std::string(foreign) + "/" + t[1] : std::string(),
                     *t[1] != 0);
        }
    }
}

volatile size_t g_sink;

void readAll(bool readOnly) {
    std::shared_ptr<dbf::DbfFile> f;
    try {
        f = dbf::DbfFile::open(g_dbf, readOnly);
    } catch (const db::EngineError&) {
        return;
    }
    size_t sink = f->recordCount() + f->recordLength() + f->headerLength() + f->strayBytes();
    const int nf = int(f->fields().size());
    for (uint32_t rec = 0; rec < f->recordCount(); ++rec) {
        sink += f->isDeleted(rec);
        for (int i = 0; i < nf; ++i) {
            // Each field on its own: one failing must not hide the others.
            try {
                sink += size_t(f->readString(rec, i).size());
                double v = 0;
                if (f->readNumber(rec, i, v)) sink += v > 0;
                sink += size_t(f->readDate(rec, i).isValid());
                sink += size_t(f->readLogical(rec, i) + 1);
                sink += f->memoBlock(rec, i);
                if (f->fields()[size_t(i)].type == 'M') sink += size_t(f->readMemo(rec, i).size());
            } catch (const db::EngineError&) {
            }
        }
    }
    g_sink = sink;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeDir();
    if (const char* out = std::getenv("FUZZ_DBF_MAKE_SEEDS")) {
        makeSeeds(out);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    size_t cut = in.find(kSplit);
    std::string_view table = in.substr(0, cut);
    writeFile(g_dbf, table.data(), table.size());
    if (cut == std::string_view::npos) {
        ::unlink(g_dbt.c_str());
    } else {
        std::string_view memo = in.substr(cut + kSplit.size());
        writeFile(g_dbt, memo.data(), memo.size());
    }

    // Read-only first: the writable open repairs the file's tail, which would hide what the
    // read-only one has to cope with.
    readAll(true);
    readAll(false);
    return 0;
}
