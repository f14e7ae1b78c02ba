#include "app/ServerLogin.h"

#include "PgConnection.h"
#include "PgSchema.h"
#include "PgUpgrade.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "widgets/Fonts.h"
#include "widgets/Messages.h"

#include <QApplication>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

TFormServerPassword::TFormServerPassword(const QString& url, const QString& problem, QWidget* parent)
    : ui::Form(parent) {
    setObjectName(QStringLiteral("FormServerPassword"));
    setWindowTitle(QStringLiteral("Пароль для сервера базы данных"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setClientSize(420, 176);
    setFixedSize(size());
    setFont(ui::font(QStringLiteral("MS Sans Serif"), 14));

    const QUrl u(url);
    const QString user = u.userName().isEmpty() ? QStringLiteral("—") : u.userName();
    LabelServer = new QLabel(
        QStringLiteral("Сервер %1 (база данных %2) просит пароль пользователя %3.")
            .arg(u.host().isEmpty() ? QStringLiteral("на этом компьютере") : u.host(), u.path().mid(1), user),
        this);
    LabelServer->setObjectName(QStringLiteral("LabelServer"));
    LabelServer->setWordWrap(true);
    LabelServer->setGeometry(12, 8, 396, 40);
    LabelProblem = new QLabel(
        problem.isEmpty() ? QString() : QStringLiteral("Сервер не принял пароль. Введите его ещё раз."),
        this);
    LabelProblem->setObjectName(QStringLiteral("LabelProblem"));
    LabelProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    LabelProblem->setGeometry(12, 52, 396, 20);
    LabelPassword = new QLabel(QStringLiteral("Пароль:"), this);
    LabelPassword->setObjectName(QStringLiteral("LabelPassword"));
    LabelPassword->setGeometry(12, 82, 80, 24);
    EditPassword = new QLineEdit(this);
    EditPassword->setObjectName(QStringLiteral("EditPassword"));
    EditPassword->setEchoMode(QLineEdit::Password);
    EditPassword->setGeometry(96, 82, 312, 26);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(222, 136, 90, 28);
    CancelBtn = new QPushButton(QStringLiteral("Отмена"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(318, 136, 90, 28);
    setDefaultButton(OKBtn);
    setCancelButton(CancelBtn);
    setButtonModalResult(OKBtn, ui::mrOk);
    setButtonModalResult(CancelBtn, ui::mrCancel);
}

namespace {
QHash<QString, QString>& remembered() {
    static QHash<QString, QString> map;
    return map;
}

QString askPassword(const QString& url, const QString& problem) {
    if (problem.isEmpty() && remembered().contains(url)) return remembered().value(url);
    remembered().remove(url);
    // Only the window thread can ask; a connection of another thread fails with the server's words.
    if (!qApp || QThread::currentThread() != qApp->thread()) return {};
    TFormServerPassword w(url, problem);
    if (w.ShowModal() != ui::mrOk || w.EditPassword->text().isEmpty()) return {};
    remembered().insert(url, w.EditPassword->text());
    return w.EditPassword->text();
}

QString tablesMissingText(const QString& shown, const QStringList& missing) {
    return QStringLiteral("В базе данных %1 нет таблиц программы: %2. Их создаёт администратор командой "
                          "morv-db create.")
        .arg(shown, missing.join(QStringLiteral(", ")));
}

QString connectProblem(const QString& shown, const pg::ConnectError& e) {
    switch (e.kind()) {
    case pg::ConnectError::Kind::BadAddress:
        return QStringLiteral("Адрес базы данных %1 записан неверно или называет неизвестный сервер.\n\n%2")
            .arg(shown, e.detail());
    case pg::ConnectError::Kind::Unreachable:
        return QStringLiteral("Сервер базы данных %1 не отвечает. Проверьте адрес, сеть и то, что сервер "
                              "запущен.\n\n%2")
            .arg(shown, e.detail());
    case pg::ConnectError::Kind::Refused:
        return QStringLiteral("Сервер базы данных %1 отказал во входе. Проверьте имя пользователя, пароль и "
                              "название базы данных.\n\nОтвет сервера: %2")
            .arg(shown, e.detail());
    case pg::ConnectError::Kind::Cancelled:
        break;
    }
    return QStringLiteral("Пароль не введён: база данных на сервере %1 не открыта.").arg(shown);
}

// A database made before the change notices works, but its lists show other workstations'
// changes only when read again: said once a run, with what the administrator runs to mend it.
void tellOfMissingNotices(const QString& url) {
    static QSet<QString> told;
    if (told.contains(url)) return;
    QStringList lacking;
    try {
        lacking = pg::tablesWithoutNotice(url);
    } catch (const db::EngineError&) {
        return; // the tables' own use says what is wrong
    }
    if (lacking.isEmpty()) return;
    told.insert(url);
    const QString shown = pg::Connection::safeUrl(url);
    ui::ShowMessage(
        QStringLiteral("База данных %1 создана прежней версией программы: изменения, сделанные на "
                       "других рабочих местах, появятся в списках не сами, а только когда список "
                       "будет прочитан заново. Работать можно как обычно.\n\nЧтобы списки "
                       "обновлялись сами, администратору базы данных нужно один раз выполнить команду\n"
                       "morv-db upgrade %1")
            .arg(shown));
}
} // namespace

void InstallServerPasswordPrompt() {
    pg::setPasswordPrompt(askPassword);
}

void RememberServerPassword(const QString& url, const QString& password) {
    remembered().insert(url, password);
}

void ForgetServerPasswords() {
    remembered().clear();
}

QString WithoutPassword(const QString& url, QString* password) {
    QUrl u(url);
    QUrlQuery query(u);
    QString pw = u.password();
    if (query.hasQueryItem(QStringLiteral("password"))) {
        if (pw.isEmpty()) pw = query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
        query.removeAllQueryItems(QStringLiteral("password"));
        u.setQuery(query);
    }
    if (password) *password = pw;
    if (pw.isEmpty()) return url; // as typed
    u.setPassword(QString());
    return u.toString();
}

ServerCheck CheckServer(const QString& url) {
    const QString shown = pg::Connection::safeUrl(url);
    ServerCheck out;
    try {
        const QStringList present = pg::existingTables(url); // connects, asking for the password
        QStringList missing;
        for (const auto& t : schema::tables()) {
            const QString name = QString::fromLatin1(t.file).section(QLatin1Char('.'), 0, 0).toLower();
            if (!present.contains(name)) missing << name;
        }
        if (missing.isEmpty()) {
            out.result = ServerCheck::Ready;
        } else {
            out.result = present.isEmpty() ? ServerCheck::NoTables : ServerCheck::Failed;
            out.message = tablesMissingText(shown, missing);
        }
    } catch (const pg::ConnectError& e) {
        out.message = connectProblem(shown, e);
    } catch (const db::EngineError& e) {
        // The server's own words name roles and tables and may be English: they go to the log.
        qWarning("database server %s: %s", qPrintable(shown), e.what());
        out.message =
            QStringLiteral("Сервер базы данных %1 не выполнил проверку базы данных. Подробности записаны в "
                           "журнал программы; покажите их администратору сервера.")
                .arg(shown);
    }
    return out;
}

bool ServerDatabaseReady() {
    QString url;
    try {
        url = db::Aliases::resolve(QStringLiteral("morv"));
    } catch (const db::EngineError&) {
        return true; // the normal start names what is missing
    }
    if (!db::isServerLocation(url)) return true;
    const ServerCheck c = CheckServer(url);
    if (c.result == ServerCheck::Ready) {
        tellOfMissingNotices(url);
        return true;
    }
    ui::ShowError(c.message);
    return false;
}
