#pragma once
#include <QString>
#include <functional>

// Every message box of the program goes through here, so tests can answer them.
namespace ui {

enum class MessageKind { Error, Information, Confirmation };

// Receives each message; the answer counts for confirmations only (true = OK).
using MessageHandler = std::function<bool(MessageKind kind, const QString& text)>;

// Installs a handler and returns the previous one; an empty handler restores the message boxes.
MessageHandler SetMessageHandler(MessageHandler handler);

void ShowError(const QString& text);
void ShowMessage(const QString& text);
// OK / Cancel question; true when the user answers OK.
bool Confirm(const QString& text);

} // namespace ui
