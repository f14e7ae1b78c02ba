#include "stats/X.h"

#include "stats/Descriptive.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Panel.h"
#include "widgets/StringGrid.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

TFormX* FormX = nullptr;

using stats::NumberError;
using stats::Real;
using stats::store;

namespace {

QString num(qint64 n) {
    return QString::number(n);
}

// A category count as the edits give it: a whole number, 1 when the text is not one. A count
// the grids cannot sensibly hold is refused rather than allowed to exhaust memory.
int categories(const QLineEdit* e, const QString& caption) {
    const std::optional<qint64> k = stats::readWhole64(e->text());
    if (!k) return 1;
    if (*k < 0 || *k > TFormX::kMaxCategories)
        throw NumberError(
            QStringLiteral("В поле \"%1\" число признаков должно быть от 0 до %2; таблица осталась прежней.")
                .arg(caption)
                .arg(TFormX::kMaxCategories));
    return int(*k);
}

QLabel* label(QWidget* panel, const char* name, const QString& text, QPoint at) {
    auto* l = new QLabel(text, panel);
    l->setObjectName(QString::fromLatin1(name));
    l->move(at);
    l->adjustSize();
    return l;
}

QLineEdit* edit(QWidget* panel, const char* name, const QString& text, QRect at) {
    auto* e = new QLineEdit(text, panel);
    e->setObjectName(QString::fromLatin1(name));
    e->setGeometry(at);
    return e;
}

} // namespace

