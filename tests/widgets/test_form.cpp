// The form base: modal loop, activation, deferred close, buttons, the one error path.
#include "UiTest.h"

#include "Errors.h"
#include "widgets/Form.h"
#include "widgets/Handler.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

class Probe : public ui::Form {
public:
    explicit Probe(const QString& name) {
        setObjectName(name);
        ok = new QPushButton(QStringLiteral("OK"), this);
        ok->setObjectName(QStringLiteral("ok"));
        cancel = new QPushButton(QStringLiteral("Cancel"), this);
        cancel->setObjectName(QStringLiteral("cancel"));
        cancel->move(0, 40);
        edit = new QLineEdit(this);
        edit->move(0, 80);
        setDefaultButton(ok);
        setCancelButton(cancel);
        ui::on(ok, &QPushButton::clicked, this, [this] {
            log << QStringLiteral("ok");
            if (onOk) onOk();
        });
        setButtonModalResult(ok, ui::mrOk);
        ui::on(cancel, &QPushButton::clicked, this, [this] { log << QStringLiteral("cancel"); });
        setButtonModalResult(cancel, ui::mrCancel);
    }
    QStringList log;
    int activations = 0;
    bool refuseClose = false;
    std::function<void()> onOk;
    QPushButton *ok, *cancel;
    QLineEdit* edit;

protected:
    void FormActivate() override {
        ++activations;
        log << QStringLiteral("activate");
    }
    void FormClose(ui::CloseAction& a) override {
        log << QStringLiteral("close");
        if (refuseClose) a = ui::CloseAction::None;
    }
};

} // namespace

TEST(Form, ModalResultsAndTheirButtons) {
    Probe f(QStringLiteral("F"));
    whenModal([&](QWidget*) { clickButton(&f, "ok"); });
    EXPECT_EQ(f.ShowModal(), ui::mrOk);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(f.log, (QStringList{"activate", "ok", "close"}));

    // Enter clicks the default button, Esc the cancel button.
    f.log.clear();
    whenModal([&](QWidget*) { QTest::keyClick(&f, Qt::Key_Escape); });
    EXPECT_EQ(f.ShowModal(), ui::mrCancel);
    EXPECT_EQ(f.log, (QStringList{"activate", "cancel", "close"}));
    f.log.clear();
    whenModal([&](QWidget*) { QTest::keyClick(&f, Qt::Key_Return); });
    EXPECT_EQ(f.ShowModal(), ui::mrOk);

    // A hidden or disabled default button does nothing on Enter; the close box runs no button.
    f.log.clear();
    whenModal([&](QWidget*) {
        f.edit->setFocus();
        f.ok->setEnabled(false);
        QTest::keyClick(f.edit, Qt::Key_Return);
        f.ok->setEnabled(true);
        f.ok->hide();
        QTest::keyClick(f.edit, Qt::Key_Enter);
        EXPECT_TRUE(f.isVisible());
        f.close();
    });
    EXPECT_EQ(f.ShowModal(), ui::mrCancel);
    EXPECT_EQ(f.log, (QStringList{"activate", "close"}));
}

TEST(Form, CloseKeystrokeClosesAWindowWithoutCloseBox) {
    Probe f(QStringLiteral("F"));
    f.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    // From a control inside, running no button's handler; plain F4 does nothing.
    whenModal([&](QWidget*) {
        f.edit->setFocus();
        QTest::keyClick(f.edit, Qt::Key_F4);
        EXPECT_TRUE(f.isVisible());
        QTest::keyClick(f.edit, Qt::Key_F4, Qt::AltModifier);
    });
    EXPECT_EQ(f.ShowModal(), ui::mrCancel);
    EXPECT_EQ(f.log, (QStringList{"activate", "close"}));
}

namespace {
// Whether Qt blocks a window's input because of a modal window.
struct BlockWatch : QObject {
    bool blocked = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::WindowBlocked) blocked = true;
        if (e->type() == QEvent::WindowUnblocked) blocked = false;
        return false;
    }
};
} // namespace

TEST(Form, ModelessWindowShownFromAModalOneTakesInput) {
    Probe modal(QStringLiteral("M")), fresh(QStringLiteral("A")), open(QStringLiteral("B"));
    BlockWatch freshWatch, openWatch;
    fresh.installEventFilter(&freshWatch);
    open.installEventFilter(&openWatch);
    open.Show(); // already open beside the main window
    whenModal([&](QWidget*) {
        EXPECT_TRUE(openWatch.blocked);
        fresh.Show();
        open.Show();
        settle();
        EXPECT_FALSE(freshWatch.blocked);
        EXPECT_FALSE(openWatch.blocked);
        modal.Close();
    });
    modal.ShowModal();
    EXPECT_TRUE(fresh.isVisible());
    EXPECT_EQ(fresh.windowHandle()->transientParent(), nullptr) << "tied to the closed modal window";
    // Another modal window, not the one it was shown from, blocks it as usual.
    Probe other(QStringLiteral("O"));
    whenModal([&](QWidget*) {
        settle();
        EXPECT_TRUE(freshWatch.blocked);
        other.Close();
    });
    other.ShowModal();
    fresh.Close();
    open.Close();
}

