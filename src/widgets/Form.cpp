#include "widgets/Form.h"

#include "widgets/AccessibleNames.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QWindow>

#include "Errors.h"
#include "FaultText.h"
#include "widgets/Handler.h"
#include "widgets/Help.h"
#include "widgets/Messages.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

namespace ui {

namespace {
QList<Form*>& stack() {
    static QList<Form*> s;
    return s;
}
} // namespace

// Marks a handler of a form as running; a pending Close() waits for the outermost one.
class HandlerScope {
public:
    explicit HandlerScope(Form* f);
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

private:
    QPointer<Form> form_;
};

Form* formOf(const QObject* obj) {
    for (const QObject* o = obj; o; o = o->parent())
        if (auto* f = qobject_cast<const Form*>(o)) return const_cast<Form*>(f);
    return nullptr;
}

bool run(const QObject* context, const std::function<void()>& fn) {
    HandlerScope scope(formOf(context));
    try {
        fn();
        return true;
    } catch (...) {
        reportCurrentException();
    }
    return false;
}

void reportCurrentException() {
    try {
        throw;
    } catch (const Abort&) {
    } catch (const db::Cancelled&) {
    } catch (const std::exception& e) {
        qWarning("%s", e.what()); // the engine's own text, for whoever reads the log
        ShowError(db::userText(e));
    } catch (...) {
        ShowError(QStringLiteral("Внутренняя ошибка программы"));
    }
}

HandlerScope::HandlerScope(Form* f) : form_(f) {
    if (form_) ++form_->handlerDepth_;
}

HandlerScope::~HandlerScope() {
    if (!form_) return;
    if (--form_->handlerDepth_ == 0) form_->closeNowIfDue();
}

Form::Form(QWidget* parent) : QWidget(parent, Qt::Window) {}

Form::~Form() {
    stack().removeAll(this);
}

const QList<Form*>& Form::modalStack() {
    return stack();
}

bool Form::isTopModal() const {
    return !stack().isEmpty() && stack().last() == this;
}

int Form::ShowModal() {
    if (isVisible() || loop_)
        throw db::InvalidOperation(QStringLiteral("Cannot make a visible window modal"));
    modalResult_ = mrNone;
    closePending_ = false;
    setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    loop_ = &loop;
    stack().append(this);
    show();
    activate();
    if (isVisible()) loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    stack().removeAll(this);
    setWindowModality(Qt::NonModal);
    // Windows shown from this one stay open; they belong to the form below now, not to a hidden one.
    if (QWindow* mine = windowHandle())
        for (QWindow* w : QGuiApplication::topLevelWindows())
            if (w->transientParent() == mine)
                w->setTransientParent(stack().isEmpty() ? nullptr : stack().last()->windowHandle());
    const int result = modalResult_;
    // The form below gets its activation again, and a close requested meanwhile happens now.
    if (!stack().isEmpty()) {
        Form* below = stack().last();
        below->activate();
        below->closeNowIfDue();
    }
    return result;
}

void Form::setDefaultButton(QAbstractButton* b) {
    // Drawn with the frame that tells the user which button Enter presses.
    if (auto* old = qobject_cast<QPushButton*>(default_.data())) old->setDefault(false);
    default_ = b;
    if (auto* p = qobject_cast<QPushButton*>(b)) p->setDefault(true);
}

void Form::Show() {
    // A window shown from a modal one takes input beside it, as the user expects of a modeless
    // window; Qt would block it like every window outside the modal one.
    Form* over = stack().isEmpty() ? nullptr : stack().last();
    if (over && over != this) {
        winId(); // the native window, to be tied to the modal one
        if (windowHandle()) windowHandle()->setTransientParent(over->windowHandle());
    } else if (!isVisible() && windowHandle()) {
        windowHandle()->setTransientParent(nullptr);
    }
    if (!isVisible()) show();
    raise();
    activateWindow();
    activate();
}

void Form::activate() {
    run(this, [this] { FormActivate(); });
    emit activated();
}

void Form::Close() {
    if (isModal() && modalResult_ == mrNone) modalResult_ = mrCancel;
    closePending_ = true;
    closeNowIfDue();
}

void Form::setModalResult(int result) {
    modalResult_ = result;
    if (!isModal()) return;
    // A modal form stays open while its result is none, whatever was requested before.
    closePending_ = result != mrNone;
    closeNowIfDue();
}

void Form::closeNowIfDue() {
    if (!closePending_ || handlerDepth_ > 0 || closing_) return;
    if (isModal() && !isTopModal()) return; // waits until the modal forms over it have closed
    closePending_ = false;
    doClose();
}

bool Form::doClose() {
    if (!isVisible()) return true;
    CloseAction action = CloseAction::Hide;
    closing_ = true;
    const bool ok = run(this, [&] { FormClose(action); });
    closing_ = false;
    if (!ok || action == CloseAction::None) {
        if (isModal()) modalResult_ = mrNone;
        return false;
    }
    hide();
    if (loop_) loop_->exit(0);
    emit closed();
    return true;
}

void Form::closeEvent(QCloseEvent* e) {
    // Our own closing hides the form; the close box and QWidget::close() come here.
    e->ignore();
    if (closing_) return;
    Close();
}

void Form::setButtonModalResult(QAbstractButton* b, int result) {
    b->setProperty("modalResult", result);
    // A button with handlers gets its result from them (see on()); one without, here.
    connect(b, &QAbstractButton::clicked, this, [this, b] {
        if (b->property("handlerCount").toInt() == 0) setModalResult(b->property("modalResult").toInt());
    });
}

void countHandler(QAbstractButton* button) {
    button->setProperty("handlerCount", button->property("handlerCount").toInt() + 1);
}

void applyButtonResult(QAbstractButton* button) {
    const QVariant r = button->property("modalResult");
    if (!r.isValid()) return;
    if (Form* f = formOf(button)) f->setModalResult(r.toInt());
}

void Form::setClientSize(int w, int h) {
    resize(w, h);
}

void Form::setHelpContext(int context) {
    ui::setHelpContext(this, context);
}

bool Form::event(QEvent* e) {
    // Polished once, before it is first shown (or measured): every control built by then gets its name.
    if (e->type() == QEvent::Polish) nameControls(this);
    return QWidget::event(e);
}

void Form::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    nameControls(this); // controls made after the window was polished
    if (centered_ && !placed_) {
        placed_ = true;
        if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
            QRect r = frameGeometry();
            r.moveCenter(s->availableGeometry().center());
            move(r.topLeft());
        }
    }
}

