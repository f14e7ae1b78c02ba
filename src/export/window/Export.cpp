#include "export/window/Export.h"

#include "app/Main.h"
#include "data/DM.h"
#include "dataset/Aliases.h"
#include "export/Collect.h"
#include "export/Output.h"
#include "export/Writers.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/Named.h"
#include "widgets/ProgressBar.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TFormExport* FormExport = nullptr;

using ui::named;

namespace {

struct FormatChoice {
    const char* caption;
    exporting::Format format;
    bool russianCsv;
    const char* extension;
};

const FormatChoice kFormats[] = {
    {"SPSS (.sav)", exporting::Format::Sav, true, "sav"},
    {"Excel (.xlsx)", exporting::Format::Xlsx, true, "xlsx"},
    {"CSV для Excel (точка с запятой, десятичная запятая)", exporting::Format::Csv, true, "csv"},
    {"CSV для R (запятая, десятичная точка)", exporting::Format::Csv, false, "csv"},
};

// The current record's number of a table, when it has one.
bool currentNumber(db::Table* table, db::Field* field, int& number) {
    if (!table || !table->active() || table->isEmpty()) return false;
    const db::Variant v = field->value();
    if (v.isNull()) return false;
    number = int(v.toInt());
    return true;
}

} // namespace

TFormExport::TFormExport(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormExport"));
    setWindowTitle(QStringLiteral("Экспорт результатов"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(520, 356);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    auto* lay = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    ComboTest =
        named(new QComboBox(this), "ComboTest", QStringLiteral("Тест, результаты которого выгружаются"));
    form->addRow(QStringLiteral("Тест :"), ComboTest);
    lay->addLayout(form);

    auto* scope = named(new QGroupBox(QStringLiteral("Кого выгружать"), this), "GroupScope");
    auto* scopeLay = new QVBoxLayout(scope);
    RadioOrg = named(new QRadioButton(QStringLiteral("Тестируемых текущего учреждения"), scope), "RadioOrg",
                     QStringLiteral("Только тех, кто тестировался в выбранном учреждении"));
    RadioAll = named(new QRadioButton(QStringLiteral("Тестируемых всех учреждений"), scope), "RadioAll",
                     QStringLiteral("Всех, кто проходил тест"));
    scopeLay->addWidget(RadioOrg);
    scopeLay->addWidget(RadioAll);
    lay->addWidget(scope);

    auto* what = named(new QGroupBox(QStringLiteral("Что выгружать"), this), "GroupContent");
    auto* whatLay = new QVBoxLayout(what);
    RadioScores = named(new QRadioButton(QStringLiteral("Баллы и уровни по критериям"), what), "RadioScores",
                        QStringLiteral("Балл и уровень каждого критерия"));
    RadioPlaces =
        named(new QRadioButton(QStringLiteral("Ответы: номер выбранного варианта"), what), "RadioPlaces",
              QStringLiteral("Для каждого вопроса номер выбранного варианта ответа, считая с 1"));
    RadioPoints =
        named(new QRadioButton(QStringLiteral("Ответы: баллы выбранного варианта"), what), "RadioPoints",
              QStringLiteral("Для каждого вопроса баллы выбранного варианта ответа"));
    RadioScores->setChecked(true);
    whatLay->addWidget(RadioScores);
    whatLay->addWidget(RadioPlaces);
    whatLay->addWidget(RadioPoints);
    lay->addWidget(what);

    auto* privacy = new QHBoxLayout;
    CheckAnonymous = named(new QCheckBox(QStringLiteral("Без персональных данных"), this), "CheckAnonymous",
                           QStringLiteral("Вместо фамилии, имени и отчества — код «учреждение-тестируемый»; "
                                          "год рождения не выгружается"));
    CheckBirthYear = named(new QCheckBox(QStringLiteral("с годом рождения"), this), "CheckBirthYear",
                           QStringLiteral("Выгрузить и год рождения"));
    CheckBirthYear->setEnabled(false);
    privacy->addWidget(CheckAnonymous);
    privacy->addWidget(CheckBirthYear);
    privacy->addStretch(1);
    lay->addLayout(privacy);

    auto* fileForm = new QFormLayout;
    ComboFormat = named(new QComboBox(this), "ComboFormat", QStringLiteral("Формат файла"));
    for (const FormatChoice& f : kFormats)
        ComboFormat->addItem(QString::fromUtf8(f.caption));
    fileForm->addRow(QStringLiteral("Формат :"), ComboFormat);
    auto* fileRow = new QHBoxLayout;
    EditFile = named(new QLineEdit(this), "EditFile", QStringLiteral("Файл, в который записываются данные"));
    ButtonBrowse = named(new QPushButton(QStringLiteral("Обзор…"), this), "ButtonBrowse",
                         QStringLiteral("Выбрать файл"));
    fileRow->addWidget(EditFile, 1);
    fileRow->addWidget(ButtonBrowse);
    fileForm->addRow(QStringLiteral("Файл :"), fileRow);
    lay->addLayout(fileForm);

    PB = named(new ui::ProgressBar(this), "PB");
    PB->setRange(0, 100);
    lay->addWidget(PB);
    LabelDone = named(new QLabel(this), "LabelDone");
    lay->addWidget(LabelDone);

    auto* buttons = new QHBoxLayout;
    ButtonExport = named(new QPushButton(QStringLiteral("Экспорт"), this), "ButtonExport",
                         QStringLiteral("Записать файл"));
    ButtonClose = named(new QPushButton(QStringLiteral("Закрыть"), this), "ButtonClose",
                        QStringLiteral("Закрыть окно экспорта"));
    buttons->addStretch(1);
    buttons->addWidget(ButtonExport);
    buttons->addWidget(ButtonClose);
    lay->addLayout(buttons);
    setDefaultButton(ButtonExport);
    setCancelButton(ButtonClose);

    ui::on(ButtonBrowse, &QPushButton::clicked, this, [this] { ButtonBrowseClick(); });
    ui::on(ButtonExport, &QPushButton::clicked, this, [this] { ButtonExportClick(); });
    ui::on(ButtonClose, &QPushButton::clicked, this, [this] { Close(); });
    ui::on(CheckAnonymous, &QCheckBox::toggled, this, [this](bool on) { CheckBirthYear->setEnabled(on); });
    ui::on(ComboFormat, &QComboBox::currentIndexChanged, this, [this] { ComboFormatChange(); });
}

void TFormExport::FormActivate() {
    // The list and the current choices are read afresh: tests and institutions change meanwhile.
    // The current test first; else the one chosen here before.
    int test = ComboTest->currentData().isValid() ? ComboTest->currentData().toInt() : -1;
    if (BD) currentNumber(BD->Table_test, BD->Table_testNTEST, test);
    ComboTest->clear();
    for (const exporting::TestEntry& t : exporting::tests(db::Aliases::resolve(QStringLiteral("morv"))))
        ComboTest->addItem(QStringLiteral("%1. %2").arg(t.number).arg(t.name), t.number);
    if (const int at = ComboTest->findData(test); at >= 0) ComboTest->setCurrentIndex(at);

    // An institution is current once it was chosen in the institution window.
    int org = 0;
    const bool hasOrg =
        FormMain && FormMain->OrgChosen && BD && currentNumber(BD->Table_org, BD->Table_orgNOM_ORG, org);
    RadioOrg->setEnabled(hasOrg);
    RadioOrg->setText(hasOrg ? QStringLiteral("Тестируемых текущего учреждения (№ %1)").arg(org)
                             : QStringLiteral("Тестируемых текущего учреждения"));
    if (!hasOrg)
        RadioAll->setChecked(true);
    else if (!RadioOrg->isChecked() && !RadioAll->isChecked())
        RadioOrg->setChecked(true);
    PB->setPosition(0);
    LabelDone->clear();
}

QString TFormExport::currentExtension() const {
    return QString::fromLatin1(kFormats[std::max(0, ComboFormat->currentIndex())].extension);
}

void TFormExport::ComboFormatChange() {
    // The file name follows the format, so "данные.sav" does not become a CSV by mistake.
    const QString name = EditFile->text();
    if (name.isEmpty()) return;
    const QFileInfo fi(name);
    const QString suffix = fi.suffix().toLower();
    if (suffix == "sav" || suffix == "xlsx" || suffix == "csv")
        EditFile->setText(name.left(name.size() - suffix.size()) + currentExtension());
}

void TFormExport::ButtonBrowseClick() {
    const QString ext = currentExtension();
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Файл для экспорта"),
                                                      EditFile->text(), QStringLiteral("*.%1").arg(ext));
    if (!file.isEmpty()) EditFile->setText(QFileInfo(file).suffix().isEmpty() ? file + "." + ext : file);
}

void TFormExport::ButtonExportClick() {
    if (ComboTest->currentIndex() < 0)
        throw exporting::ExportError(QStringLiteral("В базе данных нет тестов."));
    QString file = EditFile->text().trimmed();
    if (file.isEmpty()) throw exporting::ExportError(QStringLiteral("Не указан файл для экспорта."));
    if (QFileInfo(file).suffix().isEmpty()) file += "." + currentExtension();
    if (QFileInfo(file).isFile() && !ui::Confirm(QStringLiteral("Файл %1 уже есть. Заменить его?").arg(file)))
        return;

    exporting::Request request;
    request.test = ComboTest->currentData().toInt();
    if (int org = 0; RadioOrg->isChecked() && RadioOrg->isEnabled() &&
                     currentNumber(BD->Table_org, BD->Table_orgNOM_ORG, org))
        request.org = org;
    request.content = RadioScores->isChecked()   ? exporting::Content::Scores
                      : RadioPlaces->isChecked() ? exporting::Content::AnswerPositions
                                                 : exporting::Content::AnswerPoints;
    request.anonymous = CheckAnonymous->isChecked();
    request.birthYear = request.anonymous && CheckBirthYear->isChecked();
    const FormatChoice& format = kFormats[std::max(0, ComboFormat->currentIndex())];

    LabelDone->clear();
    PB->setPosition(0);
    ButtonExport->setEnabled(false);
    struct Enable {
        QPushButton* b;
        ~Enable() { b->setEnabled(true); }
    } enable{ButtonExport};
    // Reading takes the first half of the bar, writing the second; the bar is drawn as it goes.
    auto stage = [this](int from) {
        return [this, from](qint64 done, qint64 total) {
            PB->setPosition(from + int(total > 0 ? done * 50 / total : 0));
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        };
    };
    const exporting::Sheet sheet =
        exporting::collect(db::Aliases::resolve(QStringLiteral("morv")), request, stage(0));
    exporting::write(sheet, format.format, file, {format.russianCsv}, stage(50));
    PB->setPosition(100);
    EditFile->setText(file);
    LabelDone->setText(
        QStringLiteral("Записано строк: %1, столбцов: %2.").arg(sheet.rows).arg(sheet.columns.size()));
}

QAction* AddExportItem(QMenu* menu) {
    QAction* a = menu->addAction(QStringLiteral("Экспорт…"));
    a->setObjectName(QStringLiteral("MenuExport"));
    a->setStatusTip(QStringLiteral("Выгрузить баллы или ответы теста для SPSS, Excel или R"));
    ui::on(a, &QAction::triggered, menu, [] {
        if (FormExport) FormExport->ShowModal();
    });
    return a;
}
