#include "testing/TesteeMode.h"

#include "Errors.h"
#include "maintenance/Password.h"
#include "testing/Test.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/Panel.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindowStateChangeEvent>

namespace testing {

ScreenLock::ScreenLock() {
    qApp->installEventFilter(this);
}

ScreenLock::~ScreenLock() {
    qApp->removeEventFilter(this);
}

void ScreenLock::hold(QWidget* w) {
    held_.append(w);
}

void ScreenLock::let(QWidget* w) {
    held_.removeAll(w);
}

bool ScreenLock::held(const QObject* o) const {
    for (const auto& w : held_)
        if (w && w == o) return true;
    return false;
}

bool ScreenLock::eventFilter(QObject* watched, QEvent* e) {
    switch (e->type()) {
    case QEvent::Close:
        // The close box, Alt+F4 through the window manager, a close from the window menu.
        if (held(watched)) {
            e->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride: {
        auto* w = qobject_cast<QWidget*>(watched);
        if (!w || !held(w->window())) break;
        const auto* k = static_cast<QKeyEvent*>(e);
        const bool alt = k->modifiers() & Qt::AltModifier;
        // Esc would cancel, F1 open help in a window of its own; Alt+F4 and Alt+Space reach
        // the window's own close and menu where no window manager takes them.
        if (k->key() == Qt::Key_Escape || k->key() == Qt::Key_F1 || (alt && k->key() == Qt::Key_F4) ||
            (alt && k->key() == Qt::Key_Space)) {
            e->accept();
            return true;
        }
        break;
    }
    case QEvent::Show: // the form's own placing on show must not leave it a window
    case QEvent::WindowStateChange: {
        auto* w = qobject_cast<QWidget*>(watched);
        if (w && held(w) && !(w->windowState() & Qt::WindowFullScreen))
            QTimer::singleShot(0, w, [w] { w->setWindowState(Qt::WindowFullScreen); });
        break;
    }
    default:
        break;
    }
    return false;
}

namespace {

constexpr Qt::WindowFlags kLocked = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;

// The run in testee mode going on now, for the handlers of its buttons.
struct Session {
    ScreenLock lock;
    TesteeEnd end = TesteeEnd::Password;
    void leave(TesteeEnd how) {
        end = how;
        lock.let(FormTest);
        FormTest->Close();
    }
};
Session* current = nullptr;

QPushButton* testeeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setStatusTip(hint);
    b->setFixedHeight(29);
    b->hide();
    return b;
}

// The testing window's buttons for this mode, made once and shown only in it.
struct ModeButtons {
    QPushButton *finish, *psychologist;
};

ModeButtons modeButtons() {
    auto* finish = FormTest->findChild<QPushButton*>(QStringLiteral("ButtonFinish"));
    if (finish) return {finish, FormTest->findChild<QPushButton*>(QStringLiteral("ButtonPsychologist"))};
    finish = testeeButton(FormTest->Panel1, "ButtonFinish", QStringLiteral("Завершить тестирование"),
                          QStringLiteral("Закончить тестирование, когда даны все ответы"));
    auto* psychologist = testeeButton(FormTest->Panel1, "ButtonPsychologist", QStringLiteral("Психолог"),
                                      QStringLiteral("Выход из режима тестируемого по паролю психолога"));
    if (auto* row = qobject_cast<QBoxLayout*>(FormTest->Panel1->layout())) {
        row->addWidget(finish);
        row->addWidget(psychologist);
    }
    ui::on(finish, &QPushButton::clicked, FormTest, [] {
        if (current &&
            ui::Confirm(QStringLiteral("Завершить тестирование? Изменить ответы после этого будет нельзя.")))
            current->leave(TesteeEnd::Finished);
    });
    ui::on(psychologist, &QPushButton::clicked, FormTest, [] {
        TFormTesteePassword ask(FormTest);
        if (ask.ShowModal() == ui::mrOk && current) current->leave(TesteeEnd::Password);
    });
    return {finish, psychologist};
}

// Full screen and frameless while it lives; the window as it was afterwards.
class TestingWindowInMode {
public:
    explicit TestingWindowInMode(ModeButtons b) : b_(b), flags_(FormTest->windowFlags()) {
        FormTest->setWindowFlags(kLocked);
        FormTest->setWindowState(Qt::WindowFullScreen);
        FormTest->ButtonClose->hide();
        b_.finish->show();
        b_.psychologist->show();
    }
    ~TestingWindowInMode() {
        b_.finish->hide();
        b_.psychologist->hide();
        FormTest->ButtonClose->show();
        FormTest->setWindowState(Qt::WindowNoState);
        FormTest->setWindowFlags(flags_);
    }
    TestingWindowInMode(const TestingWindowInMode&) = delete;
    TestingWindowInMode& operator=(const TestingWindowInMode&) = delete;

private:
    ModeButtons b_;
    Qt::WindowFlags flags_;
};

} // namespace

TesteeEnd runTesteeMode() {
    if (current) throw db::InvalidOperation(QStringLiteral("Режим тестируемого уже включён"));
    const ModeButtons buttons = modeButtons();
    Session session;
    current = &session;
    struct Forget {
        ~Forget() { current = nullptr; }
    } forget;
    {
        TestingWindowInMode mode(buttons);
        session.lock.hold(FormTest);
        FormTest->ShowModal();
    }
    if (session.end == TesteeEnd::Finished) {
        TFormThanks thanks;
        session.lock.hold(&thanks);
        thanks.ShowModal();
    }
    return session.end;
}

} // namespace testing

