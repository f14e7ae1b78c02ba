#include "Foreign.h"

#include "dbf/CodePage.h"

#include <QStringDecoder>
#include <cmath>
#include <map>

namespace exchange {

namespace {

[[noreturn]] void refuse(const QString& what) {
    throw ExchangeError(what);
}

bool isUtf8(const QByteArray& b) {
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)QString(d.decode(b));
    return !d.hasError();
}

QString decodeText(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    if (isUtf8(bytes)) return QString::fromUtf8(bytes);
    return dbf::decode(std::string_view(bytes.constData(), size_t(bytes.size())), dbf::CodePage::Cp1251);
}

QChar separatorOf(const QString& text) {
    int semicolons = 0, commas = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"')) quoted = !quoted;
        if (quoted) continue;
        if (c == QLatin1Char('\n')) break;
        semicolons += c == QLatin1Char(';');
        commas += c == QLatin1Char(',');
    }
    return semicolons >= commas && semicolons > 0 ? QLatin1Char(';') : QLatin1Char(',');
}

std::optional<double> number(QString s) {
    s = s.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double d = s.toDouble(&ok);
    return ok && std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
}

// "1, Да | 0, Нет" → code and text pairs; empty when the text is not such a list.
std::vector<std::pair<QString, QString>> choices(const QString& text) {
    std::vector<std::pair<QString, QString>> out;
    for (const QString& part : text.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const qsizetype comma = part.indexOf(QLatin1Char(','));
        if (comma < 0) return {};
        out.emplace_back(part.left(comma).trimmed(), part.mid(comma + 1).trimmed());
    }
    return out;
}

int column(const QStringList& heading, const QString& prefix) {
    for (qsizetype i = 0; i < heading.size(); ++i)
        if (heading[i].trimmed().startsWith(prefix, Qt::CaseInsensitive)) return int(i);
    return -1;
}

} // namespace

// The set with these options, made when no set has them yet: questions alike share one.
int answerSetFor(TestFile& t, const std::vector<Option>& options) {
    for (const AnswerSet& s : t.answerSets) {
        bool same = s.options.size() == options.size();
        for (size_t i = 0; same && i < options.size(); ++i)
            same = s.options[i].text == options[i].text && s.options[i].points == options[i].points;
        if (same) return s.number;
    }
    t.answerSets.push_back({int(t.answerSets.size()) + 1, options});
    return t.answerSets.back().number;
}

std::vector<QStringList> readCsv(const QByteArray& bytes) {
    const QString text = decodeText(bytes);
    const QChar sep = separatorOf(text);
    std::vector<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true, any = true;
        } else if (c == sep) {
            row << field, field.clear(), any = true;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) ++i;
            if (any || !field.isEmpty()) rows.push_back(row << field);
            row.clear(), field.clear(), any = false;
        } else {
            field += c, any = true;
        }
    }
    if (quoted) refuse(QStringLiteral("CSV: кавычка в строке %1 не закрыта").arg(rows.size() + 1));
    if (any || !field.isEmpty()) rows.push_back(row << field);
    return rows;
}

