#include "registry/Strips.h"

#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"
#include "widgets/Panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace registry {

QLabel* heading(ui::Panel* top, const QString& text) {
    top->setFixedHeight(41);
    auto* l = new QLabel(text, top);
    l->setObjectName(QStringLiteral("Label1"));
    ui::style(l, ui::font(QStringLiteral("Arial"), 20, ui::BoldItalic), Qt::red);
    l->setAlignment(Qt::AlignCenter);
    (new QVBoxLayout(top))->addWidget(l);
    return l;
}

ui::DBGrid* listGrid(ui::Panel* middle, db::DataSource* source, const QList<ui::GridColumn>& columns) {
    auto* g = new ui::DBGrid(middle);
    g->setObjectName(QStringLiteral("DBGrid1"));
    g->setDataSource(source);
    g->setReadOnly(true);
    g->setRowSelect(true);
    g->setColumns(columns);
    auto* lay = new QVBoxLayout(middle);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->addWidget(g);
    return g;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setStatusTip(hint);
    b->setFixedSize(105, 30);
    return b;
}

ui::DBNavigator* navigator(QWidget* parent, db::DataSource* source) {
    auto* n = new ui::DBNavigator(parent);
    n->setObjectName(QStringLiteral("DBNavigator"));
    n->setDataSource(source);
    n->setVisibleButtons({ui::nbFirst, ui::nbPrior, ui::nbNext, ui::nbLast});
    return n;
}

void buttonRow(ui::Panel* bottom, const QList<QPushButton*>& buttons, ui::DBNavigator* nav) {
    bottom->setFixedHeight(48);
    auto* lay = new QHBoxLayout(bottom);
    lay->setContentsMargins(10, 6, 10, 6);
    lay->setSpacing(10);
    if (!nav) lay->addStretch(1);
    for (QPushButton* b : buttons)
        lay->addWidget(b);
    lay->addStretch(1);
    if (nav) lay->addWidget(nav);
}

} // namespace registry

#include "registry/Skyline.h"

#include <QScrollArea>

namespace registry {

DetailsBody detailsBody(QWidget* form, const QSize& picture) {
    auto* lay = new QVBoxLayout(form);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    DetailsBody b{};
    b.scroll = new QScrollArea(form);
    b.scroll->setObjectName(QStringLiteral("ScrollBox1"));
    b.scroll->setFocusPolicy(Qt::NoFocus);
    b.content = new QWidget;
    b.content->setObjectName(QStringLiteral("ScrollBoxPage"));
    b.picture = new QLabel(b.content);
    b.picture->setObjectName(QStringLiteral("Image1"));
    b.picture->setPixmap(SkylinePicture());
    b.picture->setScaledContents(true);
    b.picture->setGeometry(QRect(QPoint(10, 10), picture));
    b.scroll->setWidget(b.content);
    b.scroll->setWidgetResizable(true);
    lay->addWidget(b.scroll, 1);
    b.bottom = new ui::Panel(form, "Panel1");
    lay->addWidget(b.bottom);
    return b;
}

void tabOrder(const QList<QWidget*>& controls) {
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

QLabel* fieldCaption(QWidget* content, const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, content);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(x, y, 240, 16);
    return l;
}

} // namespace registry
