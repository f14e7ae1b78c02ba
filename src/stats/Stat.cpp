#include "stats/Stat.h"

#include "data/DM.h"
#include "stats/Descriptive.h"
#include "stats/X.h"
#include "widgets/DBGrid.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/Panel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFormStat* FormStat = nullptr;

using stats::NumberError;
using stats::Real;
using stats::store;

namespace {

QStringList linesOf(const QPlainTextEdit* memo) {
    return memo->toPlainText().split(QLatin1Char('\n'));
}

void requireOpen(const db::Query* q, int series) {
    if (!q->active())
        throw NumberError(
            QStringLiteral("Запрос %1 не выполнен: исправьте его текст и нажмите \"Выполнить запрос\".")
                .arg(series));
}

// Runs fn on the value of each row (its second column), in the result's order; returns the row
// count. The rows are read in place and the cursor then put on the last one, where stepping
// through them would leave it: a grid following every step would cost far more than the sums.
template <typename Fn> int eachValue(db::Query* q, int series, Fn fn) {
    requireOpen(q, series);
    const db::Field* f = q->fieldAt(1);
    const int n = q->recordCount();
    for (int row = 0; row < n; ++row)
        fn(q->valueAt(row, f));
    q->last();
    return n;
}

int rowsOf(db::Query* q, int series) {
    requireOpen(q, series);
    return q->recordCount();
}

// The number an edit shows, as a 6-byte real; a text that is not one stops the step.
Real readEdit(const QLineEdit* e, const QString& what) {
    return stats::readNumber(e->text(), what);
}

QString seriesText(int n) {
    return n == 1 ? QStringLiteral("первого запроса") : QStringLiteral("второго запроса");
}

QString noRows(int series, const QString& what) {
    return QStringLiteral("Запрос %1 не вернул ни одной строки: %2 не вычисляется.").arg(series).arg(what);
}

QPushButton* button(QWidget* panel, const char* name, const QString& caption, QRect at) {
    auto* b = new QPushButton(caption, panel);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(at);
    return b;
}

QLineEdit* edit(QWidget* panel, const char* name, QRect at) {
    auto* e = new QLineEdit(QStringLiteral("0"), panel);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(at);
    return e;
}

} // namespace

