// Every control a testee or psychologist can reach with the keyboard has a name a screen reader
// can say, in every window, as Qt's accessibility (AT-SPI, UI Automation) reports it.
#include "AppFixture.h"

#include "app/FirstStart.h"
#include "app/Fist.h"
#include "app/Main.h"
#include "app/ServerLogin.h"
#include "maintenance/ChangePassword.h"
#include "testing/TesteeMode.h"
#include "widgets/Form.h"

#include <QAccessible>
#include <QApplication>
#include <QStringList>
#include <memory>

namespace {

bool operable(QAccessible::Role role) {
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::Slider:
    case QAccessible::PageTabList:
        return true;
    default:
        return false;
    }
}

// "Window/control (class)" for each focusable control of window without a name.
QStringList unnamed(QWidget* window) {
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->focusPolicy() == Qt::NoFocus) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        if (!a || !operable(a->role())) continue;
        if (a->text(QAccessible::Name).trimmed().isEmpty())
            out << QStringLiteral("%1/%2 (%3)")
                       .arg(window->objectName(), w->objectName(),
                            QString::fromLatin1(w->metaObject()->className()));
    }
    return out;
}

} // namespace

TEST_F(AppTest, EveryFocusableControlOfEveryWindowHasAName) {
    // As after a run: every menu open, so that every window's controls are as a user meets them.
    FormMain->InstitutionWindowActivated();
    FormMain->TesteeWindowActivated();
    FormMain->TestChosen();
    FormMain->PasswordConfirmed();
    std::vector<std::unique_ptr<QWidget>> more;
    more.emplace_back(std::make_unique<TFistForm>());
    more.emplace_back(std::make_unique<TFormFirstStart>());
    more.emplace_back(
        std::make_unique<TFormServerPassword>(QStringLiteral("postgresql://server/db"), QString()));
    more.emplace_back(std::make_unique<TChangePasswordDlg>());
    more.emplace_back(std::make_unique<TFormThanks>());
    more.emplace_back(std::make_unique<TFormTesteePassword>());
    // The windows made when needed are shown as they are then (a window that measured itself
    // while being built was polished before all its controls were there).
    for (auto& w : more) {
        w->show();
        settle();
    }
    int windows = 0;
    QStringList missing;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!qobject_cast<ui::Form*>(top)) continue;
        ++windows;
        top->ensurePolished(); // as before it is first shown
        missing << unnamed(top);
    }
    for (auto& w : more)
        w->hide();
    EXPECT_GE(windows, 30);
    EXPECT_TRUE(missing.isEmpty()) << missing.size() << " controls without a name:\n"
                                   << missing.join(QLatin1Char('\n')).toStdString();
}
