#include "TestFile.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringDecoder>
#include <cmath>

namespace exchange {

namespace {

QJsonValue optionalNumber(const std::optional<double>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}
QJsonValue optionalWhole(const std::optional<int>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QJsonObject body(const TestFile& t) {
    QJsonObject o;
    o[QLatin1String("format")] = QLatin1String(kFormat);
    o[QLatin1String("version")] = kVersion;
    o[QLatin1String("type")] = t.type;
    o[QLatin1String("number")] = t.number;
    o[QLatin1String("name")] = t.name;
    o[QLatin1String("description")] = t.description;
    o[QLatin1String("criterionCount")] = t.criterionCount;
    QJsonArray sets;
    for (const AnswerSet& s : t.answerSets) {
        QJsonArray options;
        for (const Option& op : s.options)
            options.append(
                QJsonObject{{QLatin1String("text"), op.text}, {QLatin1String("points"), op.points}});
        sets.append(QJsonObject{{QLatin1String("number"), s.number}, {QLatin1String("options"), options}});
    }
    o[QLatin1String("answerSets")] = sets;
    QJsonArray questions;
    for (const Question& q : t.questions)
        questions.append(QJsonObject{{QLatin1String("number"), q.number},
                                     {QLatin1String("text"), q.text},
                                     {QLatin1String("answerSet"), q.answerSet},
                                     {QLatin1String("columns"), q.columns}});
    o[QLatin1String("questions")] = questions;
    QJsonArray criteria;
    for (const Criterion& c : t.criteria) {
        QJsonArray key, levels;
        for (int q : c.questions)
            key.append(q);
        for (const Level& l : c.levels)
            levels.append(QJsonObject{{QLatin1String("name"), l.name},
                                      {QLatin1String("min"), l.min},
                                      {QLatin1String("max"), l.max},
                                      {QLatin1String("text"), l.text}});
        criteria.append(QJsonObject{{QLatin1String("number"), c.number},
                                    {QLatin1String("key"), key},
                                    {QLatin1String("levels"), levels}});
    }
    o[QLatin1String("criteria")] = criteria;
    QJsonArray norms;
    for (const NormRow& n : t.norms)
        norms.append(QJsonObject{{QLatin1String("criterion"), n.criterion},
                                 {QLatin1String("sex"), n.sex},
                                 {QLatin1String("ageFrom"), optionalWhole(n.ageFrom)},
                                 {QLatin1String("ageTo"), optionalWhole(n.ageTo)},
                                 {QLatin1String("mean"), optionalNumber(n.mean)},
                                 {QLatin1String("sd"), optionalNumber(n.sd)},
                                 {QLatin1String("count"), optionalNumber(n.count)},
                                 {QLatin1String("score"), optionalNumber(n.score)},
                                 {QLatin1String("percentile"), optionalNumber(n.percentile)}});
    o[QLatin1String("norms")] = norms;
    if (t.licence)
        o[QLatin1String("licence")] = QJsonObject{{QLatin1String("author"), t.licence->author},
                                                  {QLatin1String("source"), t.licence->source},
                                                  {QLatin1String("terms"), t.licence->terms},
                                                  {QLatin1String("noPassingOn"), t.licence->noPassingOn}};
    return o;
}

[[noreturn]] void refuse(const QString& where, const QString& what) {
    throw ExchangeError(where.isEmpty() ? what : QStringLiteral("%1: %2").arg(where, what));
}

// Reads one object, refusing fields it does not know and fields that are missing.
QString item(const QString& list, qsizetype i) {
    return QStringLiteral("%1[%2]").arg(list).arg(i + 1);
}

class Fields {
public:
    Fields(const QJsonValue& v, QString where) : where_(std::move(where)) {
        if (!v.isObject()) refuse(where_, QStringLiteral("ожидался объект { … }"));
        o_ = v.toObject();
    }
    // Called once everything was read: a field the reader does not know is refused.
    void done() const {
        for (auto it = o_.begin(); it != o_.end(); ++it)
            if (!seen_.contains(it.key()))
                refuse(where_, QStringLiteral("неизвестное поле «%1»").arg(it.key()));
    }
    QString at(const QString& key) const { return where_.isEmpty() ? key : where_ + QLatin1Char('.') + key; }
    QJsonValue value(const char* key, bool required = true) {
        const QString k = QLatin1String(key);
        seen_.insert(k);
        if (!o_.contains(k)) {
            if (required) refuse(where_, QStringLiteral("нет поля «%1»").arg(k));
            return QJsonValue(QJsonValue::Undefined);
        }
        return o_.value(k);
    }
    QString text(const char* key) {
        const QJsonValue v = value(key);
        if (!v.isString()) refuse(at(QLatin1String(key)), QStringLiteral("ожидался текст"));
        return v.toString();
    }
    double number(const char* key) {
        const QJsonValue v = value(key);
        if (!v.isDouble() || !std::isfinite(v.toDouble()))
            refuse(at(QLatin1String(key)), QStringLiteral("ожидалось число"));
        return v.toDouble();
    }
    int whole(const char* key) {
        const double d = number(key);
        if (d != std::floor(d) || std::fabs(d) > 32767)
            refuse(at(QLatin1String(key)), QStringLiteral("ожидалось целое число от −32767 до 32767"));
        return int(d);
    }
    std::optional<double> maybeNumber(const char* key) {
        const QJsonValue v = value(key);
        if (v.isNull()) return std::nullopt;
        return number(key);
    }
    std::optional<int> maybeWhole(const char* key) {
        const QJsonValue v = value(key);
        if (v.isNull()) return std::nullopt;
        return whole(key);
    }
    QJsonArray array(const char* key) {
        const QJsonValue v = value(key);
        if (!v.isArray()) refuse(at(QLatin1String(key)), QStringLiteral("ожидался список [ … ]"));
        return v.toArray();
    }
    // Reads each object of the list `key` with read(Fields&), each checked for unknown fields.
    template <class Read> void eachObject(const char* key, Read&& read) {
        const QJsonArray list = array(key);
        for (qsizetype i = 0; i < list.size(); ++i) {
            Fields each(list[i], item(at(QLatin1String(key)), i));
            read(each);
            each.done();
        }
    }

private:
    QString where_;
    QJsonObject o_;
    QSet<QString> seen_;
};

void readAnswerSets(Fields& f, TestFile& t) {
    f.eachObject("answerSets", [&](Fields& s) {
        AnswerSet set;
        set.number = s.whole("number");
        s.eachObject("options", [&](Fields& op) {
            set.options.push_back({op.text("text"), op.number("points")});
        });
        t.answerSets.push_back(std::move(set));
    });
}

void readQuestions(Fields& f, TestFile& t) {
    f.eachObject("questions", [&](Fields& q) {
        Question question;
        question.number = q.whole("number");
        question.text = q.text("text");
        question.answerSet = q.whole("answerSet");
        question.columns = q.whole("columns");
        t.questions.push_back(std::move(question));
    });
}

void readCriteria(Fields& f, TestFile& t) {
    f.eachObject("criteria", [&](Fields& c) {
        Criterion crit;
        crit.number = c.whole("number");
        const QJsonArray key = c.array("key");
        for (qsizetype j = 0; j < key.size(); ++j) {
            const double d = key[j].toDouble(-1e9);
            if (!key[j].isDouble() || d != std::floor(d) || d < 1 || d > 32767)
                refuse(item(c.at(QStringLiteral("key")), j), QStringLiteral("ожидался номер вопроса"));
            crit.questions.push_back(int(d));
        }
        c.eachObject("levels", [&](Fields& l) {
            crit.levels.push_back({l.text("name"), l.number("min"), l.number("max"), l.text("text")});
        });
        t.criteria.push_back(std::move(crit));
    });
}

void readNorms(Fields& f, TestFile& t) {
    f.eachObject("norms", [&](Fields& n) {
        NormRow row;
        row.criterion = n.whole("criterion");
        row.sex = n.text("sex");
        row.ageFrom = n.maybeWhole("ageFrom");
        row.ageTo = n.maybeWhole("ageTo");
        row.mean = n.maybeNumber("mean");
        row.sd = n.maybeNumber("sd");
        row.count = n.maybeNumber("count");
        row.score = n.maybeNumber("score");
        row.percentile = n.maybeNumber("percentile");
        t.norms.push_back(std::move(row));
    });
}

// The offset of the first byte that breaks UTF-8 (overlong forms and surrogates included), or -1.
qsizetype firstNonUtf8(const QByteArray& b) {
    const auto* p = reinterpret_cast<const unsigned char*>(b.constData());
    const qsizetype n = b.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned c = p[i];
        int more = 0;
        unsigned cp = 0, least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1, cp = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, cp = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, cp = c & 0x07, least = 0x10000;
        } else {
            return i;
        }
        for (int k = 1; k <= more; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80) return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return i;
        i += more + 1;
    }
    return -1;
}

} // namespace