TFormStat::TFormStat(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormStat"));
    setWindowTitle(QStringLiteral("Статистика"));
    setClientSize(592, 507);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    Panel1 = new ui::Panel(this, "Panel1", 41);
    Label1 = new QLabel(QStringLiteral("Статистический анализ"), Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    ui::style(Label1, ui::font(QStringLiteral("Times New Roman"), 27, ui::BoldItalic), Qt::red);
    Label1->setGeometry(8, 4, 400, 33);
    Button7 = button(Panel1, "Button7", QStringLiteral("Хи-квадрат"), {480, 8, 105, 25});

    Panel2 = new ui::Panel(this, "Panel2");
    buildSeries(Panel2, 8, "MemoSQL1", "ButtonExec1", "DBGrid1", MemoSQL1, ButtonExec1, DBGrid1);
    buildSeries(Panel2, 304, "MemoSQL2", "ButtonExec2", "DBGrid2", MemoSQL2, ButtonExec2, DBGrid2);
    MemoSQL1->setPlainText(QStringLiteral("Select NOM,KRIT1\n  From bd_stat\n  Where NOM<16"));
    MemoSQL2->setPlainText(QStringLiteral("Select NOM,KRIT3\n  From bd_stat\n  Where NOM<16"));
    MemoSQL1->setAccessibleName(QStringLiteral("Первый запрос"));
    MemoSQL2->setAccessibleName(QStringLiteral("Второй запрос"));
    DBGrid1->setAccessibleName(QStringLiteral("Результат первого запроса"));
    DBGrid2->setAccessibleName(QStringLiteral("Результат второго запроса"));
    DBGrid1->setDataSource(BD->DS_1);
    DBGrid2->setDataSource(BD->DS_2);

    Panel3 = new ui::Panel(this, "Panel3", 203);
    const QStringList captions = {QStringLiteral("Средняя"), QStringLiteral("Среднее отклонение"),
                                  QStringLiteral("Дисперсия"), QStringLiteral("Стандартное отклонение")};
    const char* left[4][2] = {{"ButtonSred", "EditSred"},
                              {"ButtonSO", "EditSO"},
                              {"ButtonDisp", "EditDisp"},
                              {"ButtonSto", "EditSto"}};
    const char* right[4][2] = {
        {"Button1", "EditSred2"}, {"Button2", "EditSO2"}, {"Button3", "EditDisp2"}, {"Button4", "EditStO2"}};
    QPushButton* lb[4];
    QPushButton* rb[4];
    QLineEdit* le[4];
    QLineEdit* re[4];
    for (int i = 0; i < 4; ++i) {
        const int y = 8 + 32 * i;
        lb[i] = button(Panel3, left[i][0], captions[i], {8, y, 185, 25});
        le[i] = edit(Panel3, left[i][1], {216, y, 73, 21});
        rb[i] = button(Panel3, right[i][0], captions[i], {306, y, 185, 25});
        re[i] = edit(Panel3, right[i][1], {514, y, 73, 21});
    }
    ButtonSred = lb[0], ButtonSO = lb[1], ButtonDisp = lb[2], ButtonSto = lb[3];
    EditSred = le[0], EditSO = le[1], EditDisp = le[2], EditSto = le[3];
    Button1 = rb[0], Button2 = rb[1], Button3 = rb[2], Button4 = rb[3];
    EditSred2 = re[0], EditSO2 = re[1], EditDisp2 = re[2], EditStO2 = re[3];
    // Each result box is read as the button beside it, for its query.
    for (int i = 0; i < 4; ++i) {
        le[i]->setAccessibleName(captions[i] + QStringLiteral(" первого запроса"));
        re[i]->setAccessibleName(captions[i] + QStringLiteral(" второго запроса"));
    }
    Button5 = button(Panel3, "Button5", QStringLiteral("Коэффициент Браве-Пирсона (корреляция)"),
                     {8, 136, 481, 25});
    EditR = edit(Panel3, "EditR", {512, 136, 73, 21});
    EditR->setAccessibleName(Button5->text());
    Button6 = button(Panel3, "Button6", QStringLiteral("Закрыть"), {232, 168, 121, 25});
    setCancelButton(Button6);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(Panel2, 1);
    lay->addWidget(Panel3);

    ui::on(ButtonExec1, &QPushButton::clicked, this, [this] { ButtonExec1Click(); });
    ui::on(ButtonExec2, &QPushButton::clicked, this, [this] { ButtonExec2Click(); });
    ui::on(ButtonSred, &QPushButton::clicked, this, [this] { ButtonSredClick(); });
    ui::on(ButtonSO, &QPushButton::clicked, this, [this] { ButtonSOClick(); });
    ui::on(ButtonDisp, &QPushButton::clicked, this, [this] { ButtonDispClick(); });
    ui::on(ButtonSto, &QPushButton::clicked, this, [this] { ButtonStoClick(); });
    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    ui::on(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    ui::on(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    ui::on(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    ui::on(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    ui::on(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
    ui::on(Button7, &QPushButton::clicked, this, [this] { Button7Click(); });
}

void TFormStat::buildSeries(QWidget* panel, int x, const char* memo, const char* exec, const char* grid,
                            QPlainTextEdit*& memoOut, QPushButton*& execOut, ui::DBGrid*& gridOut) {
    memoOut = new QPlainTextEdit(panel);
    memoOut->setObjectName(QString::fromLatin1(memo));
    memoOut->setGeometry(x, 8, 281, 73);
    execOut = button(panel, exec, QStringLiteral("Выполнить запрос"), {x, 88, 281, 25});
    gridOut = new ui::DBGrid(panel);
    gridOut->setObjectName(QString::fromLatin1(grid));
    gridOut->setGeometry(x, 120, 281, 137);
}

TFormStat::Series TFormStat::series1() const {
    return {1, BD->Query1, MemoSQL1, EditSred, EditSO, EditDisp, EditSto};
}

TFormStat::Series TFormStat::series2() const {
    return {2, BD->Query2, MemoSQL2, EditSred2, EditSO2, EditDisp2, EditStO2};
}

void TFormStat::reopen(const Series& s) {
    s.query->close();
    s.query->setSql(linesOf(s.memo));
    try {
        s.query->open();
        (void)s.query->recordCount(); // every row read now: a run that fails leaves the query closed
    } catch (...) {
        s.query->close();
        throw;
    }
}

void TFormStat::FormActivate() {
    // A refused text is reported and leaves its query closed; the other query is still set.
    for (const Series& s : {series1(), series2()}) {
        try {
            reopen(s);
        } catch (...) {
            ui::reportCurrentException();
        }
    }
}

void TFormStat::execute(const Series& s) {
    reopen(s); // a refused text stops here: the results of the old text stay for comparison
    for (QLineEdit* e : {s.sred, s.so, s.disp, s.sto})
        e->setText(QStringLiteral("0"));
}

void TFormStat::mean(const Series& s) {
    // Summed as reals: rounding the running sum to a whole number would lose every fraction.
    Real sum = 0;
    const int n =
        eachValue(s.query, s.number, [&](const db::Variant& v) { sum = stats::addValue(sum, v.toDouble()); });
    if (n == 0) throw NumberError(noRows(s.number, QStringLiteral("средняя")));
    s.sred->setText(stats::fixed4(stats::mean(sum, n)));
}

void TFormStat::meanDeviation(const Series& s) {
    const Real m = readEdit(s.sred, QStringLiteral("Средняя ") + seriesText(s.number));
    Real total = 0;
    const int n = eachValue(s.query, s.number, [&](const db::Variant& v) {
        total = stats::addAbsDeviation(total, v.toDouble(), m);
    });
    if (n == 0) throw NumberError(noRows(s.number, QStringLiteral("среднее отклонение")));
    s.so->setText(stats::fixed4(stats::meanDeviation(total, n)));
}

void TFormStat::variance(const Series& s) {
    const Real m = readEdit(s.sred, QStringLiteral("Средняя ") + seriesText(s.number));
    Real total = 0;
    const int n = eachValue(s.query, s.number, [&](const db::Variant& v) {
        total = stats::addSquaredDeviation(total, v.toDouble(), m);
    });
    if (n == 1)
        throw NumberError(
            QStringLiteral("Запрос %1 вернул одну строку: дисперсия по одному значению не определена.")
                .arg(s.number));
    // Below 30 rows the sample estimate; no rows divide 0 by -1 and show 0.0000.
    s.disp->setText(stats::fixed4(stats::variance(total, n)));
}

void TFormStat::standardDeviation(const Series& s) {
    const Real v = readEdit(s.disp, QStringLiteral("Дисперсия ") + seriesText(s.number));
    if (v < 0)
        throw NumberError(QStringLiteral("Дисперсия %1 отрицательна: корень из неё не извлекается.")
                              .arg(seriesText(s.number)));
    s.sto->setText(stats::fixed4(stats::standardDeviation(v)));
}

void TFormStat::ButtonExec1Click() {
    execute(series1());
}
void TFormStat::ButtonExec2Click() {
    execute(series2());
}
void TFormStat::ButtonSredClick() {
    mean(series1());
}
void TFormStat::ButtonSOClick() {
    meanDeviation(series1());
}
void TFormStat::ButtonDispClick() {
    variance(series1());
}
void TFormStat::ButtonStoClick() {
    standardDeviation(series1());
}
void TFormStat::Button1Click() {
    mean(series2());
}
void TFormStat::Button2Click() {
    meanDeviation(series2());
}
void TFormStat::Button3Click() {
    variance(series2());
}
void TFormStat::Button4Click() {
    standardDeviation(series2());
}

void TFormStat::Button5Click() {
    const int n = rowsOf(BD->Query1, 1);
    if (n != rowsOf(BD->Query2, 2)) {
        ui::ShowMessage(QStringLiteral("Не хватает данных для вычисления коэффициента!"));
        return;
    }
    if (n < 2)
        throw NumberError(QStringLiteral("Для коэффициента нужны хотя бы две строки в каждом запросе."));
    const db::Field* x = BD->Query1->fieldAt(1);
    const db::Field* y = BD->Query2->fieldAt(1);
    Real sum = 0;
    for (int row = 0; row < n; ++row) {
        const db::Variant xy =
            db::Variant(double(sum)) + BD->Query1->valueAt(row, x) * BD->Query2->valueAt(row, y);
        sum = store(xy.toDouble());
    }
    BD->Query1->last();
    BD->Query2->last();
    const Real mx = readEdit(EditSred, QStringLiteral("Средняя первого запроса"));
    const Real my = readEdit(EditSred2, QStringLiteral("Средняя второго запроса"));
    const Real sx = readEdit(EditSto, QStringLiteral("Стандартное отклонение первого запроса"));
    const Real sy = readEdit(EditStO2, QStringLiteral("Стандартное отклонение второго запроса"));
    const std::optional<Real> r = stats::correlation(sum, mx, my, sx, sy, n);
    if (!r) throw NumberError(QStringLiteral("Стандартное отклонение равно 0: коэффициент не определён."));
    EditR->setText(stats::fixed4(*r));
}

void TFormStat::Button6Click() {
    Close();
}

void TFormStat::Button7Click() {
    FormX->ShowModal();
}
