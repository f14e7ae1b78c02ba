// The last line behind the handlers: errors that reach the application's event dispatch.
#include "UiTest.h"

#include "Errors.h"
#include "widgets/Application.h"
#include "widgets/Handler.h"

#include <QObject>
#include <QTimer>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

// A slot that throws, delivered through the event loop as a queued call, bypassing ui::on().
void postThrowingSlot(QObject* context, const char* message) {
    QTimer::singleShot(0, context, [message] { throw std::runtime_error(message); });
}

// Puts back the test main's handler however the test ends.
class EscapeHandlerSwap {
public:
    explicit EscapeHandlerSwap(ui::Application::EscapeHandler h)
        : previous_(ui::Application::setEscapeHandler(std::move(h))) {}
    ~EscapeHandlerSwap() { ui::Application::setEscapeHandler(std::move(previous_)); }
    EscapeHandlerSwap(const EscapeHandlerSwap&) = delete;
    EscapeHandlerSwap& operator=(const EscapeHandlerSwap&) = delete;

private:
    ui::Application::EscapeHandler previous_;
};

} // namespace

TEST(Application, AnErrorEscapingASlotFailsTheRunningTest) {
    QObject context;
    EXPECT_NONFATAL_FAILURE(
        {
            postThrowingSlot(&context, "slot without a handler");
            settle();
        },
        "Error escaped to the event loop: slot without a handler");
}

TEST(Application, EveryEscapeIsToldOnceAndDispatchGoesOn) {
    QStringList told;
    EscapeHandlerSwap swap([&](const QString& m) { told << m; });
    QObject context;
    bool laterRan = false;
    postThrowingSlot(&context, "first");
    QTimer::singleShot(0, &context, [&] { throw ui::Abort(); });
    QTimer::singleShot(0, &context, [&] { laterRan = true; });
    settle();
    EXPECT_EQ(told, QStringList({QStringLiteral("first"), QStringLiteral("aborted")}));
    EXPECT_TRUE(laterRan);
}

TEST(Application, WithoutAHandlerTheProgramReportsTheEscapedError) {
    MessageRecorder messages;
    EscapeHandlerSwap swap(nullptr);
    QObject context;
    QTimer::singleShot(0, &context, [] { throw db::DatabaseError(QStringLiteral("Table is busy")); });
    // An Abort means the user was already told: nothing more is shown.
    QTimer::singleShot(0, &context, [] { throw ui::Abort(); });
    settle();
    ASSERT_EQ(messages.entries.size(), 1u);
    EXPECT_EQ(messages.entries[0].kind, ui::MessageKind::Error);
    // An engine text without a known fault reaches the user in Russian, never as it was thrown.
    EXPECT_TRUE(messages.entries[0].text.contains(QStringLiteral("Ошибка базы данных")))
        << messages.entries[0].text.toStdString();
    EXPECT_FALSE(messages.entries[0].text.contains(QStringLiteral("Table is busy")));
}
