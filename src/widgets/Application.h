#pragma once
#include <QApplication>

namespace ui {

// The program's application object. Handlers report their own errors (Handler.h); this is the
// last line behind them: an error that escapes any event handler is reported the same way
// instead of crossing the event loop.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace ui
