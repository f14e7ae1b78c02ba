#include "group/GroupSession.h"
#include "FaultText.h"

#include "data/Schema.h"
#include "group/Addresses.h"
#include "group/GroupWatch.h"
#include "reports/Preview.h"
#include "reports/QrCode.h"
#include "reports/Slips.h"
#include "results/Archive.h"
#include "web/HttpServer.h"
#include "web/TestServer.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/Named.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <set>

TFormGroupSession* FormGroupSession = nullptr;

using ui::named;

namespace {

constexpr int kDefaultPort = 8080;
constexpr int kRefreshMs = 500; // the table follows the class at least once a second

QString listenMessage(const web::ListenError& e, const QString& address, int port) {
    switch (e.error()) {
    case EADDRINUSE:
        return QStringLiteral("Порт %1 занят другой программой (или другим сеансом). Выберите другой порт.")
            .arg(port);
    case EACCES:
        return QStringLiteral("Порт %1 может открыть только администратор компьютера. "
                              "Выберите порт от 1024 и выше, например %2.")
            .arg(port)
            .arg(kDefaultPort);
    case EADDRNOTAVAIL:
        return QStringLiteral("У этого компьютера нет адреса %1 (сеть отключена или адрес сменился). "
                              "Выберите другой адрес.")
            .arg(address);
    default:
        qWarning("cannot listen on %s:%d: %s", qPrintable(address), port, e.what());
        return QStringLiteral("Не удалось открыть адрес %1, порт %2. Выберите другой адрес или порт; если не "
                              "поможет, покажите администратору подробности из журнала программы.")
            .arg(address)
            .arg(port);
    }
}

} // namespace

TFormGroupSession::TFormGroupSession(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormGroupSession"));
    setWindowTitle(QStringLiteral("Групповое тестирование"));
    setClientSize(840, 540);
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 13));

    auto* lay = new QVBoxLayout(this);
    LabelCaption = named(new QLabel(this), "LabelCaption", QStringLiteral("Тест и учреждение сеанса"));
    LabelCaption->setWordWrap(true);
    ui::style(LabelCaption, ui::font(QStringLiteral("Arial"), 16, ui::Bold), QColor(128, 0, 0));
    lay->addWidget(LabelCaption);
    Pages = named(new QStackedWidget(this), "Pages");
    PagePrepare = buildPrepare();
    PageSession = buildSession();
    Pages->addWidget(PagePrepare);
    Pages->addWidget(PageSession);
    lay->addWidget(Pages, 1);

    TimerRefresh = new QTimer(this);
    TimerRefresh->setObjectName(QStringLiteral("TimerRefresh"));
    TimerRefresh->setInterval(kRefreshMs);
    connect(TimerRefresh, &QTimer::timeout, this, &TFormGroupSession::TimerRefreshTimer);
}

TFormGroupSession::~TFormGroupSession() {
    TimerRefresh->stop();
    server_.reset(); // stops listening before the tables close
}

