#include "app/FirstStart.h"

#include "SampleData.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "widgets/Fonts.h"
#include "widgets/Handler.h"
#include "widgets/Messages.h"

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
    setClientSize(460, 236);
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
    RadioNew->setChecked(true);

    Label2 = new QLabel(QStringLiteral("Папка базы данных:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(12, 120, 436, 20);
    EditFolder = new QLineEdit(this);
    EditFolder->setObjectName(QStringLiteral("EditFolder"));
    EditFolder->setGeometry(12, 142, 340, 26);
    BrowseBtn = new QPushButton(QStringLiteral("Обзор…"), this);
    BrowseBtn->setObjectName(QStringLiteral("BrowseBtn"));
    BrowseBtn->setGeometry(358, 141, 90, 28);

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(262, 194, 90, 28);
    CancelBtn = new QPushButton(QStringLiteral("Отмена"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(358, 194, 90, 28);
    setDefaultButton(OKBtn);
    setCancelButton(CancelBtn);
    setButtonModalResult(CancelBtn, ui::mrCancel);

    EditFolder->setText(suggested());
    for (QRadioButton* r : {RadioNew, RadioExisting, RadioDemo})
        ui::on(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on) choiceChanged();
        });
    ui::on(EditFolder, &QLineEdit::textEdited, this, [this] { typed_ = true; });
    ui::on(BrowseBtn, &QPushButton::clicked, this, [this] { BrowseBtnClick(); });
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
    if (!typed_) EditFolder->setText(suggested());
}

void TFormFirstStart::BrowseBtnClick() {
    const QString dir =
        QFileDialog::getExistingDirectory(this, QStringLiteral("Папка базы данных"), EditFolder->text());
    if (dir.isEmpty()) return;
    EditFolder->setText(QDir::toNativeSeparators(dir));
    typed_ = true;
}

void TFormFirstStart::OKBtnClick() {
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
            ui::ShowError(QString::fromUtf8(e.what()));
            return;
        }
    }
    try {
        db::Aliases::store(kAlias, dir);
    } catch (const std::exception& e) {
        ui::ShowError(QString::fromUtf8(e.what()));
        return;
    }
    setModalResult(ui::mrOk);
}
