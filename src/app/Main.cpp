#include "Main.h"

TFormMain* FormMain = nullptr;

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("Психологическое тестирование"));
}
