#include "testing/Test.h"

#include "Fault.h"
#include "FaultText.h"
#include "data/DM.h"
#include "scoring/Run.h"
#include "services/Answers.h"
#include "services/IndexRepair.h"
#include "widgets/DBMemo.h"
#include "widgets/DBText.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/Panel.h"
#include "widgets/RadioGroup.h"
#include "widgets/UpDown.h"

#include <QDate>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

TFormTest* FormTest = nullptr;

namespace {

// The window was designed at 120 pixels per inch; sizes in points convert at that density.
constexpr int kDesignPpi = 120;
int pointsToPixels(int points) {
    return (points * kDesignPpi + 36) / 72;
}

QFont headerFont() {
    return ui::font(QStringLiteral("Times New Roman Cyr"), 17);
}

QLabel* label(QWidget* parent, const char* name, const QString& text, const QString& hint = QString()) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    ui::style(l, headerFont(), Qt::black);
    l->setStatusTip(hint);
    return l;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, const QString& hint) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setStatusTip(hint);
    return b;
}

} // namespace

TFormTest::TFormTest(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormTest"));
    setWindowTitle(QStringLiteral("Тестирование"));
    setClientSize(578, 412);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));
    setHelpContext(6);
    setPopupHelp(true);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowContextHelpButtonHint | Qt::WindowCloseButtonHint);

    auto* lay = ui::column(this);
    buildHeader();
    lay->addWidget(Panel2);

    DBMemoTEXTV = new ui::DBMemo(this);
    DBMemoTEXTV->setObjectName(QStringLiteral("DBMemoTEXTV"));
    DBMemoTEXTV->setDataSource(BD->DS_vopros);
    DBMemoTEXTV->setDataField(QStringLiteral("TEXTV"));
    // The testee reads the question; editing it belongs to test construction.
    DBMemoTEXTV->setReadOnly(true);
    DBMemoTEXTV->setFixedHeight(80);
    DBMemoTEXTV->setStatusTip(QStringLiteral("Текст вопроса на который необходимо ответить"));
    lay->addWidget(DBMemoTEXTV);

    RadioGroupOtvet = new ui::RadioGroup(this);
    RadioGroupOtvet->setObjectName(QStringLiteral("RadioGroupOtvet"));
    RadioGroupOtvet->setTitle(QStringLiteral("Ответы :"));
    RadioGroupOtvet->setColumns(2);
    RadioGroupOtvet->setStatusTip(QStringLiteral("Ответы на текущий вопрос, выбор левой кнопкой мышки"));
    setAnswerFont(answerPoints_);
    lay->addWidget(RadioGroupOtvet, 1);

    buildButtons();
    lay->addWidget(Panel1);
    setCancelButton(ButtonClose);

    ui::on(ButNext, &QPushButton::clicked, this, [this] { ButNextClick(); });
    ui::on(ButPrior, &QPushButton::clicked, this, [this] { ButPriorClick(); });
    ui::on(EditVopr, &QLineEdit::textChanged, this, [this] { EditVoprChange(); });
    ui::on(RadioGroupOtvet, &ui::RadioGroup::clicked, this, [this] { RadioGroupOtvetClick(); });
    ui::on(ButtonDown, &QPushButton::clicked, this, [this] { ButtonDownClick(); });
    ui::on(ButtonUp, &QPushButton::clicked, this, [this] { ButtonUpClick(); });
    ui::on(ButtonClose, &QPushButton::clicked, this, [this] { ButCloseClick(); });
}

void TFormTest::buildHeader() {
    Panel2 = new ui::Panel(this, "Panel2", 49);
    const QString number = QStringLiteral("Номер текущего вопроса");
    const QString jump = QStringLiteral("Перейти к вопросу");
    Label1 = label(Panel2, "Label1", QStringLiteral("Вопрос № "), number);
    DBTextNVOPR = new ui::DBText(Panel2);
    DBTextNVOPR->setObjectName(QStringLiteral("DBTextNVOPR"));
    DBTextNVOPR->setDataSource(BD->DS_vopros);
    DBTextNVOPR->setDataField(QStringLiteral("NVOPR"));
    ui::style(DBTextNVOPR, headerFont(), Qt::black);
    DBTextNVOPR->setStatusTip(number);
    DBTextNVOPR->setMinimumWidth(30);
    Label4 = label(Panel2, "Label4", QStringLiteral("из"));
    LabelVopr = label(Panel2, "LabelVopr", QStringLiteral("1"));
    Label2 = label(Panel2, "Label2", QStringLiteral("Перейти к"), jump);
    EditVopr = new QLineEdit(QStringLiteral("1"), Panel2);
    EditVopr->setObjectName(QStringLiteral("EditVopr"));
    ui::style(EditVopr, headerFont(), Qt::black);
    EditVopr->setFixedWidth(41);
    EditVopr->setStatusTip(QStringLiteral("Введите номер вопроса на который желаете ответить"));
    EditVopr->setAccessibleName(jump); // the captions on both sides of the box, as one

    UpDownVopr = new ui::UpDown(Panel2);
    UpDownVopr->setObjectName(QStringLiteral("UpDownVopr"));
    UpDownVopr->setMin(1);
    UpDownVopr->setMax(1);
    UpDownVopr->setPosition(1);
    UpDownVopr->setAssociate(EditVopr);
    UpDownVopr->setStatusTip(jump);
    UpDownVopr->setFixedSize(17, EditVopr->sizeHint().height());
    Label3 = label(Panel2, "Label3", QStringLiteral("вопросу."), jump);

    auto* row = new QHBoxLayout(Panel2);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(6);
    for (QWidget* w : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(DBTextNVOPR),
                       static_cast<QWidget*>(Label4), static_cast<QWidget*>(LabelVopr)})
        row->addWidget(w);
    row->addStretch(1);
    row->addWidget(Label2);
    row->addWidget(EditVopr);
    row->addSpacing(-6);
    row->addWidget(UpDownVopr);
    row->addWidget(Label3);
}