QWidget* TFormGroupSession::buildPrepare() {
    auto* page = named(new QWidget(this), "PagePrepare");
    auto* lay = new QHBoxLayout(page);

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("Кто проходит тест:"), page));
    ListTestees = named(new QListWidget(page), "ListTestees",
                        QStringLiteral("Отметьте тестируемых: каждый получит свой код"));
    left->addWidget(ListTestees, 1);
    auto* picks = new QHBoxLayout;
    ButtonAll = named(new QPushButton(QStringLiteral("Все"), page), "ButtonAll",
                      QStringLiteral("Отметить всех тестируемых учреждения"));
    ButtonNone = named(new QPushButton(QStringLiteral("Никого"), page), "ButtonNone",
                       QStringLiteral("Снять все отметки"));
    ButtonNotTaken =
        named(new QPushButton(QStringLiteral("Не проходившие этот тест"), page), "ButtonNotTaken",
              QStringLiteral("Отметить тех, у кого нет результата этого теста"));
    picks->addWidget(ButtonAll);
    picks->addWidget(ButtonNone);
    picks->addWidget(ButtonNotTaken);
    left->addLayout(picks);
    lay->addLayout(left, 3);

    auto* right = new QVBoxLayout;
    CheckGroupCode =
        named(new QCheckBox(QStringLiteral("Регистрация по коду группы"), page), "CheckGroupCode",
              QStringLiteral("Тестируемые, которых нет в списке, заполняют анкету в браузере по "
                             "общему коду группы и получают свой код"));
    CheckShowScore =
        named(new QCheckBox(QStringLiteral("Показать результат в конце"), page), "CheckShowScore",
              QStringLiteral("Тестируемый увидит свои баллы на последней странице"));
    right->addWidget(CheckGroupCode);
    right->addWidget(CheckShowScore);
    auto* where = new QFormLayout;
    ComboAddress = named(new QComboBox(page), "ComboAddress",
                         QStringLiteral("Адрес этого компьютера, на который заходят тестируемые; 127.0.0.1 — "
                                        "только с этого компьютера"));
    SpinPort = named(new QSpinBox(page), "SpinPort",
                     QStringLiteral("Порт сервера; его нужно открыть в брандмауэре для локальной сети"));
    SpinPort->setRange(0, 65535);
    SpinPort->setSpecialValueText(QStringLiteral("любой свободный"));
    SpinPort->setValue(kDefaultPort);
    where->addRow(QStringLiteral("Адрес :"), ComboAddress);
    where->addRow(QStringLiteral("Порт :"), SpinPort);
    right->addLayout(where);
    ButtonStart = named(new QPushButton(QStringLiteral("Начать сеанс"), page), "ButtonStart",
                        QStringLiteral("Выдать коды и начать приём ответов из браузеров"));
    right->addWidget(ButtonStart);
    right->addStretch(1);
    auto* earlier = named(new QGroupBox(QStringLiteral("Прежние сеансы"), page), "GroupEarlier");
    auto* earlierLay = new QVBoxLayout(earlier);
    ComboSessions = named(new QComboBox(earlier), "ComboSessions",
                          QStringLiteral("Сеансы этого теста в этом учреждении"));
    ButtonResume = named(new QPushButton(QStringLiteral("Возобновить"), earlier), "ButtonResume",
                         QStringLiteral("Открыть сеанс снова с теми же кодами (например, после сбоя)"));
    earlierLay->addWidget(ComboSessions);
    earlierLay->addWidget(ButtonResume);
    right->addWidget(earlier);
    lay->addLayout(right, 2);

    ui::on(ButtonAll, &QPushButton::clicked, this, [this] { ButtonAllClick(); });
    ui::on(ButtonNone, &QPushButton::clicked, this, [this] { ButtonNoneClick(); });
    ui::on(ButtonNotTaken, &QPushButton::clicked, this, [this] { ButtonNotTakenClick(); });
    ui::on(ButtonStart, &QPushButton::clicked, this, [this] { ButtonStartClick(); });
    ui::on(ButtonResume, &QPushButton::clicked, this, [this] { ButtonResumeClick(); });
    return page;
}

