#include "widgets/Messages.h"

#include <QApplication>
#include <QMessageBox>

namespace ui {

namespace {

MessageHandler& handler() {
    static MessageHandler h;
    return h;
}

bool showBox(MessageKind kind, const QString& text) {
    QWidget* parent =
        QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
    const QString title = QApplication::applicationDisplayName();
    switch (kind) {
    case MessageKind::Error:
        QMessageBox::critical(parent, title, text);
        return true;
    case MessageKind::Information:
        QMessageBox::information(parent, title, text);
        return true;
    case MessageKind::Confirmation:
        return QMessageBox::question(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                     QMessageBox::Cancel) == QMessageBox::Ok;
    }
    return false;
}

bool deliver(MessageKind kind, const QString& text) {
    if (handler()) return handler()(kind, text);
    return showBox(kind, text);
}

} // namespace

MessageHandler SetMessageHandler(MessageHandler h) {
    MessageHandler old = std::move(handler());
    handler() = std::move(h);
    return old;
}

void ShowError(const QString& text) {
    deliver(MessageKind::Error, text);
}
void ShowMessage(const QString& text) {
    deliver(MessageKind::Information, text);
}
bool Confirm(const QString& text) {
    return deliver(MessageKind::Confirmation, text);
}

} // namespace ui
