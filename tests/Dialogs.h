#pragma once
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

// Runs step on the next dialog of type T to come up, also over a modal form of the program
// (whenModal sees only the forms then); fails the test after five seconds.
template <typename T> void whenDialog(std::function<void(T*)> step) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, step] {
        auto* d = qobject_cast<T*>(QApplication::activeModalWidget());
        const bool late = clock->elapsed() > 5000;
        if ((d && d->isVisible()) || late) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            if (d) {
                step(d);
            } else {
                ADD_FAILURE() << "no " << T::staticMetaObject.className() << " opened";
            }
        }
    });
    timer->start();
}