QWidget* TFormGroupSession::buildSession() {
    auto* page = named(new QWidget(this), "PageSession");
    auto* lay = new QVBoxLayout(page);

    auto* top = new QHBoxLayout;
    LabelQr = named(new QLabel(page), "LabelQr", QStringLiteral("Адрес для камеры телефона"));
    LabelQr->setFixedSize(180, 180);
    LabelQr->setAlignment(Qt::AlignCenter);
    top->addWidget(LabelQr);
    auto* info = new QVBoxLayout;
    info->addWidget(new QLabel(QStringLiteral("Адрес для тестируемых:"), page));
    LabelAddress = named(new QLabel(page), "LabelAddress",
                         QStringLiteral("Тестируемые открывают этот адрес в браузере и вводят свой код"));
    LabelAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui::style(LabelAddress, ui::font(QStringLiteral("Arial"), 24, ui::Bold), QColor(0, 0, 128));
    info->addWidget(LabelAddress);
    LabelGroupCode = named(new QLabel(page), "LabelGroupCode",
                           QStringLiteral("С этим кодом новый тестируемый заполняет анкету в браузере"));
    LabelGroupCode->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui::style(LabelGroupCode, ui::font(QStringLiteral("Arial"), 16, ui::Bold), QColor(0, 96, 0));
    info->addWidget(LabelGroupCode);
    LabelState = named(new QLabel(page), "LabelState");
    LabelState->setWordWrap(true);
    info->addWidget(LabelState, 1);
    ButtonSlips =
        named(new QPushButton(QStringLiteral("Карточки…"), page), "ButtonSlips",
              QStringLiteral("Напечатать карточки с именем, кодом и адресом для каждого тестируемого"));
    auto* slipsRow = new QHBoxLayout;
    slipsRow->addWidget(ButtonSlips);
    slipsRow->addStretch(1);
    info->addLayout(slipsRow);
    top->addLayout(info, 1);
    lay->addLayout(top);

    GridStatus = named(new QTableWidget(0, 5, page), "GridStatus",
                       QStringLiteral("Тестируемые сеанса: сколько ответов дано и что они делают сейчас"));
    GridStatus->setHorizontalHeaderLabels({QStringLiteral("Тестируемый"), QStringLiteral("Код"),
                                           QStringLiteral("Ответы"), QStringLiteral("Последнее действие"),
                                           QStringLiteral("Состояние")});
    GridStatus->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridStatus->setSelectionMode(QAbstractItemView::SingleSelection);
    GridStatus->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridStatus->verticalHeader()->setVisible(false);
    GridStatus->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    GridStatus->setColumnWidth(1, 70);
    GridStatus->setColumnWidth(2, 70);
    GridStatus->setColumnWidth(3, 150);
    GridStatus->setColumnWidth(4, 230);
    lay->addWidget(GridStatus, 1);
    LabelTotal = named(new QLabel(page), "LabelTotal", QStringLiteral("Итог по сеансу"));
    LabelTotal->setWordWrap(true);
    lay->addWidget(LabelTotal);

    auto* buttons = new QHBoxLayout;
    ButtonNewCode = named(new QPushButton(QStringLiteral("Новый код"), page), "ButtonNewCode",
                          QStringLiteral("Выдать выбранному тестируемому новый код; старый сразу перестанет "
                                         "действовать"));
    ButtonPrepare = named(new QPushButton(QStringLiteral("Новый сеанс…"), page), "ButtonPrepare",
                          QStringLiteral("Вернуться к подготовке сеанса"));
    ButtonEnd = named(new QPushButton(QStringLiteral("Завершить сеанс"), page), "ButtonEnd",
                      QStringLiteral("Коды перестают действовать; данные ответы сохранены"));
    buttons->addWidget(ButtonNewCode);
    buttons->addStretch(1);
    buttons->addWidget(ButtonPrepare);
    buttons->addWidget(ButtonEnd);
    lay->addLayout(buttons);

    ui::on(ButtonSlips, &QPushButton::clicked, this, [this] { ButtonSlipsClick(); });
    ui::on(ButtonNewCode, &QPushButton::clicked, this, [this] { ButtonNewCodeClick(); });
    ui::on(ButtonPrepare, &QPushButton::clicked, this, [this] { ButtonPrepareClick(); });
    ui::on(ButtonEnd, &QPushButton::clicked, this, [this] { ButtonEndClick(); });
    return page;
}

void TFormGroupSession::OpenFor(int org, int test) {
    if (!running_) {
        stopServer();
        if (!archive_) archive_ = std::make_unique<results::Archive>();
        org_ = org;
        test_ = test;
        dir_ = archive_->directory();
        const std::optional<results::TestInfo> t = archive_->test(test);
        const std::optional<results::Institution> o = archive_->institution(org);
        testName_ = t ? t->name : QStringLiteral("№ %1").arg(test);
        orgName_ = o ? o->name : QStringLiteral("№ %1").arg(org);
        if (o && !o->subdivision.isEmpty()) orgName_ += QStringLiteral(", ") + o->subdivision;
        LabelCaption->setText(QStringLiteral("Тест «%1» — %2").arg(testName_, orgName_));
        fillTestees();
        fillSessions();
        const QString chosen = ComboAddress->currentText();
        ComboAddress->clear();
        ComboAddress->addItems(group::listenAddresses());
        if (const int i = ComboAddress->findText(chosen); i >= 0) ComboAddress->setCurrentIndex(i);
        Pages->setCurrentWidget(PagePrepare);
    }
    Show();
    raise();
    activateWindow();
}

