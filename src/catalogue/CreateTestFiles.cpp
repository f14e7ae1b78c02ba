// «Экспорт теста…» and «Импорт теста…» of the test construction window.
#include "catalogue/CreateTest.h"

#include "data/DM.h"
#include "dataset/Aliases.h"
#include "exchange/AnyFile.h"
#include "exchange/Catalogue.h"
#include "exchange/Checks.h"
#include "widgets/Messages.h"

#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QSaveFile>

namespace {

QString database() {
    return db::Aliases::resolve(QStringLiteral("morv"));
}

} // namespace

void TFormCreateTest::ButtonExportClick() {
    bool ok = false;
    const int number = EditTest->text().trimmed().toInt(&ok);
    if (!ok || number < 1) {
        ui::ShowError(QStringLiteral(
            "Введите в поле над кнопкой «Fltr_On» номер теста, который нужно сохранить в файл."));
        return;
    }
    exchange::TestFile test = exchange::readTest(database(), number);
    if (test.licence && test.licence->noPassingOn) {
        if (!ui::Confirm(
                QStringLiteral("Условия использования теста «%1» запрещают передавать его другим (%2).\n"
                               "Сохранить только его устройство — вопросы и ответы без текстов, без "
                               "баллов, ключа и интерпретаций?")
                    .arg(test.name, test.licence->terms)))
            return;
        test = exchange::structureOnly(std::move(test));
    }
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Файл теста"),
                                                QStringLiteral("тест-%1.json").arg(number),
                                                QStringLiteral("Файлы тестов (*.json)"));
    if (path.isEmpty()) return;
    if (!path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive)) path += QLatin1String(".json");
    QSaveFile file(path);
    const QByteArray bytes = exchange::write(test);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ui::ShowError(QStringLiteral("Не удалось записать файл %1: %2").arg(path, file.errorString()));
        return;
    }
    QString said = QStringLiteral("Тест «%1» сохранён в файл %2.").arg(test.name, path);
    try {
        exchange::check(test);
    } catch (const exchange::ExchangeError& e) {
        said += QStringLiteral("\nНо в другой базе этот файл не примут, пока тест не исправлен: %1")
                    .arg(e.message());
    }
    ui::ShowMessage(said);
}

void TFormCreateTest::ButtonImportClick() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Файл теста"), QString(),
        QStringLiteral(
            "Файлы тестов (*.json);;Словарь данных REDCap или таблица (*.csv);;Активность ReproSchema "
            "(*.jsonld *.json *);;Все файлы (*)"));
    if (path.isEmpty()) return;
    exchange::Brought brought;
    try {
        brought = exchange::fromAnyFile(path);
    } catch (const exchange::ExchangeError& e) {
        ui::ShowError(QStringLiteral("Файл %1 не принят: %2").arg(path, e.message()));
        return;
    }
    const exchange::TestFile& test = brought.test;
    // Whatever another tool's file could not give is said before a row is written.
    if (!brought.report.isEmpty() &&
        !ui::Confirm(
            QStringLiteral("Из файла %1 будет добавлен тест «%2»: вопросов — %3, наборов ответов — %4.\n"
                           "Не перенесено:\n• %5\nДобавить тест?")
                .arg(path, test.name)
                .arg(test.questions.size())
                .arg(test.answerSets.size())
                .arg(brought.report.join(QStringLiteral("\n• ")))))
        return;
    exchange::Imported done;
    try {
        done = exchange::importTest(database(), test, false);
    } catch (const exchange::SameNameError& e) {
        if (!ui::Confirm(e.message() +
                         QStringLiteral(".\nДобавить тест из файла как новый, под другим номером?")))
            return;
        done = exchange::importTest(database(), test, true);
    } catch (const exchange::ExchangeError& e) {
        ui::ShowError(
            QStringLiteral("Тест из файла не добавлен, в базе ничего не изменилось.\n%1").arg(e.message()));
        return;
    }
    QStringList lines{QStringLiteral("Тест «%1» добавлен под номером %2.").arg(test.name).arg(done.number)};
    for (const auto& [from, to] : done.answerSets)
        if (from != to) lines << QStringLiteral("Набор ответов %1 записан под номером %2.").arg(from).arg(to);
    lines << done.notes;
    // The grids show what is stored now, narrowed to the new test.
    BD->Table_otvet->refresh();
    EditTest->setText(QString::number(done.number));
    ButtonTestClick();
    ui::ShowMessage(lines.join(QLatin1Char('\n')));
}
