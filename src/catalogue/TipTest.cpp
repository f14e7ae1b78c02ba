#include "catalogue/TipTest.h"

#include "app/Main.h"
#include "catalogue/NameTest.h"
#include "data/DM.h"
#include "widgets/DBGrid.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TTipTestForm* TipTestForm = nullptr;

TTipTestForm::TTipTestForm(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("TipTestForm"));
    setWindowTitle(QStringLiteral("Выбор типа теста"));
    setClientSize(667, 269);
    // A dialog border; the title bar carries no buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(5);
    setPopupHelp(true);

    Panel1 = new ui::Panel(this, "Panel1", 41);
    Label1 = new QLabel(QStringLiteral("Выберите пожалуйста из списка тип теста :"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    ui::style(Label1, ui::font(QStringLiteral("Times New Roman Cyr"), 17), Qt::black);
    Label1->setGeometry(12, 10, 640, 22);

    DBGrid1 = new ui::DBGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setFrameShape(QFrame::NoFrame);
    DBGrid1->setReadOnly(true);
    DBGrid1->setRowSelect(true);
    DBGrid1->setColumns({{QStringLiteral("TEXT"), QStringLiteral("Тип теста"), 0}});
    DBGrid1->setStatusTip(QStringLiteral("Здесь представлены различные типы психологических тестов"));
    DBGrid1->setDataSource(BD->DS_spr_test);
    DBGrid1->installEventFilter(this);

    Panel2 = new ui::Panel(this, "Panel2", 77);
    Label2 = new QLabel(
        QStringLiteral("Выберите тип теста дважды щелкнув мышкой или нажмите на кнопку <Выбрать>"), Panel2);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(12, 8, 640, 18);
    ButtonSelect = new QPushButton(QStringLiteral("&Выбрать"), Panel2);
    ButtonSelect->setObjectName(QStringLiteral("ButtonSelect"));
    ButtonSelect->setGeometry(140, 38, 161, 25);
    ButtonSelect->setStatusTip(QStringLiteral("Выбрать выделенный тип теста"));
    ButtonCancel = new QPushButton(QStringLiteral("&Отмена"), Panel2);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setGeometry(366, 38, 161, 25);
    ButtonCancel->setStatusTip(QStringLiteral("Отказаться  от выбор типа теста"));
    setDefaultButton(ButtonSelect);
    setCancelButton(ButtonCancel);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(DBGrid1, 1);
    lay->addWidget(Panel2);

    ui::on(ButtonSelect, &QPushButton::clicked, this, [this] { ButtonSelectClick(); });
    ui::on(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
    ui::on(DBGrid1, &ui::DBGrid::cellDoubleClicked, this, [this] { DBGrid1DblClick(); });
}

void TTipTestForm::FormActivate() {
    BD->Table_spr_test->first();
}

bool TTipTestForm::eventFilter(QObject* obj, QEvent* e) {
    if (obj == DBGrid1 && e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        const QString text = k->text();
        // Enter is the grid's own here, not the default button's as well.
        if (!text.isEmpty()) {
            ui::run(this, [&] { DBGrid1KeyPress(text.front()); });
            if (text.front() == QChar(13)) return true;
        }
    }
    return ui::Form::eventFilter(obj, e);
}

void TTipTestForm::ButtonSelectClick() {
    chooseType();
}

void TTipTestForm::DBGrid1DblClick() {
    chooseType();
}

void TTipTestForm::DBGrid1KeyPress(QChar key) {
    if (key == QChar(13)) chooseType();
}

void TTipTestForm::ButtonCancelClick() {
    Close();
}

void TTipTestForm::chooseType() {
    // Read first: an empty dictionary fails here and changes nothing.
    const int code = int(BD->Table_spr_testKOD->asInteger());
    const QString name = BD->Table_spr_testTEXT->asString();
    FormMain->CurTipTest = code;
    FormNameTest->LabelTipTesta->setText(name);
    FormNameTest->ShowModal();
    // However the list was left, the type window goes too.
    Close();
}
