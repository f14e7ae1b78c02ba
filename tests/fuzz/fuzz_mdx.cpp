// Arbitrary bytes as the production index of a small fixed table. Opening it read-only reads
// every tag in order and checks it; opening it writable (which rebuilds an index left busy)
// appends and rewrites a record through every tag. A db::EngineError is a normal outcome;
// anything else (sanitizer report, hang, runaway memory) is a bug.
//
// FUZZ_MDX_MAKE_SEEDS=<dir> writes the seed corpus instead of fuzzing.
#include "dbf/DbfFile.h"
#include "dbf/Mdx.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir, g_dbf, g_mdx, g_table;

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void spill(const std::string& path, const char* data, size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data, std::streamsize(n));
}

void makeTable() {
    std::remove(g_mdx.c_str());
    dbf::DbfFile::create(
        g_dbf, {{"NAME", 'C', 12, 0}, {"QTY", 'N', 6, 0}, {"PRICE", 'N', 10, 2}, {"BORN", 'D', 8, 0}});
    auto f = dbf::DbfFile::open(g_dbf);
    f->setDurable(false);
    for (int i = 0; i < 120; ++i) {
        std::string r = f->blankRecord();
        std::string name = "n" + std::to_string(i % 17);
        name.resize(12, ' ');
        r.replace(1, 12, name);
        r.replace(13, 6, f->formatNumber(1, i % 13 - 6));
        r.replace(19, 10, f->formatNumber(2, i * 1.25));
        r.replace(29, 8, i % 9 ? "2001" + std::string(i % 2 ? "0315" : "1102") : "        ");
        if (i % 11 == 0) r[0] = '*';
        f->appendRecord(r);
    }
    f.reset();
    dbf::DbfFile::createIndex(g_dbf,
                              {{"NAME", "NAME", "", false, false},
                               {"QTY", "QTY", "", true, false},
                               {"BORN", "BORN", ".NOT. DELETED()", false, false},
                               {"MIX", "UPPER(SUBSTR(NAME,1,3))+STR(QTY,4)+DTOS(BORN)", "", false, true}});
    g_table = slurp(g_dbf); // with its header saying there is an index
}

void runOne(const uint8_t* data, size_t size) {
    spill(g_dbf, g_table.data(), g_table.size());
    spill(g_mdx, reinterpret_cast<const char*>(data), size);
    try {
        auto f = dbf::DbfFile::open(g_dbf, true);
        if (dbf::MdxFile* m = f->productionIndex())
            for (size_t i = 0; i < m->tags().size(); ++i) {
                std::vector<uint32_t> order;
                f->tagOrder(m->tags()[i].name, order); // the name as the program passes it: by reference
            }
        f->checkIndex();
    } catch (const db::EngineError&) {
    }
    try {
        auto f = dbf::DbfFile::open(g_dbf);
        f->setDurable(false);
        std::string r = f->blankRecord();
        r.replace(1, 5, "zzzzz");
        f->appendRecord(r);
        f->setDeleted(3, true);
        f->writeRecord(5, r);
        f->checkIndex();
    } catch (const db::EngineError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char tmpl[] = "/tmp/fuzz_mdx.XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    g_dir = tmpl;
    g_dbf = g_dir + "/t.dbf";
    g_mdx = g_dir + "/t.MDX";
    makeTable();
    if (const char* seeds = std::getenv("FUZZ_MDX_MAKE_SEEDS")) {
        std::string good = slurp(g_mdx);
        spill(std::string(seeds) + "/built.mdx", good.data(), good.size());
        // The same after appends that split nodes and free none, and one left busy.
        auto f = dbf::DbfFile::open(g_dbf);
        for (int i = 0; i < 200; ++i)
            f->appendRecord(f->blankRecord());
        f.reset();
        std::string grown = slurp(g_mdx);
        spill(std::string(seeds) + "/grown.mdx", grown.data(), grown.size());
        good[47] = 1;
        spill(std::string(seeds) + "/busy.mdx", good.data(), good.size());
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    runOne(data, size);
    return 0;
}
