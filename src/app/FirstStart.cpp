#include "app/FirstStart.h"
#include "FaultText.h"

#include "PgConnection.h"
#include "PgSchema.h"
#include "SampleData.h"
#include "app/ServerLogin.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"
#include "widgets/PathEdit.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>

namespace {

const QString kAlias = QStringLiteral("morv");

QStringList tablesIn(const QString& dir, bool present) {
    const QStringList files = QDir(dir).entryList(QDir::Files);
    QStringList out;
    for (const auto& t : schema::tables()) {
        const QString name = QString::fromLatin1(t.file);
        const bool there = std::any_of(files.begin(), files.end(), [&](const QString& f) {
            return f.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (there == present) out << name;
    }
    return out;
}

} // namespace

QStringList MissingTables(const QString& dir) {
    return tablesIn(dir, false);
}

QStringList PresentTables(const QString& dir) {
    return tablesIn(dir, true);
}

bool DatabaseAliasBound() {
    try {
        db::Aliases::resolve(kAlias);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool EnsureDatabaseChosen() {
    if (DatabaseAliasBound()) return true;
    TFormFirstStart w;
    return w.ShowModal() == ui::mrOk;
}

TFormFirstStart::TFormFirstStart(QWidget* parent) : ui::Form(parent) {
    setObjectName(QStringLiteral("FormFirstStart"));
    setWindowTitle(QStringLiteral("Первый запуск"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(460, 284);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 14));

    Label1 = new QLabel(QStringLiteral("С какой базой данных работать?"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(12, 10, 436, 20);
    RadioNew = new QRadioButton(QStringLiteral("Новая база данных со стандартными справочниками"), this);
    RadioNew->setObjectName(QStringLiteral("RadioNew"));
    RadioNew->setGeometry(20, 36, 428, 22);
    RadioExisting = new QRadioButton(QStringLiteral("Существующая база данных (папка с её таблицами)"), this);
    RadioExisting->setObjectName(QStringLiteral("RadioExisting"));
    RadioExisting->setGeometry(20, 60, 428, 22);
    RadioDemo = new QRadioButton(QStringLiteral("Демонстрационная база данных"), this);
    RadioDemo->setObjectName(QStringLiteral("RadioDemo"));
    RadioDemo->setGeometry(20, 84, 428, 22);
    RadioServer = new QRadioButton(QStringLiteral("База данных на сервере PostgreSQL"), this);
    RadioServer->setObjectName(QStringLiteral("RadioServer"));
    RadioServer->setGeometry(20, 108, 428, 22);
    RadioNew->setChecked(true);

    Label2 = new QLabel(QStringLiteral("Папка базы данных:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(12, 144, 436, 20);
    EditFolder = new ui::PathEdit(this);
    EditFolder->setObjectName(QStringLiteral("EditFolder"));
    // The whole width, so that a folder's name shows whole; the button goes under it, where the
    // server's hint stands in the other mode.
    EditFolder->setGeometry(12, 166, 436, 26);
    BrowseBtn = new QPushButton(QStringLiteral("Обзор…"), this);
    BrowseBtn->setObjectName(QStringLiteral("BrowseBtn"));
    BrowseBtn->setGeometry(358, 198, 90, 28);
    // The server's address takes the folder's place.
    EditUrl = new QLineEdit(this);
    EditUrl->setObjectName(QStringLiteral("EditUrl"));
    EditUrl->setGeometry(12, 166, 340, 26);
    EditUrl->setPlaceholderText(QStringLiteral("postgresql://пользователь@сервер/база"));
    CheckBtn = new QPushButton(QStringLiteral("Проверить"), this);
    CheckBtn->setObjectName(QStringLiteral("CheckBtn"));
    CheckBtn->setGeometry(358, 165, 90, 28);
    LabelUrlHint =
        new QLabel(QStringLiteral("Например: postgresql://ivanova@server.example/morv?sslmode=verify-full. "
                                  "Пароль программа спросит при входе."),
                   this);
    LabelUrlHint->setObjectName(QStringLiteral("LabelUrlHint"));
    LabelUrlHint->setWordWrap(true);
    LabelUrlHint->setGeometry(12, 196, 436, 36);
    for (QWidget* w : std::initializer_list<QWidget*>{EditUrl, CheckBtn, LabelUrlHint})
        w->hide();

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(262, 242, 90, 28);
    CancelBtn = new QPushButton(QStringLiteral("Отмена"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(358, 242, 90, 28);
    setDefaultButton(OKBtn);
    setCancelButton(CancelBtn);
    setButtonModalResult(CancelBtn, ui::mrCancel);

    EditFolder->setText(suggested());
    for (QRadioButton* r : {RadioNew, RadioExisting, RadioDemo, RadioServer})
        ui::on(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on) choiceChanged();
        });
    ui::on(EditFolder, &QLineEdit::textEdited, this, [this] { typed_ = true; });
    ui::on(BrowseBtn, &QPushButton::clicked, this, [this] { BrowseBtnClick(); });
    ui::on(CheckBtn, &QPushButton::clicked, this, [this] { CheckBtnClick(); });
    ui::on(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
}

QString TFormFirstStart::suggested() const {
    if (RadioExisting->isChecked()) return {};
    QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (docs.isEmpty()) docs = QDir::homePath();
    const QString name = RadioDemo->isChecked()
                             ? QStringLiteral("Психологическое тестирование (демонстрация)")
                             : QStringLiteral("Психологическое тестирование");
    return QDir::toNativeSeparators(QDir(docs).filePath(name));
}

void TFormFirstStart::choiceChanged() {
    const bool server = RadioServer->isChecked();
    Label2->setText(server ? QStringLiteral("Адрес базы данных на сервере:")
                           : QStringLiteral("Папка базы данных:"));
    for (QWidget* w : std::initializer_list<QWidget*>{EditFolder, BrowseBtn})
        w->setVisible(!server);
    for (QWidget* w : std::initializer_list<QWidget*>{EditUrl, CheckBtn, LabelUrlHint})
        w->setVisible(server);
    if (server) return;
    if (!typed_) EditFolder->setText(suggested());
}

namespace {
// The address as typed, checked for its kind; empty after saying what is wrong.
QString typedUrl(const QLineEdit* edit) {
    const QString url = edit->text().trimmed();
    if (url.isEmpty()) {
        ui::ShowError(QStringLiteral("Укажите адрес базы данных на сервере."));
        return {};
    }
    if (!db::isServerLocation(url)) {
        ui::ShowError(QStringLiteral("Адрес базы данных на сервере начинается с postgresql://, например: "
                                     "postgresql://ivanova@server.example/morv?sslmode=verify-full"));
        return {};
    }
    // A password typed into the address serves this run only: it is never written down.
    QString password;
    const QString bare = WithoutPassword(url, &password);
    if (!password.isEmpty()) RememberServerPassword(pg::Connection::safeUrl(bare), password);
    return bare;
}
} // namespace

void TFormFirstStart::CheckBtnClick() {
    const QString url = typedUrl(EditUrl);
    if (url.isEmpty()) return;
    const ServerCheck c = CheckServer(url);
    if (c.result == ServerCheck::Ready)
        ui::ShowMessage(QStringLiteral("Сервер ответил, в базе данных есть все таблицы программы."));
    else if (c.result == ServerCheck::NoTables)
        ui::ShowMessage(
            QStringLiteral("Сервер ответил, но в базе данных ещё нет таблиц программы: по кнопке OK "
                           "программа предложит их создать."));
    else
        ui::ShowError(c.message);
}

bool TFormFirstStart::chooseServer() {
    const QString url = typedUrl(EditUrl);
    if (url.isEmpty()) return false;
    const ServerCheck c = CheckServer(url);
    if (c.result == ServerCheck::Failed) {
        ui::ShowError(c.message);
        return false;
    }
    if (c.result == ServerCheck::NoTables) {
        const QString shown = pg::Connection::safeUrl(url);
        if (!ui::Confirm(
                QStringLiteral("В базе данных %1 ещё нет таблиц программы. Создать их со стандартными "
                               "справочниками?")
                    .arg(shown)))
            return false;
        try {
            // The tables and the dictionaries in one transaction: all of them, or nothing.
            pg::Connection::shared(url)->transaction([&] {
                pg::createDatabase(url);
                sample::fillDictionaries(url);
            });
        } catch (const std::exception& e) {
            qWarning("tables not made in %s: %s", qPrintable(shown), e.what());
            ui::ShowError(QStringLiteral("Таблицы в базе данных %1 не созданы: сервер отказал. Подробности "
                                         "записаны в журнал программы; покажите их администратору сервера "
                                         "(возможно, у вашей роли нет права создавать таблицы).")
                              .arg(shown));
            return false;
        }
    }
    db::Aliases::store(kAlias, url);
    if (url != EditUrl->text().trimmed())
        ui::ShowMessage(
            QStringLiteral("Пароль из адреса не записан в настройки программы: при следующем запуске "
                           "программа спросит его (или запишите его в файл ~/.pgpass)."));
    return true;
}

void TFormFirstStart::BrowseBtnClick() {
    const QString dir =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Папка базы данных"), EditFolder->text());
    if (dir.isEmpty()) return;
    EditFolder->setText(QDir::toNativeSeparators(dir));
    typed_ = true;
}

void TFormFirstStart::OKBtnClick() {
    if (RadioServer->isChecked()) {
        try {
            if (chooseServer()) setModalResult(ui::mrOk);
        } catch (const std::exception& e) {
            ui::ShowError(db::userText(e));
        }
        return;
    }
    const QString dir = QDir::cleanPath(QDir::fromNativeSeparators(EditFolder->text().trimmed()));
    if (EditFolder->text().trimmed().isEmpty()) {
        ui::ShowError(QStringLiteral("Укажите папку базы данных."));
        return;
    }
    const QString shown = QDir::toNativeSeparators(dir);
    if (RadioExisting->isChecked()) {
        if (!QDir(dir).exists()) {
            ui::ShowError(QStringLiteral("Папки %1 нет.").arg(shown));
            return;
        }
        const QStringList missing = MissingTables(dir);
        if (!missing.isEmpty()) {
            ui::ShowError(QStringLiteral("В папке %1 нет таблиц базы данных программы: %2.")
                              .arg(shown, missing.join(QStringLiteral(", "))));
            return;
        }
    } else {
        // A folder with the program's tables is an existing database: never written over.
        const QStringList present = PresentTables(dir);
        if (!present.isEmpty()) {
            ui::ShowError(
                QStringLiteral("В папке %1 уже есть таблицы базы данных (%2). Выберите пустую папку или "
                               "«Существующая база данных».")
                    .arg(shown, present.join(QStringLiteral(", "))));
            return;
        }
        const QStringList before = QDir(dir).entryList(QDir::Files);
        try {
            if (!QDir().mkpath(dir))
                throw std::runtime_error(
                    QStringLiteral("Не удалось создать папку %1.").arg(shown).toStdString());
            schema::createDatabase(dir);
            if (RadioDemo->isChecked())
                sample::fill(dir);
            else
                sample::fillDictionaries(dir);
        } catch (const std::exception& e) {
            // Half a database must not pass for one: take back the files just made.
            for (const QString& f : QDir(dir).entryList(QDir::Files))
                if (!before.contains(f)) QFile::remove(QDir(dir).filePath(f));
            ui::ShowError(db::userText(e));
            return;
        }
    }
    try {
        db::Aliases::store(kAlias, dir);
    } catch (const std::exception& e) {
        ui::ShowError(db::userText(e));
        return;
    }
    setModalResult(ui::mrOk);
}
