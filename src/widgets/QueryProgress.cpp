#include "widgets/QueryProgress.h"

#include "sql/SqlRunner.h"

#include <QApplication>
#include <QPointer>
#include <QProgressDialog>

namespace ui {

namespace {

constexpr qint64 kShowAfterMs = 300;
constexpr qint64 kPumpEveryMs = 30;

struct Watch {
    QPointer<QProgressDialog> dialog;
    qint64 lastPump = 0;
};

Watch& watch() {
    static Watch w;
    return w;
}

void finish() {
    Watch& w = watch();
    delete w.dialog.data();
    w.lastPump = 0;
}

bool progress(qint64 elapsedMs) {
    Watch& w = watch();
    if (elapsedMs < 0) {
        finish();
        return true;
    }
    if (elapsedMs < kShowAfterMs) return true;
    if (!w.dialog) {
        QWidget* parent = QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                            : QApplication::activeWindow();
        auto* d = new QProgressDialog(QStringLiteral("Выполняется запрос…"), QStringLiteral("Отмена"), 0, 0,
                                      parent);
        d->setObjectName(QStringLiteral("QueryProgress"));
        d->setWindowTitle(QStringLiteral("Запрос"));
        d->setWindowModality(Qt::ApplicationModal);
        d->setMinimumDuration(0);
        d->setAutoClose(false);
        d->setAutoReset(false);
        d->show();
        w.dialog = d;
        w.lastPump = -kPumpEveryMs;
    }
    if (elapsedMs - w.lastPump >= kPumpEveryMs) {
        w.lastPump = elapsedMs;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return w.dialog && !w.dialog->wasCanceled();
}

} // namespace

void installQueryProgress() {
    db::sql::setProgressHook(progress);
}

} // namespace ui