void TFormGroupSession::fillTestees() {
    ListTestees->clear();
    for (const results::Testee& t : archive_->testees(org_)) {
        const QString name = t.fullName();
        auto* item =
            new QListWidgetItem(name.isEmpty() ? QStringLiteral("№ %1").arg(t.number) : name, ListTestees);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Unchecked);
        item->setData(Qt::UserRole, t.number);
    }
}

void TFormGroupSession::fillSessions() {
    ComboSessions->clear();
    // A database that never had a session has no session tables: they are made at the first start.
    if (schema::hasTable(dir_, schema::sessionsTable())) {
        std::vector<services::Session> all = ensureServer().sessions().all();
        for (auto s = all.rbegin(); s != all.rend(); ++s)
            if (s->org == org_ && s->test == test_)
                ComboSessions->addItem(QStringLiteral("№ %1 от %2%3")
                                           .arg(s->id)
                                           .arg(s->date.toString(QStringLiteral("dd.MM.yyyy")))
                                           .arg(s->open ? QStringLiteral(" (открыт)") : QString()),
                                       s->id);
    }
    ButtonResume->setEnabled(ComboSessions->count() > 0);
}

web::TestServer& TFormGroupSession::ensureServer() {
    if (!server_) server_ = std::make_unique<web::TestServer>(dir_, QStringLiteral("morv"));
    return *server_;
}

void TFormGroupSession::ButtonAllClick() {
    for (int i = 0; i < ListTestees->count(); ++i)
        ListTestees->item(i)->setCheckState(Qt::Checked);
}

void TFormGroupSession::ButtonNoneClick() {
    for (int i = 0; i < ListTestees->count(); ++i)
        ListTestees->item(i)->setCheckState(Qt::Unchecked);
}

void TFormGroupSession::ButtonNotTakenClick() {
    std::set<int> scored;
    for (const results::RunResult& r : archive_->group(org_, test_))
        if (r.scored()) scored.insert(r.key.testee);
    for (int i = 0; i < ListTestees->count(); ++i) {
        QListWidgetItem* item = ListTestees->item(i);
        item->setCheckState(scored.count(item->data(Qt::UserRole).toInt()) ? Qt::Unchecked : Qt::Checked);
    }
}

void TFormGroupSession::listen() {
    const QString address = ComboAddress->currentText().trimmed();
    const int port = SpinPort->value();
    try {
        ensureServer().start(address, quint16(port));
    } catch (const web::ListenError& e) {
        ui::ShowError(listenMessage(e, address, port));
        throw ui::Abort();
    }
    url_ = group::addressUrl(address, server_->port());
}

void TFormGroupSession::ButtonStartClick() {
    std::vector<int> testees;
    for (int i = 0; i < ListTestees->count(); ++i)
        if (ListTestees->item(i)->checkState() == Qt::Checked)
            testees.push_back(ListTestees->item(i)->data(Qt::UserRole).toInt());
    if (testees.empty() && !CheckGroupCode->isChecked()) {
        ui::ShowError(
            QStringLiteral("Никто не отмечен. Отметьте тестируемых или включите регистрацию по коду "
                           "группы."));
        return;
    }
    listen();
    services::Session s;
    try {
        s = server_->openSession(test_, org_, testees, CheckGroupCode->isChecked(),
                                 CheckShowScore->isChecked());
    } catch (...) {
        stopServer(); // nothing listens for a session that was not stored
        throw;
    }
    showSession(s);
}

void TFormGroupSession::ButtonResumeClick() {
    const int id = ComboSessions->currentData().toInt();
    if (id <= 0) return;
    listen();
    try {
        if (const auto s = server_->sessions().session(id); s && !s->open) server_->reopenSession(id);
        const std::optional<services::Session> s = server_->sessions().session(id);
        if (!s) throw std::runtime_error("no such session");
        showSession(*s);
    } catch (...) {
        stopServer();
        throw;
    }
}