TEST(Form, VisibleWindowRefusesModal) {
    Probe f(QStringLiteral("F"));
    f.Show();
    try {
        f.ShowModal();
        FAIL() << "ShowModal on a visible window";
    } catch (const db::InvalidOperation& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot make a visible window modal"));
    }
    EXPECT_TRUE(f.isVisible());
    f.Close();
    EXPECT_FALSE(f.isVisible());
}

TEST(Form, ActivateAgainWhenModalOverItCloses) {
    Probe outer(QStringLiteral("outer")), inner(QStringLiteral("inner"));
    outer.onOk = [&] {
        whenModal([&](QWidget*) { clickButton(&inner, "cancel"); });
        inner.ShowModal();
        outer.setModalResult(ui::mrNone); // stay open after this handler
    };
    whenModal([&](QWidget*) {
        clickButton(&outer, "ok");
        EXPECT_TRUE(outer.isVisible());
        EXPECT_EQ(outer.activations, 2);
        outer.Close();
    });
    outer.ShowModal();
    EXPECT_EQ(outer.activations, 2);
    EXPECT_EQ(inner.activations, 1);
}

TEST(Form, CloseInHandlerWaitsForIt) {
    // The handler closes its form, then opens another modal form in front of it: the first
    // stays up behind the second and closes only when the handler returns.
    Probe dlg(QStringLiteral("dlg")), result(QStringLiteral("result"));
    bool dlgVisibleBehind = false;
    dlg.onOk = [&] {
        dlg.Close();
        whenModal([&](QWidget* top) {
            EXPECT_EQ(top, &result);
            dlgVisibleBehind = dlg.isVisible();
            clickButton(&result, "ok");
        });
        result.ShowModal();
        EXPECT_TRUE(dlg.isVisible());
    };
    whenModal([&](QWidget*) { clickButton(&dlg, "ok"); });
    dlg.ShowModal();
    EXPECT_TRUE(dlgVisibleBehind);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(result.isVisible());
    EXPECT_TRUE(ui::Form::modalStack().isEmpty());
}

TEST(Form, CloseOfAFormBelowWaitsUntilTheOneAboveCloses) {
    Probe lower(QStringLiteral("lower")), upper(QStringLiteral("upper"));
    lower.onOk = [&] {
        lower.setModalResult(ui::mrNone);
        whenModal([&](QWidget*) {
            lower.Close(); // from a handler of the form above
            EXPECT_TRUE(lower.isVisible());
            clickButton(&upper, "cancel");
        });
        upper.ShowModal();
    };
    whenModal([&](QWidget*) { clickButton(&lower, "ok"); });
    EXPECT_EQ(lower.ShowModal(), ui::mrCancel);
    EXPECT_FALSE(lower.isVisible());
}

TEST(Form, FormCloseMayKeepTheFormOpen) {
    Probe f(QStringLiteral("F"));
    f.refuseClose = true;
    whenModal([&](QWidget*) {
        f.close();
        EXPECT_TRUE(f.isVisible());
        f.refuseClose = false;
        f.close();
    });
    f.ShowModal();
    EXPECT_EQ(f.log.count(QStringLiteral("close")), 2);
}

TEST(Form, HandlerErrorsAreReportedAndStopTheStep) {
    MessageRecorder rec;
    Probe f(QStringLiteral("F"));
    bool after = false;
    f.onOk = [&] {
        throw db::ConversionError(QStringLiteral("Invalid variant type conversion"));
        after = true;
    };
    whenModal([&](QWidget*) {
        clickButton(&f, "ok");
        // A failed handler still lets the button's result close the form, as the classic toolkit does.
    });
    f.ShowModal();
    EXPECT_FALSE(after);
    EXPECT_EQ(rec.texts(), QStringList{QStringLiteral("Invalid variant type conversion")});

    // Errors outside any form are reported the same way.
    rec.clear();
    EXPECT_FALSE(ui::run(nullptr, [] { throw std::runtime_error("boom"); }));
    ASSERT_EQ(rec.texts().size(), 1);
    EXPECT_TRUE(rec.texts().front().contains(QStringLiteral("Внутренняя ошибка")))
        << rec.texts().front().toStdString();
}
