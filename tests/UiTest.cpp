#include "UiTest.h"

#include "widgets/Form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

MessageRecorder::MessageRecorder(bool a) : answer(a) {
    previous_ = ui::SetMessageHandler([this](ui::MessageKind kind, const QString& text) {
        entries.push_back({kind, text});
        return answer;
    });
}

MessageRecorder::~MessageRecorder() {
    ui::SetMessageHandler(std::move(previous_));
}

QStringList MessageRecorder::texts() const {
    QStringList out;
    for (const auto& e : entries)
        out << e.text;
    return out;
}

static QWidget* topModal() {
    const auto& s = ui::Form::modalStack();
    if (!s.isEmpty()) return s.last();
    return QApplication::activeModalWidget();
}

void whenModal(std::function<void(QWidget*)> step, int timeoutMs) {
    QPointer<QWidget> before = topModal();
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, before, step, timeoutMs] {
        QWidget* top = topModal();
        if (top && top != before && top->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            step(top);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            ADD_FAILURE() << "no modal window opened";
            for (ui::Form* f : ui::Form::modalStack())
                f->Close();
        }
    });
    timer->start();
}

void ADD_FAILURE_NAMED(const char* name) {
    ADD_FAILURE() << "no control named " << name;
}

void clickButton(QWidget* window, const char* name) {
    auto* b = window->findChild<QAbstractButton*>(QString::fromLatin1(name));
    if (!b) {
        ADD_FAILURE_NAMED(name);
        return;
    }
    b->click();
}

void typeText(QWidget* w, const QString& text) {
    for (QChar c : text)
        QTest::sendKeyEvent(QTest::KeyAction::Click, w, Qt::Key_unknown, c, Qt::NoModifier);
}

void settle() {
    // Events posted while delivering others are delivered too, as the running loop would.
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents();
    }
}
