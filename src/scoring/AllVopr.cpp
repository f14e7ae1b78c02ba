#include "scoring/AllVopr.h"

#include "data/DM.h"
#include "results/Scoring.h"
#include "scoring/Diagr.h"
#include "scoring/Rezult.h"
#include "scoring/Run.h"
#include "services/Answers.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"
#include "widgets/ProgressBar.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFormAllVopr* FormAllVopr = nullptr;

namespace {

QLabel* label(QWidget* parent, const char* name, const QString& text, const QRect& place, const QColor& color,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    ui::style(l, ui::font(QStringLiteral("Times New Roman Cyr"), 17), color);
    l->setAlignment(align);
    l->setGeometry(place);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& hint,
                    const QRect& place) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    ui::style(b, ui::font(QStringLiteral("Times New Roman Cyr"), 17));
    b->setStatusTip(hint);
    b->setGeometry(place);
    return b;
}

using scoring::number;

void restrictQuestions() {
    BD->Table_vopros->filterBy(results::questionsFilter(number(BD->Table_testNTEST)));
}

results::RunTables runTables() {
    return {BD->Table_vopros, BD->Table_otvet, BD->Table_rezult, BD->Table_summa, BD->Table_rez};
}

} // namespace

TFormAllVopr::TFormAllVopr(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormAllVopr"));
    setWindowTitle(QStringLiteral("Проверка"));
    setClientSize(394, 225);
    // A dialog border; the title bar carries no buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);

    Panel1 = new ui::Panel(this, "Panel1", 137);
    // Created before Button3 so that the button covers it until the check hides the button.
    Label1 = label(Panel1, "Label1", QStringLiteral("Проверить"), QRect(136, 8, 121, 25), Qt::red,
                   Qt::AlignCenter);
    Button3 = button(Panel1, "Button3", QStringLiteral("Проверить"),
                     QStringLiteral("Нажмите для прокерки имееются ли все ответы"), QRect(136, 8, 121, 25));
    ui::style(Button3, Button3->font(), Qt::red);
    Label2 = label(Panel1, "Label2", QStringLiteral("на все ли вопросы, имеются ответы ?"),
                   QRect(8, 38, 378, 24), Qt::red, Qt::AlignCenter);
    Label3 = label(Panel1, "Label3", QStringLiteral("Проверено"), QRect(48, 70, 100, 24), Qt::blue);
    Label5 = label(Panel1, "Label5", QString(), QRect(150, 70, 94, 24), Qt::blue, Qt::AlignCenter);
    Label4 = label(Panel1, "Label4", QStringLiteral("вопросов"), QRect(262, 70, 90, 24), Qt::blue);
    Label6 = label(Panel1, "Label6", QString(), QRect(4, 102, 386, 28), Qt::red, Qt::AlignCenter);
    ui::style(Label6, ui::font(QStringLiteral("Times New Roman Cyr"), 20, ui::BoldItalic), Qt::red);

    Panel3 = new ui::Panel(this, "Panel3");
    Bevel1 = new QFrame(Panel3);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::Box);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 4, 378, 39);
    PB = new ui::ProgressBar(Panel3);
    PB->setObjectName(QStringLiteral("PB"));
    PB->setGeometry(16, 13, 361, 21);

    Panel2 = new ui::Panel(this, "Panel2", 41);
    Button1 = button(Panel2, "Button1", QStringLiteral("Результат"),
                     QStringLiteral("Получить результат тестирования"), QRect(24, 8, 121, 25));
    Button2 = button(Panel2, "Button2", QStringLiteral("Отмена"),
                     QStringLiteral("Отменить просмотр результатов"), QRect(249, 8, 121, 25));
    setDefaultButton(Button1);
    setCancelButton(Button2);
    setButtonModalResult(Button1, ui::mrOk);
    setButtonModalResult(Button2, ui::mrCancel);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(Panel3, 1);
    lay->addWidget(Panel2);

    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ui::on(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    ui::on(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

void TFormAllVopr::FormActivate() {
    PB->setPosition(0);
    Label5->clear();
    Label6->clear();
    Label3->hide();
    Label4->hide();
    Button1->setEnabled(true);
    Button1->hide();
    Button2->hide();
    Button3->show();
}

void TFormAllVopr::Button3Click() {
    restrictQuestions();
    Table* vopros = BD->Table_vopros;
    // An empty test fails here, before anything on the dialog changes.
    vopros->first();
    const int f = number(BD->Table_voprosNVOPR);
    vopros->last();
    const int l = number(BD->Table_voprosNVOPR);
    PB->setRange(f, l);

    Table* rezult = BD->Table_rezult;
    rezult->filterBy(results::runFilter(scoring::currentRun()));
    const std::vector<int> missing = services::unanswered(rezult, PB->min(), PB->max());
    const bool all = missing.empty();
    PB->stepBy(PB->max() - PB->min() + 1 - int(missing.size()));
    if (!all) Button1->setEnabled(false);

    Label6->setText(all ? QStringLiteral("На все вопросы имеются ответы.")
                        : QStringLiteral("Не на все вопросы имеются ответы."));
    Label3->show();
    Label4->show();
    Label5->setText(QString::number(PB->max()));
    Button1->show();
    Button2->show();
    Button3->hide();
}

int TFormAllVopr::ScoreAnswers() {
    restrictQuestions();
    const results::RunKey run = scoring::currentRun();
    PB->setPosition(0);
    const int criteria = number(BD->Table_testKOLKRIT);
    results::scoreRun(runTables(), run, criteria, QDate::currentDate(), [this] { PB->stepBy(1); });
    return criteria;
}

void TFormAllVopr::Button1Click() {
    const int criteria = ScoreAnswers();
    // Stays visible behind the next window and closes when it closes.
    Close();
    if (criteria == 1)
        FormRezult->ShowModal();
    else
        FormDiagr->ShowModal();
}

void TFormAllVopr::Button2Click() {
    Close();
}