void TFormTest::buildButtons() {
    Panel1 = new ui::Panel(this, "Panel1", 41);
    ButPrior = button(Panel1, "ButPrior", QStringLiteral("<<< &Предыдущий"),
                      QStringLiteral("Перейти к предыдущему вопросу"));
    ButNext = button(Panel1, "ButNext", QStringLiteral("&Следующий >>>"),
                     QStringLiteral("Перейти к следующему вопросу"));
    ButtonDown =
        button(Panel1, "ButtonDown", QStringLiteral("\\/"), QStringLiteral("Уменьшить шрифт ответа"));
    ButtonUp = button(Panel1, "ButtonUp", QStringLiteral("/\\"), QStringLiteral("Увеличить шрифт ответа"));
    ButtonClose = button(Panel1, "ButtonClose", QStringLiteral("&Закрыть"),
                         QStringLiteral("Закрыть форму, на уже отсвеченные вопросы ответы сохраняются"));
    for (QPushButton* b : {ButPrior, ButNext, ButtonClose}) {
        ui::style(b, headerFont(), Qt::black);
        b->setFixedSize(150, 29);
    }
    for (QPushButton* b : {ButtonDown, ButtonUp}) {
        b->setFixedSize(20, 20);
        b->setToolTip(b->statusTip());
        b->setAccessibleName(b->statusTip()); // the captions are drawn arrows, not words
    }
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(8);
    row->addWidget(ButPrior);
    row->addWidget(ButNext);
    row->addStretch(1);
    row->addWidget(ButtonDown);
    row->addSpacing(-6);
    row->addWidget(ButtonUp);
    row->addSpacing(24);
    row->addWidget(ButtonClose);
}

void TFormTest::FormActivate() {
    Table* vopros = BD->Table_vopros;
    vopros->last();
    // The count shown is the last question's number, not a count of rows.
    const int n = int(BD->Table_voprosNVOPR->asInteger());
    UpDownVopr->setMax(n);
    UpDownVopr->setMin(1);
    LabelVopr->setText(QString::number(n));
    vopros->first();
    ShowVopr();
}

void TFormTest::ShowVopr() {
    // Until this question's row is known, a click must not land on the previous question's row.
    answerRec_ = -1;
    RadioGroupOtvet->clearItems();

    const int64_t nvopr = BD->Table_voprosNVOPR->asInteger();
    const QString text = QString::number(nvopr);
    if (EditVopr->text() != text) {
        // The changed jump box finds this same question and shows it; showing it here as well
        // would only repeat the work. Its failure stops this step too, with one message.
        {
            const QSignalBlocker quiet(EditVopr);
            EditVopr->setText(text);
        }
        if (jump()) return;
    }

    // A question without an answer set shows no options; its run row is still made.
    if (scoring::narrowToAnswerSet())
        for (Table* otvet = BD->Table_otvet; !otvet->eof(); otvet->next())
            RadioGroupOtvet->addItem(BD->Table_otvetOTVET->asString());

    // A blank column count lays the options out in one column, as 0 does.
    const db::Variant kol = BD->Table_voprosKOL->value();
    RadioGroupOtvet->setColumns(kol.isNull() ? 0 : int(kol.toInt()));

    bool made = false;
    try {
        answerRec_ = findOrMakeAnswerRow(-1, made);
    } catch (const db::DatabaseError& e) {
        // A disk that takes nothing is told by the click that needs it, once per click, not also
        // by every question shown: the click makes the row then.
        if (const db::Fault f = db::faultOf(e).fault; f != db::Fault::Disk && f != db::Fault::ReadOnly) throw;
        qWarning("%s", e.what());
        answerRec_ = -1;
        return;
    }
    if (!made) RadioGroupOtvet->setItemIndex(storedChoice(uint32_t(answerRec_)));
}

std::vector<db::Variant> TFormTest::answerKey() const {
    return {BD->Table_anketNOMU->asInteger(), BD->Table_anketNOMTESTIR->asInteger(),
            BD->Table_testNTEST->asInteger(), BD->Table_voprosNVOPR->asInteger()};
}