static bool usable(QAbstractButton* b) {
    return b && b->isVisible() && b->isEnabled();
}

void Form::keyPressEvent(QKeyEvent* e) {
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        if (e->modifiers() & ~Qt::KeypadModifier) break;
        // A focused push button takes Enter; a radio button or check box passes it on to the
        // default button, as Space is what toggles them.
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QAbstractButton* b = usable(focused) ? focused : (usable(default_) ? default_.data() : nullptr);
        if (b) {
            b->click();
            return;
        }
        break;
    }
    case Qt::Key_Escape:
        if (e->modifiers() == Qt::NoModifier && usable(cancel_)) {
            cancel_->click();
            return;
        }
        break;
    case Qt::Key_F4:
        // The platform's close keystroke, also for windows without a close box; without a
        // window manager (and in tests) nobody else would take it.
        if ((e->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
            Close();
            return;
        }
        break;
    case Qt::Key_F1: {
        // The context of the focused control, or of its nearest enclosing control with one.
        QWidget* w = focusWidget() ? focusWidget() : this;
        while (w && helpContext(w) == 0 && w != this)
            w = w->parentWidget();
        if (w && helpContext(w) != 0) {
            const int ctx = helpContext(w);
            if (popupHelp_)
                help::showPopup(ctx, w->mapToGlobal(QPoint(0, 0)));
            else
                help::showContext(ctx);
        }
        return;
    }
    default:
        break;
    }
    QWidget::keyPressEvent(e);
}

void setHelpContext(QWidget* w, int context) {
    w->setProperty("helpContext", context);
}

int helpContext(const QWidget* w) {
    return w->property("helpContext").toInt();
}

} // namespace ui
