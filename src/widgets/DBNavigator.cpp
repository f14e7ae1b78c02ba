#include "widgets/DBNavigator.h"

#include "dataset/Dataset.h"
#include "dataset/Table.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace ui {

namespace {

const char* const kNames[kNavButtonCount] = {"nbFirst",  "nbPrior", "nbNext", "nbLast",   "nbInsert",
                                             "nbDelete", "nbEdit",  "nbPost", "nbCancel", "nbRefresh"};

void triangle(QPainter& p, QPointF a, QPointF b, QPointF c) {
    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    path.lineTo(c);
    path.closeSubpath();
    p.fillPath(path, p.brush());
}

// The button images, drawn on a 16 x 16 grid: triangles and bars for the moves, plus and minus,
// an up-triangle for edit, a check mark, a cross and two circling arrows.
QIcon navIcon(NavButton b) {
    const qreal scale = 2; // drawn at twice the size, so it stays sharp on dense screens
    QPixmap pm(int(16 * scale), int(16 * scale));
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    const QColor ink(0x20, 0x20, 0x20);
    p.setBrush(ink);
    p.setPen(Qt::NoPen);
    auto stroke = [&](const QColor& c, qreal w) {
        p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
    };
    switch (b) {
    case nbFirst:
        p.fillRect(QRectF(3, 3, 2, 10), ink);
        triangle(p, {12, 3}, {12, 13}, {6, 8});
        break;
    case nbPrior:
        triangle(p, {11, 3}, {11, 13}, {5, 8});
        break;
    case nbNext:
        triangle(p, {5, 3}, {5, 13}, {11, 8});
        break;
    case nbLast:
        triangle(p, {4, 3}, {4, 13}, {10, 8});
        p.fillRect(QRectF(11, 3, 2, 10), ink);
        break;
    case nbInsert:
        p.fillRect(QRectF(7, 3, 2, 10), ink);
        p.fillRect(QRectF(3, 7, 10, 2), ink);
        break;
    case nbDelete:
        p.fillRect(QRectF(3, 7, 10, 2), ink);
        break;
    case nbEdit:
        triangle(p, {3, 11}, {13, 11}, {8, 5});
        break;
    case nbPost: {
        stroke(QColor(0x1a, 0x7a, 0x1a), 2.2);
        QPainterPath path;
        path.moveTo(3, 8.5);
        path.lineTo(6.5, 12);
        path.lineTo(13, 4);
        p.drawPath(path);
        break;
    }
    case nbCancel:
        stroke(QColor(0xa8, 0x10, 0x10), 2.2);
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case nbRefresh: {
        const QColor blue(0x1a, 0x4a, 0x9a);
        stroke(blue, 1.6);
        const QRectF circle(3, 3, 10, 10);
        p.drawArc(circle, 40 * 16, 140 * 16);  // upper arc, ending at the left
        p.drawArc(circle, 220 * 16, 140 * 16); // lower arc, ending at the right
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        triangle(p, {0.8, 7}, {5.2, 7}, {3, 10.5});
        triangle(p, {10.8, 9}, {15.2, 9}, {13, 5.5});
        break;
    }
    }
    p.end();
    pm.setDevicePixelRatio(scale);
    return QIcon(pm);
}

} // namespace

QStringList defaultNavigatorHints() {
    return {QStringLiteral("First record"), QStringLiteral("Prior record"),  QStringLiteral("Next record"),
            QStringLiteral("Last record"),  QStringLiteral("Insert record"), QStringLiteral("Delete record"),
            QStringLiteral("Edit record"),  QStringLiteral("Post edit"),     QStringLiteral("Cancel edit"),
            QStringLiteral("Refresh data")};
}

DBNavigator::DBNavigator(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < kNavButtonCount; ++i) {
        auto b = NavButton(i);
        auto* btn = new QToolButton(this);
        btn->setObjectName(QString::fromLatin1(kNames[i]));
        btn->setIcon(navIcon(b));
        btn->setIconSize(QSize(16, 16));
        btn->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        // Clicking keeps the focus in the control being edited.
        btn->setFocusPolicy(Qt::NoFocus);
        connect(btn, &QToolButton::clicked, this, [this, b] { BtnClick(b); });
        layout->addWidget(btn);
        buttons_[i] = btn;
    }
    applyHints();
    updateButtons();
}

DBNavigator::~DBNavigator() = default;