uint32_t TFormTest::findOrMakeAnswerRow(int answer, bool& made) {
    const results::RunKey run{int(BD->Table_anketNOMU->asInteger()),
                              int(BD->Table_anketNOMTESTIR->asInteger()),
                              int(BD->Table_testNTEST->asInteger())};
    const int question = int(BD->Table_voprosNVOPR->asInteger());
    uint32_t rec = 0;
    writeAnswers([&] {
        rec = services::answerRow(BD->Table_rezult, run, question, answer, QDate::currentDate(), &made);
    });
    return rec;
}

void TFormTest::writeAnswers(const std::function<void()>& step) {
    services::Repair repair = services::Repair::None;
    try {
        repair = services::withIndexRepair(BD->Table_rezult, step);
    } catch (const db::DatabaseError& e) {
        if (db::faultOf(e).fault != db::Fault::IndexDamaged) throw;
        qWarning("%s", e.what());
        Close();
        ui::ShowError(
            QStringLiteral("Индекс таблицы ответов (файл «%1») повреждён, и программа не смогла его "
                           "перестроить. Ответ не сохранён, тестирование остановлено. Ответы, данные "
                           "раньше, сохранены. Закройте программу на всех рабочих местах и попросите "
                           "администратора перестроить индекс командой «morv-db reindex» или "
                           "восстановить папку базы данных из резервной копии.")
                .arg(db::shownFile(db::faultOf(e).file)));
        throw ui::Abort();
    }
    if (repair == services::Repair::Made)
        ui::ShowMessage(
            QStringLiteral("Индекс таблицы ответов был повреждён. Программа перестроила его; ответы "
                           "сохраняются, тестирование можно продолжать."));
}

int TFormTest::storedChoice(uint32_t rec) const {
    return services::storedChoice(BD->Table_rezult, rec);
}

void TFormTest::RadioGroupOtvetClick() {
    const int chosen = RadioGroupOtvet->itemIndex();
    try {
        // Another program may have packed or cut the table since the question was shown: the
        // row found then may be gone, or another row may stand in its place.
        if (answerRec_ >= 0 &&
            !BD->Table_rezult->storedHolds(uint32_t(answerRec_), services::kAnswerKey, answerKey()))
            answerRec_ = -1;
        if (answerRec_ < 0) {
            // The question's row could not be made when it was shown (a full or read-only disk):
            // make it now, with this choice, or say why not.
            bool made = false;
            answerRec_ = findOrMakeAnswerRow(chosen, made);
            if (made) return;
        }
        writeAnswers([&] { services::recordChoice(BD->Table_rezult, uint32_t(answerRec_), chosen); });
    } catch (...) {
        // The screen must not show a choice the table does not hold.
        int shown = -1;
        if (answerRec_ >= 0) {
            try {
                shown = storedChoice(uint32_t(answerRec_));
            } catch (...) {
            }
        }
        RadioGroupOtvet->setItemIndex(shown);
        // The next click looks for the row again rather than trust one a write could not reach.
        answerRec_ = -1;
        throw;
    }
}

void TFormTest::keyPressEvent(QKeyEvent* e) {
    // Digits typed into the jump box stay there: the box takes them before the window does.
    const int option = e->key() - Qt::Key_1;
    if (e->modifiers() == Qt::NoModifier && option >= 0 && option < 9) {
        if (QRadioButton* b = RadioGroupOtvet->button(option)) {
            b->setFocus(Qt::ShortcutFocusReason);
            // As a click: the choice is stored at once, or the group shows what is stored.
            if (!b->isChecked()) b->click();
        }
        return;
    }
    if (e->key() == Qt::Key_PageDown && ButNext->isEnabled()) return ButNext->click();
    if (e->key() == Qt::Key_PageUp && ButPrior->isEnabled()) return ButPrior->click();
    ui::Form::keyPressEvent(e);
}

void TFormTest::ButNextClick() {
    BD->Table_vopros->next();
    ShowVopr();
}

void TFormTest::ButPriorClick() {
    BD->Table_vopros->prior();
    ShowVopr();
}

void TFormTest::EditVoprChange() {
    jump();
}

bool TFormTest::jump() {
    const QString text = EditVopr->text();
    if (text.isEmpty()) return false;
    const int64_t a = db::Variant(text).toInt();
    if (a < 1 || a > UpDownVopr->max()) return false;
    BD->Table_vopros->locate(QStringLiteral("NVOPR"), {a});
    ShowVopr();
    return true;
}

void TFormTest::setAnswerFont(int points) {
    answerPoints_ = std::max(points, 1);
    ui::style(RadioGroupOtvet, ui::font(QStringLiteral("Times New Roman Cyr"), pointsToPixels(answerPoints_)),
              Qt::black);
}

void TFormTest::ButtonDownClick() {
    setAnswerFont(answerPoints_ - 1);
}

void TFormTest::ButtonUpClick() {
    setAnswerFont(answerPoints_ + 1);
}

void TFormTest::ButCloseClick() {
    RadioGroupOtvet->clearItems();
    Close();
}

void TFormTest::FormClose(ui::CloseAction& action) {
    (void)action;
    RadioGroupOtvet->clearItems();
}
