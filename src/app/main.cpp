#include "app/Main.h"
#include "data/DM.h"
#include "Errors.h"
#include "dataset/Aliases.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Психологическое тестирование"));
    try {
        FormMain = new TFormMain;
        BD = new TBD;
    } catch (const db::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        if (qEnvironmentVariableIsEmpty("MORV_NO_UI")) QMessageBox::critical(nullptr, QApplication::applicationName(), e.message());
        return 1;
    }
    // Until the windows exist, report what was opened.
    std::printf("База данных: %s\n", qPrintable(db::Aliases::resolve(QStringLiteral("morv"))));
    for (db::Table* t : BD->tablesInOrder())
        std::printf("  %-16s %-14s %6d записей\n", qPrintable(t->objectName()), qPrintable(t->tableName()), t->recordCount());
    std::fflush(stdout);
    int rc = 0;
    if (qEnvironmentVariableIsEmpty("MORV_NO_UI")) {
        FormMain->resize(640, 480);
        FormMain->show();
        rc = app.exec();
    }
    delete BD;
    delete FormMain;
    return rc;
}
