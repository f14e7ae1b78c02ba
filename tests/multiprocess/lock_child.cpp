// A second program instance for the tests that race real processes on one table:
//   increment DIR N  adds 1 to the first record's N field N times through edit and post,
//                    trying again while another process holds the record
//   hold DIR         edits the first record, says "locked", waits for a line on stdin, posts
//                    NAME "held" and says "posted"
//   try DIR          edits the first record and says "ok NAME" or the refusal
// and, as another dBASE tool would, with plain file calls on any table:
//   cut FILE N       keeps the first N records: the count set lower and the file cut short
//   reshape FILE     writes another structure over the file in place
//   replace FILE     puts a copy with no records in the file's place (a rename over it)
// and, as another workstation with any table open:
//   watch FILE       opens it, says "open COUNT", waits for a line, then says what a move in
//                    its window says and "count COUNT cuts N"
//   edit FILE        edits its first record, says "locked", waits for a line, cancels
// and, for two systems racing on one folder:
//   create DIR       makes DIR/counter.dbf (N, NAME) with one record
//   append DIR N TAG says "ready", waits for DIR/go, appends N records NAME TAG, each numbered one
//                    past the highest N stored
#include "Errors.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "dbf/Os.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

int otherTool(const std::string& mode, const std::string& path, int keep) {
    namespace os = dbf::os;
    int fd = os::open(path, O_RDWR);
    if (fd < 0) return 3;
    unsigned char h[12];
    if (os::pread(fd, h, 12, 0) != 12) return 3;
    const unsigned hdr = h[8] | h[9] << 8, len = h[10] | h[11] << 8;
    if (mode == "cut") {
        const unsigned char count[4] = {uint8_t(keep), uint8_t(keep >> 8), uint8_t(keep >> 16), 0};
        const off_t end = off_t(hdr) + off_t(keep) * len;
        const char eof = 0x1A;
        if (os::pwrite(fd, count, 4, 4) != 4 || os::truncate(fd, end) != 0 ||
            os::pwrite(fd, &eof, 1, end) != 1)
            return 3;
    } else if (mode == "reshape") {
        // In place, as a tool rewriting the file would: the same file, another structure.
        const std::string made = path + ".new";
        dbf::DbfFile::create(made, {{"OTHER", 'C', 3, 0}});
        int in = os::open(made, O_RDONLY);
        char buf[4096];
        const ssize_t n = in < 0 ? -1 : os::pread(in, buf, sizeof buf, 0);
        if (in >= 0) os::close(in);
        os::remove(made);
        if (n <= 0 || os::pwrite(fd, buf, size_t(n), 0) != n || os::truncate(fd, n) != 0) return 3;
    } else if (mode == "replace") {
        const std::string copy = path + ".new";
        std::vector<char> header(hdr);
        if (os::pread(fd, header.data(), hdr, 0) != ssize_t(hdr)) return 3;
        std::memset(header.data() + 4, 0, 4);
        header.push_back(0x1A);
        int out = os::open(copy, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || os::pwrite(out, header.data(), header.size(), 0) != ssize_t(header.size())) return 3;
        os::close(out);
        // The rename is refused on Windows while we hold the file open ourselves.
        os::close(fd);
        return os::rename(copy, path) == 0 ? 0 : 3;
    }
    os::close(fd);
    return 0;
}

int workstation(const std::string& mode, const QString& path) {
    db::Table t;
    t.setTableName(path);
    try {
        t.open();
        t.first();
        if (mode == "edit") t.edit();
        std::printf(mode == "edit" ? "locked\n" : "open %d\n", t.recordCount());
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        if (mode == "edit") {
            t.cancel();
            return 0;
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(30)); // past the table's pause between looks at the file
        try {
            t.last();
        } catch (const db::EngineError& e) {
            std::printf("%s\n", e.what());
        }
        std::printf("count %d cuts %u\n", t.recordCount(), t.file()->cuts());
    } catch (const db::EngineError& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    std::fflush(stdout);
    return 0;
}

// Each number is taken under the append lock against the records as stored, as the program numbers
// its testees: two processes appending at once never take the same one.
// Says "ready" and starts once DIR/go exists, so that a slow-starting process races too.
int appendNumbered(db::Table& t, const QString& dir, int n, const QString& tag) {
    const int field = t.file()->fieldIndex("N");
    std::printf("ready\n");
    std::fflush(stdout);
    while (!dbf::os::exists((dir + "/go").toStdString()))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int i = 0; i < n; ++i) {
        t.store()->underAppendLock([&] {
            double top = 0;
            const dbf::DbfFile& f = *t.file();
            for (uint32_t rec = 0; rec < f.recordCount(); ++rec) {
                double v = 0;
                if (f.readNumber(rec, field, v) && v > top) top = v;
            }
            t.append();
            t.setFieldValue("N", int(top) + 1);
            t.setFieldValue("NAME", tag);
            t.post();
        });
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    if (mode == "cut" || mode == "reshape" || mode == "replace")
        return otherTool(mode, argv[2], argc > 3 ? std::atoi(argv[3]) : 0);
    if (mode == "watch" || mode == "edit") return workstation(mode, QString::fromLocal8Bit(argv[2]));
    const QString counter = QString::fromLocal8Bit(argv[2]) + "/counter.dbf";
    if (mode == "create") {
        dbf::DbfFile::create(counter.toStdString(), {{"N", 'N', 10, 0}, {"NAME", 'C', 20, 0}});
        db::Table t;
        t.setTableName(counter);
        t.open();
        t.append();
        t.setFieldValue("N", 0);
        t.setFieldValue("NAME", QStringLiteral("counter"));
        t.post();
        return 0;
    }
    db::Table t;
    t.setTableName(counter);
    t.open();
    try {
        if (mode == "increment" && argc == 4) {
            const int n = std::atoi(argv[3]);
            for (int i = 0; i < n; ++i) {
                for (;;) {
                    try {
                        t.first();
                        t.edit();
                        break;
                    } catch (const db::DatabaseError& e) {
                        if (std::strcmp(e.what(), "Record locked by another user.") != 0) throw;
                        std::this_thread::sleep_for(std::chrono::microseconds(100));
                    }
                }
                t.setFieldValue("N", t.fieldValue("N").toInt() + 1);
                t.post();
            }
            return 0;
        }
        if (mode == "append" && argc == 5)
            return appendNumbered(t, QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]),
                                  QString::fromLocal8Bit(argv[4]));
        if (mode == "hold") {
            t.first();
            t.edit();
            std::printf("locked\n");
            std::fflush(stdout);
            std::string line;
            std::getline(std::cin, line);
            t.setFieldValue("NAME", QStringLiteral("held"));
            t.post();
            std::printf("posted\n");
            std::fflush(stdout);
            return 0;
        }
        if (mode == "try") {
            t.first();
            t.edit();
            std::printf("ok %s\n", t.fieldValue("NAME").toString().toUtf8().constData());
            t.cancel();
            return 0;
        }
    } catch (const db::EngineError& e) {
        std::printf("%s\n", e.what());
        std::fflush(stdout);
        return 1;
    }
    return 2;
}