TFormThanks::TFormThanks(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormThanks"));
    setWindowTitle(QStringLiteral("Спасибо!"));
    setWindowFlags(testing::kLocked);
    setWindowState(Qt::WindowFullScreen);
    auto* lay = new QVBoxLayout(this);
    lay->addStretch(1);
    LabelThanks =
        new QLabel(QStringLiteral("Спасибо! Тестирование завершено.\nПожалуйста, позовите психолога."), this);
    LabelThanks->setObjectName(QStringLiteral("LabelThanks"));
    LabelThanks->setAlignment(Qt::AlignCenter);
    ui::style(LabelThanks, ui::font(QStringLiteral("Times New Roman Cyr"), 32), Qt::black);
    lay->addWidget(LabelThanks);
    lay->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(new QLabel(QStringLiteral("Пароль психолога :"), this));
    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setEchoMode(QLineEdit::Password);
    Password->setFixedWidth(200);
    row->addWidget(Password);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    row->addWidget(OKBtn);
    lay->addLayout(row);
    setDefaultButton(OKBtn);
    ui::on(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

void TFormThanks::OKBtnClick() {
    if (CheckPsychologistPassword(Password->text(), OKBtn)) {
        if (testing::current) testing::current->lock.let(this);
        setModalResult(ui::mrOk);
    }
    Password->clear();
}

TFormTesteePassword::TFormTesteePassword(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormTesteePassword"));
    setWindowTitle(QStringLiteral("Пароль психолога"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setClientSize(287, 100);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 14));
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(new QLabel(QStringLiteral("Пароль психолога :"), this));
    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setEchoMode(QLineEdit::Password);
    lay->addWidget(Password);
    auto* row = new QHBoxLayout;
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    row->addStretch(1);
    row->addWidget(OKBtn);
    row->addWidget(CancelBtn);
    lay->addLayout(row);
    setDefaultButton(OKBtn);
    setCancelButton(CancelBtn);
    setButtonModalResult(CancelBtn, ui::mrCancel);
    ui::on(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

void TFormTesteePassword::OKBtnClick() {
    if (CheckPsychologistPassword(Password->text(), OKBtn)) setModalResult(ui::mrOk);
    Password->clear();
}
