#include "widgets/Application.h"

#include "widgets/Messages.h"

#include <exception>

namespace ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowError(QStringLiteral("Внутренняя ошибка программы"));
    }
    return false;
}

} // namespace ui
