// Appends answer rows, score rows and memo texts to a database as fast as it can, printing
// "TABLE COUNT" after every post returned, until it is killed.
#include "dataset/Table.h"

#include <QCoreApplication>
#include <QDate>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    QString dir = QString::fromLocal8Bit(argv[1]);
    auto open = [&](const char* file) {
        auto* t = new db::Table;
        t->setTableName(dir + "/" + file);
        t->open();
        return t;
    };
    db::Table* rezult = open("bd_rezult.dbf");
    db::Table* rez = open("bd_rez.dbf");
    db::Table* analiz = open("bd_analiz.dbf");
    QString text =
        QStringLiteral("Интерпретация уровня, достаточно длинная, чтобы занять не один блок. ").repeated(12);
    for (int i = 0;; ++i) {
        rezult->append();
        rezult->setFields({1, 1, QDate(2026, 12, 8), 1, i, i % 4});
        rezult->post();
        std::printf("bd_rezult %d\n", i + 1);
        if (i % 3 == 0) {
            rez->append();
            rez->setFields({1, 1, QDate(2026, 12, 8), 1, i, double(i) / 2});
            rez->post();
            std::printf("bd_rez %d\n", i / 3 + 1);
            analiz->append();
            analiz->setFields(
                {1, i, QStringLiteral("Уровень %1").arg(i), 0.0, double(i), text + QString::number(i)});
            analiz->post();
            std::printf("bd_analiz %d\n", i / 3 + 1);
        }
        std::fflush(stdout);
    }
}