Brought fromRedcap(const QByteArray& csv, const QString& form) {
    const std::vector<QStringList> rows = readCsv(csv);
    if (rows.empty()) refuse(QStringLiteral("Словарь REDCap пуст"));
    const QStringList& head = rows[0];
    const int name = column(head, QStringLiteral("Variable / Field Name")),
              formCol = column(head, QStringLiteral("Form Name")),
              type = column(head, QStringLiteral("Field Type")),
              label = column(head, QStringLiteral("Field Label")),
              choice = column(head, QStringLiteral("Choices")),
              branching = column(head, QStringLiteral("Branching Logic"));
    if (name < 0 || formCol < 0 || type < 0 || label < 0 || choice < 0)
        refuse(
            QStringLiteral("Это не словарь данных REDCap: нет столбцов «Variable / Field Name», «Form Name», "
                           "«Field Type», «Field Label», «Choices, Calculations, OR Slider Labels»"));
    Brought b;
    TestFile& t = b.test;
    t.type = 1;
    auto cell = [](const QStringList& r, int c) {
        return c >= 0 && c < r.size() ? r[c].trimmed() : QString();
    };
    for (size_t i = 1; i < rows.size(); ++i) {
        const QStringList& r = rows[i];
        const QString field = cell(r, name), kind = cell(r, type).toLower(), instrument = cell(r, formCol);
        if (t.name.isEmpty() && (form.isEmpty() || instrument == form)) t.name = instrument;
        if (instrument != t.name) {
            if (!form.isEmpty() || t.name.isEmpty()) continue;
            b.report << QStringLiteral("%1: форма «%2» не импортирована (берётся одна форма, «%3»)")
                            .arg(field, instrument, t.name);
            continue;
        }
        if (!cell(r, branching).isEmpty())
            b.report
                << QStringLiteral(
                       "%1: условие показа (Branching Logic) «%2» не перенесено — вопрос задаётся всегда")
                       .arg(field, cell(r, branching));
        std::vector<std::pair<QString, QString>> list;
        if (kind == QLatin1String("radio") || kind == QLatin1String("dropdown"))
            list = choices(cell(r, choice));
        else if (kind == QLatin1String("yesno"))
            list = {{QStringLiteral("1"), QStringLiteral("Да")},
                    {QStringLiteral("0"), QStringLiteral("Нет")}};
        else if (kind == QLatin1String("truefalse"))
            list = {{QStringLiteral("1"), QStringLiteral("Верно")},
                    {QStringLiteral("0"), QStringLiteral("Неверно")}};
        else {
            const QString why =
                kind == QLatin1String("calc") ? QStringLiteral("вычисляемое поле")
                : kind == QLatin1String("text") || kind == QLatin1String("notes")
                    ? QStringLiteral("ответ свободным текстом")
                : kind == QLatin1String("descriptive") ? QStringLiteral("пояснительный текст или картинка")
                : kind == QLatin1String("checkbox") ? QStringLiteral("выбор нескольких ответов")
                                                    : QStringLiteral("тип поля «%1»").arg(kind);
            b.report << QStringLiteral("%1: %2 — не импортировано").arg(field, why);
            continue;
        }
        if (list.empty())
            refuse(QStringLiteral("%1: варианты ответа «%2» не в виде «1, текст | 2, текст»")
                       .arg(field, cell(r, choice)));
        std::vector<Option> options;
        for (const auto& [code, text] : list) {
            const auto points = number(code);
            if (!points)
                refuse(QStringLiteral("%1: у варианта «%2» код «%3» не число, а баллы берутся из кодов")
                           .arg(field, text, code));
            options.push_back({text, *points});
        }
        t.questions.push_back({int(t.questions.size()) + 1, cell(r, label), answerSetFor(t, options), 1});
    }
    if (t.questions.empty())
        refuse(QStringLiteral("В форме «%1» нет ни одного поля с вариантами ответа").arg(t.name));
    b.report << QStringLiteral(
        "Ключ и уровни интерпретации: в словаре REDCap их нет, задайте их в окне «Создание теста»");
    return b;
}

Brought fromSpreadsheet(const QByteArray& csv, const QString& name) {
    const std::vector<QStringList> rows = readCsv(csv);
    if (rows.size() < 2)
        refuse(QStringLiteral("В таблице нет ни одного вопроса (первая строка — заголовки)"));
    Brought b;
    TestFile& t = b.test;
    t.type = 1;
    t.name = name;
    std::map<int, Criterion> criteria;
    for (size_t i = 1; i < rows.size(); ++i) {
        const QStringList& r = rows[i];
        const QString where = QStringLiteral("Строка %1").arg(i + 1);
        if (r.value(0).trimmed().isEmpty())
            refuse(QStringLiteral("%1: нет текста вопроса (столбец 1)").arg(where));
        std::vector<Option> options;
        for (qsizetype c = 2; c < r.size(); c += 2) {
            const QString text = r[c].trimmed(), points = r.value(c + 1).trimmed();
            if (text.isEmpty() && points.isEmpty()) continue;
            const auto p = number(points);
            if (!p)
                refuse(QStringLiteral("%1, столбец %2: у ответа «%3» нет баллов (число в столбце %2)")
                           .arg(where)
                           .arg(c + 2)
                           .arg(text));
            options.push_back({text, *p});
        }
        if (options.empty())
            refuse(QStringLiteral("%1: у вопроса нет ответов (столбцы 3 и дальше: ответ; баллы)").arg(where));
        const int q = int(t.questions.size()) + 1;
        t.questions.push_back({q, r[0].trimmed(), answerSetFor(t, options), 1});
        if (const QString k = r.value(1).trimmed(); !k.isEmpty()) {
            const auto krit = number(k);
            if (!krit || *krit < 1 || *krit != std::floor(*krit))
                refuse(QStringLiteral("%1, столбец 2: критерий «%2» не номер").arg(where, k));
            criteria[int(*krit)].number = int(*krit);
            criteria[int(*krit)].questions.push_back(q);
        }
    }
    for (auto& [n, c] : criteria)
        t.criteria.push_back(c);
    t.criterionCount = criteria.empty() ? 0 : criteria.rbegin()->first;
    b.report << QStringLiteral("Уровни интерпретации: в таблице их нет, задайте их в окне «Создание теста»");
    return b;
}

} // namespace exchange
