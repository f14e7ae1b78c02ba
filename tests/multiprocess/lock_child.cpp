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
#include "Errors.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <fcntl.h>
#include <vector>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

int otherTool(const std::string& mode, const std::string& path, int keep) {
    int fd = ::open(path.c_str(), O_RDWR);
    if (fd < 0) return 3;
    unsigned char h[12];
    if (::pread(fd, h, 12, 0) != 12) return 3;
    const unsigned hdr = h[8] | h[9] << 8, len = h[10] | h[11] << 8;
    if (mode == "cut") {
        const unsigned char count[4] = {uint8_t(keep), uint8_t(keep >> 8), uint8_t(keep >> 16), 0};
        const off_t end = off_t(hdr) + off_t(keep) * len;
        const char eof = 0x1A;
        if (::pwrite(fd, count, 4, 4) != 4 || ::ftruncate(fd, end) != 0 || ::pwrite(fd, &eof, 1, end) != 1)
            return 3;
    } else if (mode == "reshape") {
        // In place, as a tool rewriting the file would: the same file, another structure.
        const std::string made = path + ".new";
        dbf::DbfFile::create(made, {{"OTHER", 'C', 3, 0}});
        int in = ::open(made.c_str(), O_RDONLY);
        char buf[4096];
        const ssize_t n = in < 0 ? -1 : ::read(in, buf, sizeof buf);
        ::close(in);
        std::remove(made.c_str());
        if (n <= 0 || ::pwrite(fd, buf, size_t(n), 0) != n || ::ftruncate(fd, n) != 0) return 3;
    } else if (mode == "replace") {
        const std::string copy = path + ".new";
        std::vector<char> header(hdr);
        if (::pread(fd, header.data(), hdr, 0) != ssize_t(hdr)) return 3;
        std::memset(header.data() + 4, 0, 4);
        header.push_back(0x1A);
        int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || ::write(out, header.data(), header.size()) != ssize_t(header.size())) return 3;
        ::close(out);
        if (std::rename(copy.c_str(), path.c_str()) != 0) return 3;
    }
    ::close(fd);
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
        usleep(30000); // past the table's pause between looks at the file
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    const std::string mode = argv[1];
    if (mode == "cut" || mode == "reshape" || mode == "replace")
        return otherTool(mode, argv[2], argc > 3 ? std::atoi(argv[3]) : 0);
    if (mode == "watch" || mode == "edit") return workstation(mode, QString::fromLocal8Bit(argv[2]));
    db::Table t;
    t.setTableName(QString::fromLocal8Bit(argv[2]) + "/counter.dbf");
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
                        usleep(100);
                    }
                }
                t.setFieldValue("N", t.fieldValue("N").toInt() + 1);
                t.post();
            }
            return 0;
        }
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