QByteArray checksumOf(const QByteArray& canonicalBody) {
    return "sha256:" + QCryptographicHash::hash(canonicalBody, QCryptographicHash::Sha256).toHex();
}

QByteArray write(const TestFile& test) {
    QJsonObject o = body(test);
    const QByteArray sum = checksumOf(QJsonDocument(o).toJson(QJsonDocument::Compact));
    o[QLatin1String("checksum")] = QString::fromLatin1(sum);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

TestFile read(const QByteArray& bytes) {
    if (bytes.size() > kMaxFileBytes)
        refuse({}, QStringLiteral("файл больше %1 МБ: это не файл теста").arg(kMaxFileBytes / (1024 * 1024)));
    if (bytes.isEmpty()) refuse({}, QStringLiteral("файл пуст"));
    // JSON is UTF-8; a file in another encoding would lose its letters, so it is refused, and
    // the place of the first bad byte is told.
    if (const qsizetype bad = firstNonUtf8(bytes); bad >= 0)
        refuse({}, QStringLiteral("текст не в кодировке UTF-8 (байт %1)").arg(bad + 1));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        refuse({}, QStringLiteral("файл повреждён или обрезан: %1 (байт %2)")
                       .arg(error.errorString())
                       .arg(error.offset + 1));
    if (!doc.isObject()) refuse({}, QStringLiteral("это не файл теста"));
    QJsonObject o = doc.object();
    if (o.value(QLatin1String("format")).toString() != QLatin1String(kFormat))
        refuse({}, QStringLiteral("это не файл теста (нет поля «format»: «%1»)").arg(QLatin1String(kFormat)));
    const QJsonValue version = o.value(QLatin1String("version"));
    if (!version.isDouble() || version.toDouble() != std::floor(version.toDouble()) || version.toDouble() < 1)
        refuse(QStringLiteral("version"), QStringLiteral("ожидалось целое число"));
    if (version.toDouble() > kVersion)
        refuse(QStringLiteral("version"), QStringLiteral("файл записан более новой версией программы (версия "
                                                         "формата %1, эта программа читает до %2)")
                                              .arg(version.toInt())
                                              .arg(kVersion));
    const QJsonValue sum = o.take(QLatin1String("checksum"));
    if (!sum.isString()) refuse({}, QStringLiteral("нет поля «checksum»"));
    if (sum.toString().toLatin1() != checksumOf(QJsonDocument(o).toJson(QJsonDocument::Compact)))
        refuse(QStringLiteral("checksum"),
               QStringLiteral("контрольная сумма не совпадает: файл изменён или повреждён"));

    TestFile t;
    Fields f(o, {});
    (void)f.value("format");
    (void)f.value("version");
    t.type = f.whole("type");
    t.number = f.whole("number");
    t.name = f.text("name");
    t.description = f.text("description");
    t.criterionCount = f.whole("criterionCount");
    readAnswerSets(f, t);
    readQuestions(f, t);
    readCriteria(f, t);
    readNorms(f, t);
    if (const QJsonValue l = f.value("licence", false); !l.isUndefined()) {
        Fields lf(l, QStringLiteral("licence"));
        Licence licence;
        licence.author = lf.text("author");
        licence.source = lf.text("source");
        licence.terms = lf.text("terms");
        const QJsonValue no = lf.value("noPassingOn");
        if (!no.isBool())
            refuse(QStringLiteral("licence.noPassingOn"), QStringLiteral("ожидалось true или false"));
        licence.noPassingOn = no.toBool();
        lf.done();
        t.licence = licence;
    }
    f.done();
    return t;
}

} // namespace exchange
