#include "FaultText.h"

#include "Errors.h"
#include "Fault.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>

namespace db {

namespace {

QString diskText(const FaultInfo& f) {
    const QString file = shownFile(f.file);
    switch (f.errnum) {
    case ENOSPC:
#ifdef EDQUOT // a quota is a POSIX notion; Windows reports a full quota as ENOSPC
    case EDQUOT:
#endif
    case EFBIG:
        return QStringLiteral("Не удалось записать файл «%1»: на диске нет места. Данные не сохранены. "
                              "Освободите место на диске (или попросите об этом администратора) и повторите "
                              "действие.")
            .arg(file);
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral(
                   "Нет права на запись в файл «%1». Данные не сохранены. Попросите администратора "
                   "дать право записи в папку базы данных.")
            .arg(file);
    default:
        return QStringLiteral(
                   "Не удалось прочитать или записать файл «%1» (ошибка диска или сети). Данные не "
                   "сохранены. Проверьте, доступна ли папка базы данных, и повторите действие.")
            .arg(file);
    }
}

QString faultText(const FaultInfo& f) {
    const QString file = shownFile(f.file);
    switch (f.fault) {
    case Fault::Unknown:
        break;
    case Fault::Disk:
        return diskText(f);
    case Fault::ReadOnly:
        return QStringLiteral(
                   "Таблицу «%1» нельзя изменить: нет права на запись в её файл. Данные не сохранены. "
                   "Попросите администратора дать право записи в папку базы данных.")
            .arg(file);
    case Fault::TableDamaged:
        return QStringLiteral(
                   "Таблица «%1» повреждена (файл обрезан или испорчен). Восстановите её из резервной "
                   "копии; администратор может проверить базу командой «morv-db check».")
            .arg(file);
    case Fault::MemoDamaged:
        return QStringLiteral("Текст из файла «%1» повреждён и не может быть прочитан. Введите текст заново: "
                              "новый текст будет сохранён.")
            .arg(file);
    case Fault::IndexDamaged:
        return QStringLiteral("Индекс таблицы (файл «%1») повреждён, изменения не сохранены. Закройте окно и "
                              "откройте его снова; если сообщение повторится, попросите администратора "
                              "перестроить индекс командой «morv-db reindex».")
            .arg(file);
    case Fault::CharNotHeld:
        if (f.character == QChar(QChar::ReplacementCharacter))
            return QStringLiteral("В поле «%1» есть знаки, которые не удалось прочитать как текст. Введите "
                                  "значение заново русскими или латинскими буквами.")
                .arg(fieldCaption(f.field));
        return QStringLiteral(
                   "В поле «%1» есть символ «%2», который база данных не может сохранить. Замените "
                   "его русской или латинской буквой без знаков и сохраните снова.")
            .arg(fieldCaption(f.field), f.character);
    case Fault::ValueTooWide:
        return QStringLiteral(
                   "Число «%1» не помещается в поле «%2». Введите меньшее число и сохраните снова.")
            .arg(f.character, fieldCaption(f.field));
    case Fault::TooMuchMemory:
        return QStringLiteral("Запросу не хватает памяти: он отбирает слишком много строк. Сузьте условия "
                              "запроса и выполните его снова.");
    case Fault::TableChanged:
        return QStringLiteral("Таблицу «%1» изменила другая программа. Закройте окно и откройте его снова.")
            .arg(file);
    case Fault::Missing:
        return QStringLiteral("Не найдено: %1. Проверьте, что папка базы данных доступна, или выберите её "
                              "заново при запуске программы.")
            .arg(f.file);
    case Fault::NoColumn:
        return QStringLiteral("В результате запроса нет нужного столбца. Проверьте текст запроса: окну нужен "
                              "столбец, которого запрос не выбирает.");
    case Fault::InUse:
        return QStringLiteral(
                   "Запись таблицы «%1» сейчас изменяют на другом рабочем месте. Повторите действие, "
                   "когда там её сохранят.")
            .arg(file);
    }
    return {};
}

// Texts the program shows as they are, whatever the language.
bool fixedText(const QString& text) {
    return text == QLatin1String("Invalid variant type conversion") ||
           text == QLatin1String("Cannot make a visible window modal") ||
           text == QLatin1String("Record locked by another user.") ||
           text.endsWith(QLatin1String("' is not a valid integer value")) ||
           text.endsWith(QLatin1String(" property out of range"));
}

// The program's own messages are Russian already.
bool russian(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

} // namespace

QString shownFile(const QString& path) {
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

QString fieldCaption(const QString& field) {
    static const struct {
        const char* name;
        const char* caption;
    } captions[] = {
        {"FAMTESTIR", "Фамилия"},
        {"NAMETESTIR", "Имя"},
        {"OTCHTESTIR", "Отчество"},
        {"POLTESTIR", "Пол"},
        {"GRTESTIR", "Год рождения"},
        {"NAMEU", "Название учреждения"},
        {"PODRU", "Подразделение"},
        {"TEXT", "Текст"},
        {"TEXTV", "Текст вопроса"},
        {"OTVET", "Ответ"},
        {"UROV", "Уровень"},
        {"NAME", "Название теста"},
        {"XARAKT", "Характеристика теста"},
    };
    for (const auto& c : captions)
        if (field.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return QString::fromUtf8(c.caption);
    return field;
}

// The data layer's refusals of a step the dataset's state does not allow.
static QString operationText(const QString& text) {
    if (text == QLatin1String("Cannot modify a read-only dataset"))
        return QStringLiteral("Эти данные здесь изменить нельзя: окно показывает их только для просмотра.");
    if (text == QLatin1String("Cannot perform this operation on an empty dataset"))
        return QStringLiteral("Записей нет: это действие выполняется над записью. Сначала добавьте запись.");
    return QStringLiteral(
        "Это действие сейчас выполнить нельзя. Сохраните или отмените изменения и повторите.");
}

QString userText(const std::exception& e) {
    const QString text = QString::fromUtf8(e.what());
    if (fixedText(text)) return text;
    // Before the language test: an engine text names paths, and a folder may have a Russian name.
    if (const QString said = faultText(faultOf(e)); !said.isEmpty()) return said;
    if (russian(text)) return text;
    if (dynamic_cast<const InvalidOperation*>(&e)) return operationText(text);
    if (dynamic_cast<const ConversionError*>(&e))
        return QStringLiteral("Значение не подходит для этого поля. Исправьте его и повторите.");
    if (!dynamic_cast<const EngineError*>(&e))
        return QStringLiteral("Внутренняя ошибка программы. Подробности записаны в журнал.");
    return QStringLiteral(
        "Ошибка базы данных, действие не выполнено. Подробности записаны в журнал программы; "
        "если ошибка повторяется, сообщите о ней администратору.");
}

} // namespace db
