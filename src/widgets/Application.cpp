#include "widgets/Application.h"

#include "widgets/Handler.h"

#include <exception>
#include <utility>

namespace ui {

namespace {

Application::EscapeHandler& escapeHandler() {
    static Application::EscapeHandler handler;
    return handler;
}

// Inside a catch block: the message of the error being handled.
QString currentMessage() {
    try {
        throw;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown exception");
    }
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (const EscapeHandler& handler = escapeHandler())
            handler(currentMessage());
        else
            reportCurrentException();
    }
    return false;
}

Application::EscapeHandler Application::setEscapeHandler(EscapeHandler handler) {
    return std::exchange(escapeHandler(), std::move(handler));
}

} // namespace ui
