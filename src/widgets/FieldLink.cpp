#include "widgets/FieldLink.h"

#include "widgets/Handler.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

namespace ui {

namespace {

// Swallows the one mouse press that moved the focus away from a refused value. Qt gives the focus
// before it delivers the press, so the press reaches this filter after the refusal.
class PressAfterRefusal : public QObject {
public:
    using QObject::QObject;
    bool armed = false;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (armed && o->isWidgetType() &&
            (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonDblClick)) {
            armed = false;
            return true;
        }
        return false;
    }
};

// The focus goes back to the control once the focus change under way is over, and the press
// that caused it, which Qt delivers right after, is swallowed.
void refuseExit(QWidget* control) {
    static QPointer<PressAfterRefusal> filter;
    if (!filter) {
        filter = new PressAfterRefusal(qApp);
        qApp->installEventFilter(filter);
    }
    filter->armed = true;
    QMetaObject::invokeMethod(
        filter,
        [f = filter, c = QPointer<QWidget>(control)] {
            if (f) f->armed = false;
            if (c && c->isVisible()) c->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
}

} // namespace

FieldLink::FieldLink(QWidget* control) : control_(control) {}

FieldLink::~FieldLink() {
    dropChange();
}

void FieldLink::setDataSource(db::DataSource* source) {
    if (source == source_) return;
    dropChange();
    source_ = source;
    connectSource();
    emit stateChanged();
    emit dataChanged();
}

void FieldLink::setDataField(const QString& name) {
    if (name == fieldName_) return;
    dropChange();
    fieldName_ = name;
    emit stateChanged();
    emit dataChanged();
}

void FieldLink::connectSource() {
    for (auto& c : links_)
        disconnect(c);
    links_.clear();
    if (!source_) return;
    links_ << connect(source_, &db::DataSource::dataSetChanged, this, [this] { sourceEvent(false); });
    links_ << connect(source_, &db::DataSource::scrolled, this, [this] { sourceEvent(false); });
    links_ << connect(source_, &db::DataSource::stateChanged, this, [this] { sourceEvent(true); });
    links_ << connect(source_, &db::DataSource::recordChanged, this, [this](db::Field* f) {
        if (relevant(f)) sourceEvent(false);
    });
    links_ << connect(source_, &QObject::destroyed, this, [this] {
        dropChange();
        emit stateChanged();
        emit dataChanged();
    });
}

db::Dataset* FieldLink::dataSet() const {
    return source_ ? source_->dataSet() : nullptr;
}

db::Field* FieldLink::field() const {
    db::Dataset* ds = dataSet();
    return ds && !fieldName_.isEmpty() ? ds->findField(fieldName_) : nullptr;
}

bool FieldLink::active() const {
    db::Dataset* ds = dataSet();
    return ds && ds->active();
}

bool FieldLink::canModify() const {
    db::Field* f = field();
    return f && !f->isLookup() && f->dataSet()->active() && f->dataSet()->canModify();
}

QString FieldLink::text() const {
    db::Field* f = field();
    if (!f || !f->dataSet()->active()) return {};
    QString s;
    try {
        s = f->asString();
    } catch (...) {
        reportReadFailure(std::current_exception());
    }
    return s;
}

void FieldLink::reportReadFailure(std::exception_ptr error) const {
    // Several controls show the same field: one unreadable value is one message in a step of
    // the event loop, not one per control.
    static QString last;
    static bool clearing = false;
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
    }
    if (!message.isEmpty() && message == last) return;
    last = message;
    run(control_, [&] { std::rethrow_exception(error); });
    // Cleared once the step that read it is over. Not before the message is shown: a message box
    // runs an event loop of its own, and the other controls of the step read after it closes.
    if (!clearing) {
        clearing = true;
        QTimer::singleShot(0, qApp, [] {
            last.clear();
            clearing = false;
        });
    }
}

// A lookup field shows a value of its key field, so a change of the key changes it too.
bool FieldLink::relevant(db::Field* f) const {
    if (!f) return true;
    db::Field* own = field();
    if (!own) return false;
    return f == own || (own->isLookup() && f->fieldName().compare(own->keyField(), Qt::CaseInsensitive) == 0);
}

void FieldLink::sourceEvent(bool stateOnly) {
    if (quiet_) return;
    // The record moved, was posted, cancelled or rewritten from elsewhere: typed text is void.
    // (post() and moves have already asked for it through the hook.)
    dropChange();
    if (stateOnly)
        emit stateChanged();
    else
        emit dataChanged();
}

void FieldLink::quietly(const std::function<void()>& fn) {
    ++quiet_;
    try {
        fn();
    } catch (...) {
        --quiet_;
        throw;
    }
    --quiet_;
}

bool FieldLink::startChange() {
    if (modified_) return true;
    db::Dataset* ds = dataSet();
    if (!canModify()) {
        emit dataChanged();
        return false;
    }
    bool ok = run(control_, [&] { quietly([&] { ds->edit(); }); });
    if (!ok) {
        emit dataChanged();
        return false;
    }
    modified_ = true;
    hooked_ = ds;
    ds->addUpdateHook(this, [this] { write(); });
    return true;
}

void FieldLink::write() {
    if (!modified_) return;
    db::Field* f = field();
    if (!f) {
        dropChange();
        return;
    }
    if (writer_) quietly([&] { writer_(f); });
    dropChange();
    emit dataChanged();
}

void FieldLink::reset() {
    dropChange();
    emit dataChanged();
}

void FieldLink::dropChange() {
    modified_ = false;
    if (hooked_) hooked_->removeUpdateHooks(this);
    hooked_.clear();
}

bool FieldLink::escape(QKeyEvent* e) {
    const bool plain = (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (e->key() != Qt::Key_Escape || !plain || !modified_) return false;
    reset();
    e->accept();
    return true;
}

bool FieldLink::commit() {
    return !modified_ || run(control_, [this] { write(); });
}

void FieldLink::focusLeft(const QFocusEvent* e) {
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason) return;
    if (!commit()) refuseExit(control_);
}

} // namespace ui
