#pragma once
#include <QApplication>
#include <QString>
#include <functional>

namespace ui {

// The program's application object. Handlers report their own errors (Handler.h); this is the
// last line behind them: an error that escapes any event handler is reported the same way
// instead of crossing the event loop.
class Application : public QApplication {
public:
    // Told the message of an error that escaped every handler, instead of reporting it. The test
    // main sets one that fails the running test, since such an escape is a missing run().
    using EscapeHandler = std::function<void(const QString& message)>;

    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Returns the previous handler; an empty one restores the report.
    static EscapeHandler setEscapeHandler(EscapeHandler handler);
};

} // namespace ui
