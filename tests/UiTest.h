#pragma once
#include "widgets/Messages.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

// Records every message the program shows and answers its confirmations, for one test.
class MessageRecorder {
public:
    explicit MessageRecorder(bool answer = true);
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    struct Entry {
        ui::MessageKind kind;
        QString text;
    };
    std::vector<Entry> entries;
    bool answer; // given to confirmations
    QStringList texts() const;
    void clear() { entries.clear(); }

private:
    ui::MessageHandler previous_;
};

// Runs step on the modal window that opens next (polled every 10 ms). When none opens within
// timeoutMs the test fails and the modal windows are closed, so a test never hangs.
void whenModal(std::function<void(QWidget* modal)> step, int timeoutMs = 5000);

void ADD_FAILURE_NAMED(const char* name);

// A named child control; fails the test when it is missing.
template <typename T> T* child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(QString::fromLatin1(name));
    if (!w) {
        ADD_FAILURE_NAMED(name);
    }
    return w;
}

// Clicks a named button of a window.
void clickButton(QWidget* window, const char* name);
// Types text into a widget one key at a time (QTest::keyClicks aborts on Cyrillic).
void typeText(QWidget* w, const QString& text);
// Delivers pending events.
void settle();
