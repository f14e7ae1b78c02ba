#include "psychometrics/window/Norms.h"

#include "data/DM.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"
#include "psychometrics/Sample.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/Named.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TFormNorms* FormNorms = nullptr;

using ui::named;

namespace {

// An age spin box whose lowest value means "no bound".
QSpinBox* ageBox(QWidget* parent, const char* name, const QString& hint) {
    auto* s = named(new QSpinBox(parent), name, hint);
    s->setRange(-1, 120);
    s->setSpecialValueText(QStringLiteral("—"));
    s->setValue(-1);
    s->setSuffix(QStringLiteral(" лет"));
    return s;
}

std::optional<int> age(const QSpinBox* s) {
    return s->value() < 0 ? std::nullopt : std::optional<int>(s->value());
}

// Each field's column: its title and how many characters of it the grid shows. The stored
// widths (20 for a figure) would push the last columns out of the window.
struct Column {
    const char *field, *title;
    int chars;
};
const Column kColumns[] = {{"NOMTESTA", "№ теста", 4},  {"KRIT", "Критерий", 3},
                           {"POL", "Пол", 2},           {"VOZROT", "Возраст от", 3},
                           {"VOZRDO", "Возраст до", 3}, {"SRED", "Среднее", 9},
                           {"SIGMA", "Ст. откл.", 9},   {"BALL", "Балл", 9},
                           {"PROC", "Процентиль", 6},   {"KOLVO", "n", 5}};

} // namespace