TFormX::TFormX(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormX"));
    setWindowTitle(QStringLiteral("Статистическая обработка (метод хи-квадрат)"));
    setClientSize(655, 407);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    Panel1 = new ui::Panel(this, "Panel1", 81);
    Label2 = label(Panel1, "Label2", QStringLiteral("Признаков (1) :"), {8, 8});
    Edit2 = edit(Panel1, "Edit2", QStringLiteral("2"), {112, 8, 33, 21});
    Label1 = label(Panel1, "Label1", QStringLiteral("Признаков (2) :"), {8, 32});
    Edit1 = edit(Panel1, "Edit1", QStringLiteral("2"), {112, 32, 33, 21});
    Label7 = label(Panel1, "Label7", QStringLiteral("Метод \"Хи-квадрат\""), {275, 16});
    ui::style(Label7, ui::font(QStringLiteral("Times New Roman"), 23, ui::BoldItalic), Qt::red);
    Label7->adjustSize();
    Label3 = label(Panel1, "Label3", QStringLiteral("Эмпирические частоты"), {72, 56});
    Label4 = label(Panel1, "Label4", QStringLiteral("Теоретические частоты"), {408, 56});

    Panel2 = new ui::Panel(this, "Panel2", 159);
    StringGrid1 = new ui::StringGrid(Panel2);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
    StringGrid1->setEditable(true);
    StringGrid1->setAlwaysShowEditor(true);
    StringGrid1->setRowSizing(true);
    StringGrid1->setColSizing(true);
    StringGrid1->setRowMoving(true);
    StringGrid1->setFixedWidth(320);
    StringGrid2 = new ui::StringGrid(Panel2);
    StringGrid2->setObjectName(QStringLiteral("StringGrid2"));
    StringGrid2->setFixedWidth(318);
    auto* middle = new QHBoxLayout(Panel2);
    middle->setContentsMargins(0, 0, 0, 0);
    middle->addWidget(StringGrid1);
    middle->addStretch(1);
    middle->addWidget(StringGrid2);

    Panel3 = new ui::Panel(this, "Panel3", 167);
    Panel4 = new ui::Panel(Panel3, "Panel4", 128);
    Panel4->setGeometry(0, 0, 655, 128);
    Button2 = new QPushButton(QStringLiteral("Посчитать Хи-квадрат"), Panel4);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(8, 16, 185, 25);
    Label5 = label(Panel4, "Label5", QStringLiteral("Хи-квадрат="), {8, 56});
    EditX = edit(Panel4, "EditX", QStringLiteral("0"), {104, 48, 97, 21});
    Label6 = label(Panel4, "Label6", QStringLiteral("Степеней свободы :"), {8, 88});
    EditN = edit(Panel4, "EditN", QStringLiteral("0"), {144, 80, 57, 21});
    StringGrid3 = new ui::StringGrid(Panel4);
    StringGrid3->setObjectName(QStringLiteral("StringGrid3"));
    StringGrid3->setGeometry(216, 32, 425, 57);
    Button1 = new QPushButton(QStringLiteral("Закрыть"), Panel3);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(280, 136, 107, 25);
    setCancelButton(Button1);

    auto* lay = ui::column(this);
    lay->addWidget(Panel1);
    lay->addWidget(Panel2);
    lay->addWidget(Panel3);

    FormCreate();

    // Connected after the default texts, so that setting them resizes nothing.
    ui::on(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    ui::on(Edit2, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    ui::on(StringGrid1, &ui::StringGrid::setEditText, this, [this] { StringGrid1SetEditText(); });
    ui::on(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    ui::on(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TFormX::FormCreate() {
    StringGrid1->setColCount(4);
    StringGrid1->setRowCount(4);
    for (int i = 1; i <= 3; ++i) {
        StringGrid1->setCell(i, 0, num(i));
        StringGrid1->setCell(0, i, num(i));
    }
    const char* example[3][3] = {{"13", "2", "15"}, {"5", "10", "15"}, {"18", "12", "30"}};
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c)
            StringGrid1->setCell(c, r, QString::fromLatin1(example[r - 1][c - 1]));

    StringGrid2->setColCount(4);
    StringGrid2->setRowCount(4);

    StringGrid3->setColCount(11);
    StringGrid3->setRowCount(2);
    StringGrid3->setDefaultColWidth(37);
    const QStringList critical = {"3.84", "5.99", "7.81", "9.49", "11.1",
                                  "12.6", "14.1", "15.5", "16.9", "18.3"};
    StringGrid3->setCell(0, 0, QStringLiteral("N"));
    StringGrid3->setCell(0, 1, QStringLiteral("X2"));
    for (int i = 1; i <= 10; ++i) {
        StringGrid3->setCell(i, 0, num(i));
        StringGrid3->setCell(i, 1, critical[i - 1]);
    }
}

void TFormX::Edit1Change() {
    const int k2 = categories(Edit1, Label1->text());
    const int k1 = categories(Edit2, Label2->text());
    for (ui::StringGrid* g : {StringGrid1, StringGrid2}) {
        g->setRowCount(k2 + 2);
        g->setColCount(k1 + 2);
        // Only the headers: the other texts stay where they are until the next edit of a cell.
        for (int c = 1; c <= k1 + 1; ++c)
            g->setCell(c, 0, num(c));
        for (int r = 1; r <= k2 + 1; ++r)
            g->setCell(0, r, num(r));
    }
}

void TFormX::StringGrid1SetEditText() {
    ui::StringGrid* g = StringGrid1;
    const int k1 = g->colCount() - 2;
    const int k2 = g->rowCount() - 2;
    // One pass over the counts for both kinds of totals. Whole counts of 32 bits sum without
    // overflow in 64 bits, however many categories.
    std::vector<qint64> colSums(size_t(std::max(k1, 0)) + 1), rowSums(size_t(std::max(k2, 0)) + 1);
    for (int c = 1; c <= k1; ++c)
        for (int r = 1; r <= k2; ++r) {
            const qint64 v = stats::readWhole(g->cell(c, r), 0);
            colSums[c] += v;
            rowSums[r] += v;
        }
    for (int c = 1; c <= k1; ++c)
        g->setCell(c, k2 + 1, num(colSums[c]));
    qint64 grand = 0;
    for (int r = 1; r <= k2; ++r) {
        g->setCell(k1 + 1, r, num(rowSums[r]));
        grand += rowSums[r]; // the row totals as written, read back
    }
    g->setCell(k1 + 1, k2 + 1, num(grand));

    // The expected frequencies from the totals as shown, each total read once.
    const Real n = store(grand);
    std::vector<Real> rowTotals(rowSums.size());
    for (int r = 1; r <= k2; ++r)
        rowTotals[r] = store(rowSums[r]);
    for (int c = 1; c <= k1; ++c) {
        const Real col = store(colSums[c]);
        for (int r = 1; r <= k2; ++r)
            // A zero grand total has no expected frequencies: the cells stay empty while typing,
            // and the chi-square button says why.
            StringGrid2->setCell(
                c, r, n != 0 ? stats::fixed4(stats::expectedFrequency(col, rowTotals[r], n)) : QString());
    }
    for (int c = 1; c <= k1 + 1; ++c)
        StringGrid2->setCell(c, k2 + 1, g->cell(c, k2 + 1));
    for (int r = 1; r <= k2; ++r)
        StringGrid2->setCell(k1 + 1, r, g->cell(k1 + 1, r));
}

void TFormX::Button2Click() {
    // A count the grids refused must not give degrees of freedom of a table not shown.
    categories(Edit1, Label1->text());
    categories(Edit2, Label2->text());
    const int k1 = StringGrid1->colCount() - 2;
    const int k2 = StringGrid1->rowCount() - 2;
    if (k1 < 1 || k2 < 1)
        throw NumberError(QStringLiteral("В таблице нет ни одной частоты: число признаков равно 0."));
    // The observed counts are checked first, as the user typed them: a bad count is named even
    // when it has made some expected frequency unusable. Nothing is written before every cell
    // has passed, so a refusal leaves both results.
    std::vector<qint64> counts;
    for (int c = 1; c <= k1; ++c)
        for (int r = 1; r <= k2; ++r) {
            const QString o = StringGrid1->cell(c, r);
            const std::optional<qint64> count = stats::readWhole64(o);
            // The same 32-bit reading as the totals, so that no count is left out of them.
            if (!count || *count < 0 || *count > INT32_MAX)
                throw NumberError(QStringLiteral("Эмпирическая частота в ячейке (%1, %2) — \"%3\" — не целое "
                                                 "число от 0 до 2147483647.")
                                      .arg(c)
                                      .arg(r)
                                      .arg(o));
            counts.push_back(*count);
        }
    Real chi = 0;
    auto count = counts.begin();
    for (int c = 1; c <= k1; ++c)
        for (int r = 1; r <= k2; ++r) {
            const std::optional<Real> e = stats::readDecimal(StringGrid2->cell(c, r));
            if (!e)
                throw NumberError(
                    QStringLiteral("Теоретическая частота в ячейке (%1, %2) не вычислена: измените "
                                   "любую эмпирическую частоту, и она будет пересчитана.")
                        .arg(c)
                        .arg(r));
            if (*e <= 0)
                throw NumberError(
                    QStringLiteral("Теоретическая частота в ячейке (%1, %2) равна %3: хи-квадрат "
                                   "не определён.")
                        .arg(c)
                        .arg(r)
                        .arg(StringGrid2->cell(c, r)));
            const Real observed = store(Real(*count++));
            const Real expected = store(*e);
            chi = stats::addChiSquareTerm(chi, observed, expected);
        }
    // The degrees of freedom take the category texts as decimals, while the grid took them as
    // whole numbers: "3.0" counts 3 here.
    const Real a = stats::readNumber(Edit1->text(), Label1->text());
    const Real b = stats::readNumber(Edit2->text(), Label2->text());
    const Real df = stats::degreesOfFreedom(a, b);
    EditX->setText(stats::fixed4(chi));
    EditN->setText(stats::width2(df));
}

void TFormX::Button1Click() {
    Close();
}