void DBNavigator::setDataSource(db::DataSource* source) {
    for (const auto& c : links_)
        disconnect(c);
    links_.clear();
    source_ = source;
    if (source) {
        links_ << connect(source, &db::DataSource::dataSetChanged, this, &DBNavigator::updateButtons);
        links_ << connect(source, &db::DataSource::scrolled, this, &DBNavigator::updateButtons);
        links_ << connect(source, &db::DataSource::stateChanged, this, &DBNavigator::updateButtons);
        links_ << connect(source, &QObject::destroyed, this, &DBNavigator::updateButtons);
    }
    updateButtons();
}

db::Dataset* DBNavigator::dataSet() const {
    return source_ ? source_->dataSet() : nullptr;
}

void DBNavigator::setVisibleButtons(const QSet<NavButton>& visible) {
    for (int i = 0; i < kNavButtonCount; ++i)
        buttons_[i]->setVisible(visible.contains(NavButton(i)));
    updateGeometry();
}

QSet<NavButton> DBNavigator::visibleButtons() const {
    QSet<NavButton> out;
    for (int i = 0; i < kNavButtonCount; ++i)
        if (!buttons_[i]->isHidden()) out.insert(NavButton(i));
    return out;
}

void DBNavigator::setHints(const QStringList& hints) {
    hints_ = hints;
    applyHints();
}

QStringList DBNavigator::hints() const {
    QStringList out;
    for (QToolButton* b : buttons_)
        out << b->statusTip();
    return out;
}

void DBNavigator::setShowHint(bool on) {
    showHint_ = on;
    applyHints();
}

void DBNavigator::applyHints() {
    const QStringList defaults = defaultNavigatorHints();
    for (int i = 0; i < kNavButtonCount; ++i) {
        QString hint = hints_.value(i);
        if (hint.isEmpty()) hint = defaults[i];
        buttons_[i]->setStatusTip(hint);
        buttons_[i]->setToolTip(showHint_ ? hint : QString());
    }
}

void DBNavigator::updateButtons() {
    db::Dataset* ds = dataSet();
    bool on[kNavButtonCount] = {};
    if (ds && ds->active()) {
        const int rows = ds->rowCount();
        const int pos = ds->recNo();
        const bool empty = rows == 0;
        const bool browsing = ds->state() == db::DataSetState::Browse;
        const bool canModify = ds->canModify();
        on[nbFirst] = on[nbPrior] = !empty && pos > 0;
        on[nbNext] = on[nbLast] = !empty && pos < rows - 1;
        on[nbInsert] = canModify && browsing;
        on[nbDelete] = canModify && !empty;
        on[nbEdit] = canModify && browsing && !empty;
        on[nbPost] = on[nbCancel] = !browsing;
        on[nbRefresh] = browsing;
    }
    for (int i = 0; i < kNavButtonCount; ++i)
        buttons_[i]->setEnabled(on[i]);
}

void DBNavigator::BtnClick(NavButton b) {
    if (run(this, [&] { doAction(b); })) emit clicked(b);
}

void DBNavigator::doAction(NavButton b) {
    db::Dataset* ds = dataSet();
    if (!ds) return;
    switch (b) {
    case nbFirst:
        ds->first();
        break;
    case nbPrior:
        ds->prior();
        break;
    case nbNext:
        ds->next();
        break;
    case nbLast:
        ds->last();
        break;
    case nbInsert:
        ds->insert();
        break;
    case nbDelete:
        // No question about a record that is not there: the data layer says so itself.
        if (ds->isEmpty() || !confirmDelete_ || Confirm(QStringLiteral("Delete record?"))) ds->deleteRecord();
        break;
    case nbEdit:
        ds->edit();
        break;
    case nbPost:
        ds->post();
        break;
    case nbCancel:
        ds->cancel();
        break;
    case nbRefresh:
        if (auto* t = qobject_cast<db::Table*>(ds)) t->refresh();
        break;
    }
}

QSize DBNavigator::sizeHint() const {
    int n = 0;
    for (QToolButton* b : buttons_)
        n += b->isHidden() ? 0 : 1;
    return {std::max(n, 1) * 24, 25};
}

QSize DBNavigator::minimumSizeHint() const {
    int n = 0;
    for (QToolButton* b : buttons_)
        n += b->isHidden() ? 0 : 1;
    return {std::max(n, 1) * 16, 18};
}

} // namespace ui