TFormNorms::TFormNorms(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormNorms"));
    setWindowTitle(QStringLiteral("Нормы"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(760, 500);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    auto* lay = new QVBoxLayout(this);
    LabelTest = named(new QLabel(this), "LabelTest");
    LabelTest->setWordWrap(true);
    lay->addWidget(LabelTest);
    LabelHint = named(
        new QLabel(QStringLiteral(
                       "Норма — строка для группы тестируемых одного пола и возраста: либо "
                       "среднее и стандартное отклонение, либо пара «балл — процентиль». Добавьте "
                       "строку кнопкой «+» над таблицей и заполните её или рассчитайте среднее и отклонение "
                       "по результатам базы данных внизу окна."),
                   this),
        "LabelHint");
    LabelHint->setWordWrap(true);
    lay->addWidget(LabelHint);
    DS_norm = new db::DataSource(this);
    DS_norm->setObjectName(QStringLiteral("DS_norm"));
    DBNavigatorNorm = named(new ui::DBNavigator(this), "DBNavigatorNorm");
    DBNavigatorNorm->setDataSource(DS_norm);
    DBNavigatorNorm->setHints({QStringLiteral("Первая строка"), QStringLiteral("Предыдущая строка"),
                               QStringLiteral("Следующая строка"), QStringLiteral("Последняя строка"),
                               QStringLiteral("Добавить строку"), QStringLiteral("Удалить строку"),
                               QStringLiteral("Изменить строку"), QStringLiteral("Записать строку"),
                               QStringLiteral("Отменить изменения"), QStringLiteral("Обновить")});
    DBNavigatorNorm->setShowHint(true);
    lay->addWidget(DBNavigatorNorm);
    DBGridNorm =
        named(new ui::DBGrid(this), "DBGridNorm",
              QStringLiteral("Строка — среднее и стандартное отклонение группы или пара «балл — "
                             "процентиль»; пол М, Ж или пусто (оба), возраст в годах, границы входят"));
    DBGridNorm->setDataSource(DS_norm);
    lay->addWidget(DBGridNorm, 1);

    auto* sample =
        named(new QGroupBox(QStringLiteral("Расчёт по результатам базы данных"), this), "GroupSample");
    auto* grid = new QGridLayout(sample);
    ComboKrit = named(new QComboBox(sample), "ComboKrit", QStringLiteral("Критерий теста"));
    ComboSex = named(new QComboBox(sample), "ComboSex", QStringLiteral("Пол группы"));
    ComboSex->addItems({QStringLiteral("оба"), QStringLiteral("М"), QStringLiteral("Ж")});
    SpinFrom =
        ageBox(sample, "SpinFrom", QStringLiteral("Возраст от (на дату тестирования); «—» — без границы"));
    SpinTo = ageBox(sample, "SpinTo", QStringLiteral("Возраст до (включительно); «—» — без границы"));
    ButtonSample = named(new QPushButton(QStringLiteral("Рассчитать и записать"), sample), "ButtonSample",
                         QStringLiteral("Вычислить среднее и стандартное отклонение группы по подсчитанным "
                                        "результатам базы данных и записать их в нормы"));
    grid->addWidget(new QLabel(QStringLiteral("Критерий :"), sample), 0, 0);
    grid->addWidget(ComboKrit, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Пол :"), sample), 0, 2);
    grid->addWidget(ComboSex, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Возраст от :"), sample), 0, 4);
    grid->addWidget(SpinFrom, 0, 5);
    grid->addWidget(new QLabel(QStringLiteral("до :"), sample), 0, 6);
    grid->addWidget(SpinTo, 0, 7);
    grid->addWidget(ButtonSample, 0, 8);
    LabelSample = named(new QLabel(sample), "LabelSample");
    grid->addWidget(LabelSample, 1, 0, 1, 9);
    lay->addWidget(sample);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ButtonClose = named(new QPushButton(QStringLiteral("Закрыть"), this), "ButtonClose");
    buttons->addWidget(ButtonClose);
    lay->addLayout(buttons);
    setCancelButton(ButtonClose);
    setButtonModalResult(ButtonClose, ui::mrCancel);
    ui::on(ButtonSample, &QPushButton::clicked, this, [this] { ButtonSampleClick(); });
}

void TFormNorms::open(const QString& database, int test, const QString& name, int criteria) {
    const QString path = schema::ensureTable(database, schema::norms());
    if (!Table_norm || dir_ != database) {
        delete Table_norm;
        Table_norm = new db::Table(this);
        Table_norm->setObjectName(QStringLiteral("Table_norm"));
        db::placeTable(*Table_norm, database, QFileInfo(path).fileName());
        Table_norm->open();
        for (const Column& c : kColumns) {
            db::Field* f = Table_norm->fieldByName(QLatin1String(c.field));
            f->setDisplayLabel(QString::fromUtf8(c.title));
            f->setDisplayWidth(c.chars);
        }
        DS_norm->setDataSet(Table_norm);
    }
    dir_ = database;
    test_ = test;
    // A row added here belongs to this test.
    Table_norm->onNewRecord = [this](db::Dataset& d) {
        d.setFieldValue(QStringLiteral("NOMTESTA"), {test_});
    };
    Table_norm->filterBy(QStringLiteral("NOMTESTA=%1").arg(test));
    LabelTest->setText(QStringLiteral("Нормы теста «%1» (№ %2)").arg(name).arg(test));
    ComboKrit->clear();
    for (int k = 1; k <= criteria; ++k)
        ComboKrit->addItem(QString::number(k));
    LabelSample->clear();
}

void TFormNorms::ButtonSampleClick() {
    if (!Table_norm || ComboKrit->currentIndex() < 0) return;
    const int krit = ComboKrit->currentText().toInt();
    const QString sex = ComboSex->currentIndex() == 0 ? QString() : ComboSex->currentText();
    const std::optional<int> from = age(SpinFrom), to = age(SpinTo);
    if (from && to && *from > *to) {
        ui::ShowError(QStringLiteral("Возраст «от» больше возраста «до»."));
        return;
    }
    const psychometrics::SampleNorm s = psychometrics::sampleNorm(dir_, test_, krit, sex, from, to);
    if (!s.sd || !(*s.sd > 0)) {
        LabelSample->setText(
            QStringLiteral("n = %1: нормы не вычисляются (нужны хотя бы два разных балла).").arg(s.n));
        return;
    }
    const QString figures = QStringLiteral("n = %1, среднее %2, ст. откл. %3")
                                .arg(s.n)
                                .arg(*s.mean, 0, 'f', 4)
                                .arg(*s.sd, 0, 'f', 4);
    LabelSample->setText(figures);
    if (s.n < psychometrics::kSmallSample &&
        !ui::Confirm(
            QStringLiteral("В группе только %1 человек (меньше %2): нормы по такой выборке ненадёжны. "
                           "Всё равно записать их?")
                .arg(s.n)
                .arg(psychometrics::kSmallSample))) {
        LabelSample->setText(figures + QStringLiteral(" — не записано."));
        return;
    }
    // The group's mean row is replaced; its percentile rows stay.
    Table_norm->checkBrowseMode();
    bool found = false;
    for (Table_norm->first(); !Table_norm->eof() && !found; Table_norm->next()) {
        auto whole = [&](const char* f) {
            const db::Variant v = Table_norm->fieldValue(QLatin1String(f));
            return v.isNull() ? std::nullopt : std::optional<int>(int(v.toInt()));
        };
        found = whole("KRIT") == krit &&
                Table_norm->fieldValue(QStringLiteral("POL")).toString().trimmed().toUpper() == sex &&
                whole("VOZROT") == from && whole("VOZRDO") == to &&
                !Table_norm->fieldValue(QStringLiteral("SRED")).isNull();
        if (found) break;
    }
    if (found) {
        Table_norm->edit();
    } else {
        Table_norm->append();
        Table_norm->setFieldValue(QStringLiteral("KRIT"), {krit});
        Table_norm->setFieldValue(QStringLiteral("POL"), {sex});
        if (from) Table_norm->setFieldValue(QStringLiteral("VOZROT"), {*from});
        if (to) Table_norm->setFieldValue(QStringLiteral("VOZRDO"), {*to});
    }
    Table_norm->setFieldValue(QStringLiteral("SRED"), {*s.mean});
    Table_norm->setFieldValue(QStringLiteral("SIGMA"), {*s.sd});
    Table_norm->setFieldValue(QStringLiteral("KOLVO"), {double(s.n)});
    Table_norm->post();
    LabelSample->setText(figures + QStringLiteral(" — записано."));
}

void TFormNorms::FormClose(ui::CloseAction& action) {
    (void)action;
    if (Table_norm) Table_norm->checkBrowseMode();
}

QAction* AddNormsItem(QMenu* menu) {
    QAction* a = menu->addAction(QStringLiteral("Нормы…"));
    a->setObjectName(QStringLiteral("MenuNorms"));
    a->setStatusTip(QStringLiteral("Нормы выбранного теста по полу и возрасту: ввод и расчёт по выборке"));
    ui::on(a, &QAction::triggered, menu, [] {
        if (!FormNorms) return;
        if (!BD->Table_test->active() || BD->Table_test->isEmpty()) {
            ui::ShowMessage(QStringLiteral("Сначала выберите тест (меню «Тест»)."));
            return;
        }
        FormNorms->open(
            db::Aliases::resolve(QStringLiteral("morv")), int(BD->Table_testNTEST->value().toInt()),
            BD->Table_testNAME->value().toString().trimmed(), int(BD->Table_testKOLKRIT->value().toInt()));
        FormNorms->ShowModal();
    });
    return a;
}
