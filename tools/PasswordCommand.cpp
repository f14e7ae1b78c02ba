// morv-db password: sets the office's own password of a database folder, e.g. when the one
// chosen in the program is forgotten; whoever may write the folder may do it.
#include "PasswordCommand.h"

#include "Errors.h"
#include "data/OfficePassword.h"

#include <QDir>
#include <QTextStream>
#include <cstdio>

int passwordCommand(const QStringList& args) {
    if (args.size() != 1) {
        std::fputs("morv-db: usage: morv-db password DIR (the new password on standard input)\n", stderr);
        return 2;
    }
    const QString dir = args[0];
    if (!QDir(dir).exists()) {
        std::fprintf(stderr, "morv-db: %s is not a directory\n", dir.toLocal8Bit().constData());
        return 1;
    }
    QTextStream in(stdin);
    const QString password = in.readLine(); // the whole line: blanks count, as in the dialog
    try {
        office::setPassword(dir, password);
    } catch (const db::EngineError& e) {
        std::fprintf(stderr, "morv-db: %s\n", e.what());
        return 1;
    }
    std::printf("The tables password of %s is changed\n", QDir(dir).absolutePath().toLocal8Bit().constData());
    return 0;
}
