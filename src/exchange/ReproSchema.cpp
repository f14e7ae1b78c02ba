#include "ReproSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace exchange {

namespace {

// Languages a text was given in but not taken, with the items that had them.
using Dropped = std::map<QString, QStringList>;

// A JSON-LD text: a plain string, a language map {"en": …}, or a list of {"@language", "@value"}.
// Takes Russian, else English, else the first language, and notes the others under where.
QString pick(const QJsonValue& v, const QString& where, Dropped& dropped) {
    if (v.isString()) return v.toString().trimmed();
    std::vector<std::pair<QString, QString>> texts;
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            if (it.value().isString()) texts.emplace_back(it.key(), it.value().toString().trimmed());
    } else if (v.isArray()) {
        for (const QJsonValue& e : v.toArray())
            if (e.isObject() && e[QLatin1String("@value")].isString())
                texts.emplace_back(e[QLatin1String("@language")].toString(),
                                   e[QLatin1String("@value")].toString().trimmed());
    }
    if (texts.empty()) return {};
    size_t chosen = 0;
    for (const char* lang : {"ru", "en"}) {
        const auto it = std::find_if(texts.begin(), texts.end(), [&](const auto& t) {
            return t.first == QLatin1String(lang) ||
                   t.first.startsWith(QString::fromLatin1(lang) + QLatin1Char('-'));
        });
        if (it != texts.end()) {
            chosen = size_t(it - texts.begin());
            break;
        }
    }
    for (size_t i = 0; i < texts.size(); ++i)
        if (i != chosen && !dropped[texts[i].first].contains(where)) dropped[texts[i].first] << where;
    return texts[chosen].second;
}

bool remote(const QString& ref) {
    return ref.contains(QLatin1String("://")) || ref.startsWith(QLatin1String("//"));
}

// A JSON object read from a file; the reason in Russian when it cannot be.
std::optional<QJsonObject> readObject(const QString& path, QString& why) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        why = QStringLiteral("файл не открывается (%1)").arg(f.errorString());
        return std::nullopt;
    }
    if (f.size() > kMaxFileBytes) {
        why = QStringLiteral("файл больше %1 МБ").arg(kMaxFileBytes / (1024 * 1024));
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        why = QStringLiteral("не JSON: %1 (символ %2)").arg(error.errorString()).arg(error.offset);
        return std::nullopt;
    }
    if (!doc.isObject()) {
        why = QStringLiteral("не объект JSON");
        return std::nullopt;
    }
    return doc.object();
}

// The file a relative reference names: as written, else with the extensions schemas are saved with.
QString resolve(const QDir& folder, const QString& ref) {
    const QString path = folder.filePath(ref);
    for (const char* ext : {"", ".jsonld", ".json"})
        if (QFileInfo(path + QLatin1String(ext)).isFile()) return path + QLatin1String(ext);
    return path;
}

QString idOf(const QJsonValue& v) {
    return v.isObject() ? v[QLatin1String("@id")].toString() : v.toString();
}

struct ItemRef {
    QString ref, name;     // the file as the activity names it; the item's variable name
    QJsonValue visibility; // isVis: absent or true means always shown
};

// The items in the order the activity gives them, with their properties.
std::vector<ItemRef> itemsOf(const QJsonObject& activity) {
    const QJsonObject ui = activity[QLatin1String("ui")].toObject();
    std::map<QString, QJsonObject> props;
    std::vector<ItemRef> out;
    for (const QJsonValue& p : ui[QLatin1String("addProperties")].toArray())
        props[idOf(p[QLatin1String("isAbout")])] = p.toObject();
    const QJsonArray order = ui[QLatin1String("order")].toArray();
    QStringList refs;
    for (const QJsonValue& o : order)
        refs << idOf(o);
    if (order.isEmpty())
        for (const QJsonValue& p : ui[QLatin1String("addProperties")].toArray())
            refs << idOf(p[QLatin1String("isAbout")]);
    for (const QString& ref : refs) {
        const QJsonObject p = props.count(ref) ? props[ref] : QJsonObject();
        QString name = p[QLatin1String("variableName")].toString();
        if (name.isEmpty()) name = ref;
        out.push_back({ref, name, p.value(QLatin1String("isVis"))});
    }
    return out;
}

const std::set<QString>& freeInputs() {
    static const std::set<QString> kinds{
        QStringLiteral("text"),          QStringLiteral("multitext"),   QStringLiteral("number"),
        QStringLiteral("float"),         QStringLiteral("integer"),     QStringLiteral("date"),
        QStringLiteral("year"),          QStringLiteral("email"),       QStringLiteral("timeRange"),
        QStringLiteral("audioCheck"),    QStringLiteral("audioRecord"), QStringLiteral("static"),
        QStringLiteral("documentUpload")};
    return kinds;
}

class Reader {
public:
    explicit Reader(const QString& path) : folder_(QFileInfo(path).absoluteDir()) {}