void TFormGroupSession::showSession(const services::Session& s) {
    session_ = s;
    running_ = true;
    Pages->setCurrentWidget(PageSession);
    LabelAddress->setText(url_);
    // Whole pixels per module, as large as the label allows: a phone camera reads it off the screen.
    const int modules = reports::qrImage(url_, 1).width();
    LabelQr->setPixmap(QPixmap::fromImage(reports::qrImage(url_, std::max(1, LabelQr->width() / modules))));
    LabelGroupCode->setVisible(!s.groupCode.isEmpty());
    LabelGroupCode->setText(QStringLiteral("Код группы: %1").arg(s.groupCode));
    LabelState->setText(QStringLiteral("Сеанс № %1 идёт. Тестируемые открывают адрес в браузере, вводят свой "
                                       "код и отвечают; каждый ответ сохраняется сразу.")
                            .arg(s.id));
    ButtonSlips->setEnabled(true);
    ButtonNewCode->setEnabled(true);
    ButtonEnd->setEnabled(true);
    ButtonPrepare->setEnabled(false);
    GridStatus->setRowCount(0);
    refresh();
    TimerRefresh->start();
}

std::vector<web::TesteeStatus> TFormGroupSession::refresh() {
    std::vector<web::TesteeStatus> status = server_->status(session_.id);
    group::showStatus(GridStatus, status);
    LabelTotal->setText(group::totalsText(status));
    return status;
}

void TFormGroupSession::TimerRefreshTimer() {
    // Never a message box from the timer: one every half second would bury the window.
    try {
        refresh();
    } catch (const std::exception& e) {
        LabelTotal->setText(QStringLiteral("Таблица не обновлена: %1").arg(db::userText(e)));
    }
}

void TFormGroupSession::ButtonSlipsClick() {
    std::vector<reports::Slip> slips;
    for (const web::TesteeStatus& s : refresh())
        slips.push_back({s.name.isEmpty() ? QStringLiteral("№ %1").arg(s.testee) : s.name, s.code});
    reports::preview(reports::slipsReport(testName_, orgName_, url_, slips, session_.groupCode), this);
}

void TFormGroupSession::ButtonNewCodeClick() {
    const int row = GridStatus->currentRow();
    if (row < 0 || !GridStatus->item(row, 0)) {
        ui::ShowError(QStringLiteral("Выберите в таблице тестируемого, которому нужен новый код."));
        return;
    }
    const QPoint who = GridStatus->item(row, 0)->data(Qt::UserRole).toPoint();
    const QString name = GridStatus->item(row, 0)->text();
    if (!ui::Confirm(QStringLiteral("Выдать тестируемому «%1» новый код? Старый код сразу перестанет "
                                    "действовать; данные ответы сохранятся.")
                         .arg(name)))
        return;
    const QString code = server_->renewCode(session_.id, who.x(), who.y());
    refresh();
    LabelState->setText(QStringLiteral("Новый код тестируемого «%1»: %2.").arg(name, code));
}

void TFormGroupSession::ButtonEndClick() {
    const int busy = group::stillAnswering(refresh());
    if (busy > 0 && !ui::Confirm(QStringLiteral("Ещё не закончили тестирование: %1. Завершить сеанс? Данные "
                                                "ответы сохранятся; сеанс можно будет возобновить.")
                                     .arg(busy)))
        return;
    endSession();
}

void TFormGroupSession::endSession() {
    if (!running_) return;
    TimerRefresh->stop();
    server_->closeSession(session_.id);
    session_.open = false;
    running_ = false;
    refresh();
    LabelState->setText(QStringLiteral("Сеанс № %1 завершён: коды больше не действуют, данные ответы "
                                       "сохранены. Его можно возобновить с теми же кодами («Новый сеанс…» → "
                                       "«Прежние сеансы»).")
                            .arg(session_.id));
    ButtonSlips->setEnabled(false);
    ButtonNewCode->setEnabled(false);
    ButtonEnd->setEnabled(false);
    ButtonPrepare->setEnabled(true);
}

void TFormGroupSession::ButtonPrepareClick() {
    OpenFor(org_, test_);
}

void TFormGroupSession::stopServer() {
    TimerRefresh->stop();
    if (server_) server_->stop();
}

bool TFormGroupSession::MayClose() {
    if (!running_) return true;
    const int busy = group::stillAnswering(refresh());
    if (busy > 0 &&
        !ui::Confirm(QStringLiteral("Ещё не закончили тестирование: %1. Закрыть окно и завершить "
                                    "сеанс? Данные ответы сохранятся; сеанс можно будет возобновить.")
                         .arg(busy)))
        return false;
    endSession();
    return true;
}

void TFormGroupSession::FormClose(ui::CloseAction& action) {
    if (!MayClose()) {
        action = ui::CloseAction::None;
        return;
    }
    stopServer();
}
