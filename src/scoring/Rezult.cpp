#include "scoring/Rezult.h"

#include "Errors.h"
#include "data/DM.h"
#include "dataset/Aliases.h"
#include "psychometrics/Texts.h"
#include "results/Level.h"
#include "scoring/Printing.h"
#include "scoring/Run.h"
#include "widgets/DBMemo.h"
#include "widgets/DBText.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TFormRezult* FormRezult = nullptr;

using scoring::number;

namespace {
std::optional<int> optionalYear(const db::Variant& v) {
    return v.isNull() ? std::nullopt : std::optional<int>(int(v.toInt()));
}
QDate dateOf(const db::Variant& v) {
    return v.isNull() ? QDate() : v.toDate();
}
} // namespace

TFormRezult::TFormRezult(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormRezult"));
    setWindowTitle(QStringLiteral("Результат тестирования"));
    setClientSize(691, 246);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(7);
    setPopupHelp(true);

    Panel1 = new ui::Panel(this, "Panel1", 81);
    ui::fill(Panel1, QColor(192, 220, 192));
    const QFont heading = ui::font(QStringLiteral("Times New Roman Cyr"), 23, ui::BoldItalic);
    ui::style(Panel1, heading, Qt::red);
    Label2 = new QLabel(QStringLiteral("Тест :"), Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(8, 8, 90, 30);
    DBText2 = new ui::DBText(Panel1);
    DBText2->setObjectName(QStringLiteral("DBText2"));
    DBText2->setGeometry(99, 8, 584, 30);
    DBText2->setDataSource(BD->DS_test);
    DBText2->setDataField(QStringLiteral("NAME"));
    Label1 = new QLabel(QStringLiteral("Критерий :"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 44, 138, 30);
    DBText1 = new ui::DBText(Panel1);
    DBText1->setObjectName(QStringLiteral("DBText1"));
    DBText1->setGeometry(146, 44, 537, 30);
    DBText1->setDataSource(BD->DS_analiz);
    DBText1->setDataField(QStringLiteral("UROV"));
    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                       static_cast<QWidget*>(DBText1), static_cast<QWidget*>(DBText2)})
        ui::style(w, heading, Qt::red);

    Panel3 = new ui::Panel(this, "Panel3");
    DBMemo1 = new ui::DBMemo(Panel3);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->setReadOnly(true);
    DBMemo1->setStatusTip(QStringLiteral("Полученный результат тестирования"));
    DBMemo1->setDataSource(BD->DS_analiz);
    DBMemo1->setDataField(QStringLiteral("TEXT"));
    // Under the text, on a line of its own: beside the buttons it had no room.
    LabelNorm = new QLabel(Panel3);
    LabelNorm->setObjectName(QStringLiteral("LabelNorm"));
    LabelNorm->setStatusTip(QStringLiteral("Стандартные баллы по нормам группы тестируемого"));
    LabelNorm->setContentsMargins(4, 2, 4, 2);
    // A long line is cut at the window's edge, not widening it; the hint holds it whole.
    LabelNorm->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* memoLay = new QVBoxLayout(Panel3);
    memoLay->setContentsMargins(0, 0, 0, 0);
    memoLay->setSpacing(0);
    memoLay->addWidget(DBMemo1, 1);
    memoLay->addWidget(LabelNorm);

    Panel2 = new ui::Panel(this, "Panel2", 41);
    ButtonClose = new QPushButton(QStringLiteral("Закрыть"), Panel2);
    ButtonClose->setObjectName(QStringLiteral("ButtonClose"));
    ButtonClose->setStatusTip(QStringLiteral("Закрыть форму с результатами"));
    ButtonClose->setGeometry((691 - 131) / 2, 8, 131, 25);
    setCancelButton(ButtonClose);
    ButtonPrint = new QPushButton(QStringLiteral("Печать…"), Panel2);
    ButtonPrint->setObjectName(QStringLiteral("ButtonPrint"));
    ButtonPrint->setStatusTip(QStringLiteral("Напечатать или сохранить в PDF отчёт о тестировании"));
    ButtonPrint->setGeometry(8, 8, 131, 25);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(Panel3, 1);
    lay->addWidget(Panel2);

    ui::on(ButtonClose, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
    ui::on(ButtonPrint, &QPushButton::clicked, this, [this] { ButtonPrintClick(); });
}

void TFormRezult::FormActivate() {
    const int test = number(BD->Table_testNTEST);
    BD->Table_rez->filterBy(scoring::runFilter());
    krit = 1;
    // Without a score row of this criterion there is nothing to interpret; reading another
    // criterion's score would show a wrong level, and an earlier run's level must not stay.
    if (!BD->Table_rez->locate(QStringLiteral("KRIT"), {krit})) {
        BD->Table_analiz->filterBy(QStringLiteral("KRIT=0 and KRIT<>0"));
        throw db::ConversionError(); // as reading the missing score would
    }
    ball = number(BD->Table_rezBALL);
    results::narrowToLevel(BD->Table_analiz, test, krit, ball);
    // A test without norms says nothing of them; one with norms says what the score is worth
    // against them, or why this testee has none.
    const std::vector<psychometrics::NormGroup> norms =
        psychometrics::readNorms(db::Aliases::resolve(QStringLiteral("morv")), test);
    QString line;
    if (!norms.empty()) {
        const psychometrics::NormResult r = psychometrics::standardScores(
            norms, krit, ball, BD->Table_anketPOLTESTIR->value().toString(),
            optionalYear(BD->Table_anketGRTESTIR->value()), dateOf(BD->Table_rezDATA->value()));
        line = psychometrics::scoresLine(r);
        line = r.scores ? QStringLiteral("Стандартные баллы: ") + line : line.left(1).toUpper() + line.mid(1);
    }
    LabelNorm->setVisible(!norms.empty());
    LabelNorm->setText(line);
    LabelNorm->setToolTip(LabelNorm->text());
}

void TFormRezult::ButtonCloseClick() {
    Close();
}

void TFormRezult::ButtonPrintClick() {
    scoring::printRunReport(this);
}
