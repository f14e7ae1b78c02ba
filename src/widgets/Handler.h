#pragma once
#include <QAbstractButton>
#include <QObject>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

// The one error path of the windows: every event handler runs through run(), which catches the
// data layer's and the controls' errors, stops the step there and reports the message. No
// exception ever reaches the event loop.
namespace ui {

class Form;

// Stops a handler without a message: the user has already been told why.
class Abort : public std::exception {
public:
    const char* what() const noexcept override { return "aborted"; }
};

// The form a control or handler belongs to, or nullptr.
Form* formOf(const QObject* obj);

// Runs fn as a handler of the form that owns context; returns false when it failed.
bool run(const QObject* context, const std::function<void()>& fn);

// Inside a catch block: shows the error being handled, except an Abort, already told.
void reportCurrentException();

// A click of a button with a modal result sets the form's result before its handler runs, so
// the handler may take it back; the form closes after the handler.
void applyButtonResult(QAbstractButton* button);
void countHandler(QAbstractButton* button);

// Connects a signal to a handler that runs through run(). The handler takes either all the
// signal's arguments or none.
template <typename Sender, typename Signal, typename Fn>
QMetaObject::Connection on(Sender* sender, Signal signal, QObject* context, Fn fn) {
    QAbstractButton* button = nullptr;
    if constexpr (std::is_same_v<Signal, void (QAbstractButton::*)(bool)>) {
        if (signal == &QAbstractButton::clicked) button = qobject_cast<QAbstractButton*>(sender);
    }
    if (button) countHandler(button);
    return QObject::connect(sender, signal, context,
                            [context, button, fn = std::move(fn)](auto&&... args) mutable {
                                run(context, [&] {
                                    if (button) applyButtonResult(button);
                                    if constexpr (std::is_invocable_v<Fn&, decltype(args)...>)
                                        fn(std::forward<decltype(args)>(args)...);
                                    else
                                        fn();
                                });
                            });
}

} // namespace ui
