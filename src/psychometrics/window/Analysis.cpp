#include "psychometrics/window/Analysis.h"

#include "data/DM.h"
#include "dataset/Aliases.h"
#include "psychometrics/Texts.h"
#include "reports/ItemAnalysisReport.h"
#include "reports/Preview.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Named.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TFormItemAnalysis* FormItemAnalysis = nullptr;

using ui::named;

TFormItemAnalysis::TFormItemAnalysis(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormItemAnalysis"));
    setWindowTitle(QStringLiteral("Анализ заданий"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(720, 480);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    auto* lay = new QVBoxLayout(this);
    LabelTest = named(new QLabel(this), "LabelTest");
    LabelTest->setFont(ui::font(QStringLiteral("Times New Roman Cyr"), 17, ui::Bold));
    lay->addWidget(LabelTest);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Критерий :"), this));
    ComboKrit =
        named(new QComboBox(this), "ComboKrit", QStringLiteral("Критерий, вопросы которого показаны"));
    row->addWidget(ComboKrit);
    LabelSummary = named(new QLabel(this), "LabelSummary");
    row->addWidget(LabelSummary, 1);
    lay->addLayout(row);

    GridItems = named(new QTableWidget(this), "GridItems",
                      QStringLiteral("Вопросы ключа критерия: среднее, разброс и связь с остальными"));
    GridItems->setColumnCount(int(psychometrics::itemHeadings().size()));
    GridItems->setHorizontalHeaderLabels(psychometrics::itemHeadings());
    GridItems->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridItems->verticalHeader()->setVisible(false);
    GridItems->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    GridItems->horizontalHeader()->setStretchLastSection(true);
    lay->addWidget(GridItems, 1);

    LabelNotes = named(new QLabel(this), "LabelNotes");
    LabelNotes->setWordWrap(true);
    QPalette red = LabelNotes->palette();
    red.setColor(QPalette::WindowText, Qt::darkRed);
    LabelNotes->setPalette(red);
    lay->addWidget(LabelNotes);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButtonPrint = named(new QPushButton(QStringLiteral("Печать…"), this), "ButtonPrint",
                        QStringLiteral("Просмотр, печать и сохранение в PDF отчёта об анализе заданий"));
    ButtonClose = named(new QPushButton(QStringLiteral("Закрыть"), this), "ButtonClose");
    buttons->addWidget(ButtonPrint);
    buttons->addWidget(ButtonClose);
    lay->addLayout(buttons);
    setCancelButton(ButtonClose);
    setButtonModalResult(ButtonClose, ui::mrCancel);

    ui::on(ComboKrit, &QComboBox::currentIndexChanged, this, [this] { ComboKritChange(); });
    ui::on(ButtonPrint, &QPushButton::clicked, this, [this] { ButtonPrintClick(); });
}

void TFormItemAnalysis::load(const QString& database, int test) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct Restore {
        ~Restore() { QApplication::restoreOverrideCursor(); }
    } restore;
    analysis_ = psychometrics::analyseTest(database, test);
    LabelTest->setText(QStringLiteral("Тест «%1» (№ %2): прохождений с ответами — %3")
                           .arg(analysis_.name)
                           .arg(analysis_.test)
                           .arg(analysis_.runs));
    const QSignalBlocker quiet(ComboKrit);
    ComboKrit->clear();
    for (const psychometrics::CriterionAnalysis& c : analysis_.criteria)
        ComboKrit->addItem(QString::number(c.krit));
    ComboKrit->setCurrentIndex(0);
    ComboKritChange();
}

void TFormItemAnalysis::ComboKritChange() {
    const int at = ComboKrit->currentIndex();
    GridItems->setRowCount(0);
    if (at < 0 || size_t(at) >= analysis_.criteria.size()) return;
    const psychometrics::CriterionAnalysis& c = analysis_.criteria[size_t(at)];
    LabelSummary->setText(QStringLiteral("учтено прохождений: %1;  %2 = %3;  стандартизованная α = %4")
                              .arg(c.complete)
                              .arg(psychometrics::alphaName(c.scale), psychometrics::figure(c.scale.alpha),
                                   psychometrics::figure(c.scale.standardizedAlpha)));
    GridItems->setRowCount(int(c.items.size()));
    for (size_t i = 0; i < c.items.size(); ++i) {
        const QStringList cells = psychometrics::itemCells(c, i);
        for (int col = 0; col < cells.size(); ++col) {
            auto* cell = new QTableWidgetItem(cells[col]);
            cell->setTextAlignment(Qt::AlignCenter);
            if (c.flagged(i)) cell->setForeground(Qt::darkRed);
            GridItems->setItem(int(i), col, cell);
        }
    }
    LabelNotes->setText(psychometrics::criterionNotes(c).join(QLatin1Char('\n')));
}

void TFormItemAnalysis::ButtonPrintClick() {
    reports::preview(reports::itemAnalysisReport(analysis_), this);
}

QAction* AddItemAnalysisItem(QMenu* menu) {
    QAction* a = menu->addAction(QStringLiteral("Анализ заданий…"));
    a->setObjectName(QStringLiteral("MenuItemAnalysis"));
    a->setStatusTip(QStringLiteral("Согласованность вопросов выбранного теста по всем его прохождениям"));
    a->setEnabled(false);
    ui::on(a, &QAction::triggered, menu, [] {
        if (!FormItemAnalysis || !BD->Table_test->active() || BD->Table_test->isEmpty()) return;
        const int test = int(BD->Table_testNTEST->value().toInt());
        FormItemAnalysis->load(db::Aliases::resolve(QStringLiteral("morv")), test);
        FormItemAnalysis->ShowModal();
    });
    return a;
}