    // One item into b: a question, or a line of the report saying why not.
    void item(const ItemRef& it, Brought& b) {
        const QString& n = it.name;
        if (remote(it.ref)) {
            b.report << QStringLiteral(
                            "%1: файл вопроса по внешнему адресу «%2» не загружается — не импортировано")
                            .arg(n, it.ref);
            return;
        }
        QString why;
        const QString path = resolve(folder_, it.ref);
        const std::optional<QJsonObject> item = readObject(path, why);
        if (!item) return broken(b, n, it.ref, why);
        if (it.visibility.isBool() && !it.visibility.toBool()) {
            b.report << QStringLiteral("%1: скрытый вопрос (isVis: false) — не импортировано").arg(n);
            return;
        }
        const QString question = pick(item->value(QLatin1String("question")), n, dropped_);
        if (question.isEmpty()) return broken(b, n, it.ref, QStringLiteral("нет текста вопроса (question)"));
        const QString input =
            item->value(QLatin1String("ui")).toObject().value(QLatin1String("inputType")).toString();
        QJsonValue options = item->value(QLatin1String("responseOptions"));
        if (options.isString()) {
            const QString ref = options.toString();
            if (remote(ref)) {
                b.report << QStringLiteral("%1: варианты ответа по внешнему адресу «%2» не загружаются — не "
                                           "импортировано")
                                .arg(n, ref);
                return;
            }
            const std::optional<QJsonObject> o = readObject(resolve(QFileInfo(path).absoluteDir(), ref), why);
            if (!o) return broken(b, n, ref, why);
            options = *o;
        }
        const QJsonArray choices = options[QLatin1String("choices")].toArray();
        if (freeInputs().count(input) ||
            (choices.isEmpty() && options.isObject() && !input.isEmpty() && input != QLatin1String("radio") &&
             input != QLatin1String("select"))) {
            b.report << QStringLiteral("%1: ответ вводится (тип «%2»), а не выбирается — не импортировано")
                            .arg(n, input.isEmpty() ? QStringLiteral("не указан") : input);
            return;
        }
        if (choices.isEmpty())
            return broken(b, n, it.ref, QStringLiteral("нет вариантов ответа (responseOptions.choices)"));
        if (options[QLatin1String("multipleChoice")].toBool()) {
            b.report << QStringLiteral("%1: выбор нескольких ответов — не импортировано").arg(n);
            return;
        }
        std::vector<Option> list;
        if (const QString bad = optionsOf(choices, n, list); !bad.isEmpty()) return broken(b, n, it.ref, bad);
        if (item->contains(QLatin1String("image")) ||
            std::any_of(choices.begin(), choices.end(),
                        [](const QJsonValue& c) { return c.toObject().contains(QLatin1String("image")); }))
            b.report
                << QStringLiteral("%1: картинки вопроса или вариантов не перенесены — вопрос без них").arg(n);
        if (!it.visibility.isUndefined() && !(it.visibility.isBool() && it.visibility.toBool()))
            b.report << QStringLiteral(
                            "%1: условие показа (isVis) «%2» не перенесено — вопрос задаётся всегда")
                            .arg(n, it.visibility.toVariant().toString());
        TestFile& t = b.test;
        t.questions.push_back({int(t.questions.size()) + 1, question, answerSetFor(t, list), 1});
    }

    // The options of a choice list, or why it gives none: points come only from the values.
    QString optionsOf(const QJsonArray& choices, const QString& n, std::vector<Option>& list) {
        for (const QJsonValue& c : choices) {
            const QString text = pick(c[QLatin1String("name")], n, dropped_);
            const QJsonValue value = c[QLatin1String("value")];
            if (!value.isDouble() || !std::isfinite(value.toDouble()))
                return QStringLiteral(
                           "у варианта «%1» значение (value) не число, а баллы берутся из значений")
                    .arg(text);
            list.push_back({text, value.toDouble()});
        }
        return {};
    }

    void languages(Brought& b) const {
        for (const auto& [lang, where] : dropped_)
            b.report << QStringLiteral("Язык «%1» не перенесён (берётся один язык): %2")
                            .arg(lang.isEmpty() ? QStringLiteral("без указания") : lang,
                                 where.join(QStringLiteral(", ")));
    }

    Dropped dropped_;    // the activity's own texts add theirs too
    QStringList broken_; // the items left out as unreadable, with the reason

private:
    void broken(Brought& b, const QString& name, const QString& ref, const QString& why) {
        const QString line =
            QStringLiteral("%1: файл «%2» негоден — %3; вопрос не импортирован").arg(name, ref, why);
        b.report << line;
        broken_ << line;
    }

    QDir folder_;
};

} // namespace

Brought fromReproSchema(const QString& activityPath) {
    QString why;
    const std::optional<QJsonObject> activity = readObject(activityPath, why);
    if (!activity) throw ExchangeError(QStringLiteral("Активность ReproSchema: %1").arg(why));
    const std::vector<ItemRef> items = itemsOf(*activity);
    if (items.empty())
        throw ExchangeError(QStringLiteral(
            "Это не активность ReproSchema: нет списка вопросов (ui.order или ui.addProperties)"));
    Brought b;
    Reader reader(activityPath);
    TestFile& t = b.test;
    t.type = 1;
    t.name = pick(activity->value(QLatin1String("prefLabel")), QStringLiteral("prefLabel"), reader.dropped_);
    if (t.name.isEmpty()) t.name = activity->value(QLatin1String("@id")).toString();
    if (t.name.isEmpty()) t.name = QFileInfo(activityPath).completeBaseName();
    t.description =
        pick(activity->value(QLatin1String("description")), QStringLiteral("description"), reader.dropped_);
    for (const ItemRef& it : items)
        reader.item(it, b);
    for (const QJsonValue& c : activity->value(QLatin1String("compute")).toArray())
        b.report << QStringLiteral(
                        "%1: вычисляемый балл «%2» не перенесён — задайте ключ в окне «Создание теста»")
                        .arg(c[QLatin1String("variableName")].toString(),
                             c[QLatin1String("jsExpression")].toString());
    reader.languages(b);
    if (t.questions.empty())
        throw ExchangeError(
            QStringLiteral("В активности «%1» нет ни одного пригодного вопроса с вариантами ответа%2")
                .arg(t.name, reader.broken_.isEmpty()
                                 ? QString()
                                 : QStringLiteral(": ") + reader.broken_.join(QStringLiteral("; "))));
    b.report << QStringLiteral(
        "Ключ и уровни интерпретации: в активности ReproSchema их нет, задайте их в окне «Создание теста»");
    return b;
}

} // namespace exchange
