// A second program instance for the tests that race real processes on one table:
//   increment DIR N  adds 1 to the first record's N field N times through edit and post,
//                    trying again while another process holds the record
//   hold DIR         edits the first record, says "locked", waits for a line on stdin, posts
//                    NAME "held" and says "posted"
//   try DIR          edits the first record and says "ok NAME" or the refusal
#include "Errors.h"
#include "dataset/Table.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) return 2;
    const std::string mode = argv[1];
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
