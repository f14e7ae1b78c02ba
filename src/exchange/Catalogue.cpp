#include "Catalogue.h"

#include "Checks.h"
#include "Snapshot.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "dataset/Table.h"
#include "dbf/CodePage.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QSet>
#include <cmath>
#include <functional>
#include <memory>

namespace exchange {

namespace {

using db::Variant;
using Row = std::vector<Variant>;

const QString kTest = QStringLiteral("bd_test.DBF"), kQuestions = QStringLiteral("bd_vopros.DBF"),
              kOptions = QStringLiteral("bd_otvet.dbf"), kKey = QStringLiteral("bd_summa.dbf"),
              kLevels = QStringLiteral("bd_analiz.dbf");

std::unique_ptr<db::Table> openTable(const QString& database, const QString& file, bool readOnly) {
    auto t = std::make_unique<db::Table>();
    if (db::isServerLocation(database)) {
        // A server's tables are reached through an alias, as the program reaches them.
        const QString alias = QStringLiteral("morv_exchange");
        db::Aliases::bind(alias, database);
        t->setDatabaseName(alias);
        t->setTableName(QFileInfo(file).completeBaseName().toLower());
    } else {
        t->setTableName(QDir(database).filePath(file));
    }
    t->setReadOnly(readOnly);
    t->open();
    return t;
}

// Every live row of the table as stored now, with the named columns.
void eachRow(db::Table& t, const QStringList& names, const std::function<void(const Row&)>& fn) {
    db::RecordStore* s = t.store();
    std::vector<int> cols;
    std::vector<db::FieldKind> kinds;
    for (const QString& n : names) {
        const int c = s->columnIndex(n);
        if (c < 0) throw db::DatabaseError(QStringLiteral("%1 has no column %2").arg(t.tableName(), n));
        cols.push_back(c);
        kinds.push_back(s->columns()[size_t(c)].kind);
    }
    const auto stream = s->stream(cols, kinds);
    Row row(cols.size());
    while (stream->next()) {
        for (size_t i = 0; i < cols.size(); ++i)
            row[i] = stream->value(i);
        fn(row);
    }
}

// Numbers are stored as floats or blank; keys are whole numbers.
int whole(const Variant& v) {
    return v.isNull() ? 0 : int(std::llround(v.toDouble()));
}
std::optional<double> maybe(const Variant& v) {
    return v.isNull() ? std::nullopt : std::optional<double>(v.toDouble());
}
std::optional<int> maybeWhole(const Variant& v) {
    return v.isNull() ? std::nullopt : std::optional<int>(whole(v));
}
QString text(const Variant& v) {
    return v.toString().trimmed();
}

Criterion& criterion(TestFile& t, int number) {
    for (Criterion& c : t.criteria)
        if (c.number == number) return c;
    t.criteria.push_back({number, {}, {}});
    return t.criteria.back();
}

void readNormsAndLicence(const QString& database, int number, TestFile& t) {
    if (schema::hasTable(database, schema::norms())) {
        auto norms = openTable(database, QLatin1String(schema::norms().file), true);
        eachRow(*norms,
                {"NOMTESTA", "KRIT", "POL", "VOZROT", "VOZRDO", "SRED", "SIGMA", "KOLVO", "BALL", "PROC"},
                [&](const Row& r) {
                    if (whole(r[0]) != number) return;
                    t.norms.push_back({whole(r[1]), text(r[2]), maybeWhole(r[3]), maybeWhole(r[4]),
                                       maybe(r[5]), maybe(r[6]), maybe(r[7]), maybe(r[8]), maybe(r[9])});
                });
    }
    t.licence = readLicence(database, number);
}

} // namespace

std::optional<Licence> readLicence(const QString& database, int number) {
    std::optional<Licence> licence;
    if (!schema::hasTable(database, schema::licenceTable())) return licence;
    auto table = openTable(database, QLatin1String(schema::licenceTable().file), true);
    eachRow(*table, {"NOMTESTA", "AVTOR", "ISTOCH", "USLOV", "ZAPRET"}, [&](const Row& r) {
        if (whole(r[0]) == number && !licence)
            licence = Licence{text(r[1]), text(r[2]), text(r[3]), whole(r[4]) == 1};
    });
    return licence;
}

TestFile structureOnly(TestFile t) {
    t.description.clear();
    for (Question& q : t.questions)
        q.text = QStringLiteral("Вопрос %1").arg(q.number);
    for (AnswerSet& s : t.answerSets) {
        int i = 0;
        for (Option& o : s.options)
            o.text = QStringLiteral("Ответ %1").arg(++i), o.points = 0;
    }
    for (Criterion& c : t.criteria) {
        c.levels.clear();
        c.questions.clear();
    }
    t.norms.clear();
    return t;
}

TestFile readTest(const QString& database, int number) {
    TestFile t;
    bool found = false;
    auto tests = openTable(database, kTest, true);
    eachRow(*tests, {"TIP", "NTEST", "NAME", "KOLKRIT", "XARAKT"}, [&](const Row& r) {
        if (found || whole(r[1]) != number) return;
        found = true;
        t.type = whole(r[0]);
        t.number = number;
        t.name = text(r[2]);
        t.criterionCount = whole(r[3]);
        t.description = r[4].toString();
    });
    if (!found) throw ExchangeError(QStringLiteral("В базе нет теста № %1").arg(number));
    auto questions = openTable(database, kQuestions, true);
    QList<int> setsUsed;
    eachRow(*questions, {"NTEST", "NVOPR", "TEXTV", "NOTV", "KOL"}, [&](const Row& r) {
        if (whole(r[0]) != number) return;
        t.questions.push_back({whole(r[1]), text(r[2]), whole(r[3]), whole(r[4])});
        if (!setsUsed.contains(whole(r[3]))) setsUsed.append(whole(r[3]));
    });
    std::map<int, std::vector<Option>> options;
    auto answers = openTable(database, kOptions, true);
    eachRow(*answers, {"NOMOTV", "OTVET", "BOTVET"}, [&](const Row& r) {
        if (setsUsed.contains(whole(r[0])))
            options[whole(r[0])].push_back({text(r[1]), maybe(r[2]).value_or(0)});
    });
    for (int s : setsUsed)
        if (options.count(s)) t.answerSets.push_back({s, options[s]});
    auto key = openTable(database, kKey, true);
    eachRow(*key, {"NOMTESTA", "KRIT", "SUMVOPR"}, [&](const Row& r) {
        if (whole(r[0]) == number) criterion(t, whole(r[1])).questions.push_back(whole(r[2]));
    });
    auto levels = openTable(database, kLevels, true);
    eachRow(*levels, {"NOMTESTA", "KRIT", "UROV", "MIN", "MAX", "TEXT"}, [&](const Row& r) {
        if (whole(r[0]) == number)
            criterion(t, whole(r[1]))
                .levels.push_back({text(r[2]), r[3].toDouble(), r[4].toDouble(), r[5].toString()});
    });
    std::sort(t.criteria.begin(), t.criteria.end(),
              [](const Criterion& a, const Criterion& b) { return a.number < b.number; });
    readNormsAndLicence(database, number, t);
    return t;
}

namespace {

// The values of one new row, by column name, for a store.
std::vector<db::ColumnValue> columns(db::Table& t,
                                     const std::vector<std::pair<const char*, Variant>>& values) {
    std::vector<db::ColumnValue> out;
    for (const auto& [name, v] : values) {
        const QString n = QLatin1String(name);
        const int c = t.store()->columnIndex(n);
        if (c < 0) throw db::DatabaseError(QStringLiteral("%1 has no column %2").arg(t.tableName(), n));
        out.push_back({c, n, v});
    }
    return out;
}

Variant orNull(const std::optional<double>& v) {
    return v ? Variant(*v) : Variant();
}
Variant orNull(const std::optional<int>& v) {
    return v ? Variant(*v) : Variant();
}

// The numbers taken in the database, read under the append locks.
struct Taken {
    int lastTest = 0;
    int sameName = 0; // a test of the same name, 0 when none
    QSet<int> sets;
    int lastSet = 0;
    bool typeKnown = false;
};

Taken taken(const QString& database, const TestFile& test, db::Table& tests, db::Table& questions,
            db::Table& answers, db::Table& key, db::Table& levels) {
    Taken k;
    // Rows of a test whose own row never got written count too: their number is not free.
    eachRow(tests, {"NTEST", "NAME"}, [&](const Row& r) {
        k.lastTest = std::max(k.lastTest, whole(r[0]));
        if (!k.sameName && text(r[1]).compare(test.name.trimmed(), Qt::CaseInsensitive) == 0)
            k.sameName = whole(r[0]);
    });
    eachRow(questions, {"NTEST"}, [&](const Row& r) { k.lastTest = std::max(k.lastTest, whole(r[0])); });
    eachRow(key, {"NOMTESTA"}, [&](const Row& r) { k.lastTest = std::max(k.lastTest, whole(r[0])); });
    eachRow(levels, {"NOMTESTA"}, [&](const Row& r) { k.lastTest = std::max(k.lastTest, whole(r[0])); });
    eachRow(answers, {"NOMOTV"}, [&](const Row& r) {
        k.sets.insert(whole(r[0]));
        k.lastSet = std::max(k.lastSet, whole(r[0]));
    });
    auto types = openTable(database, QStringLiteral("bd_sprav.dbf"), true);
    eachRow(*types, {"SPRAV", "KOD"}, [&](const Row& r) {
        if (whole(r[0]) == 1 && whole(r[1]) == test.type) k.typeKnown = true;
    });
    return k;
}

// The file's answer sets keep their numbers where they are free here; the others get numbers
// after the largest one in use.
std::map<int, int> numberSets(const TestFile& test, const Taken& k) {
    std::map<int, int> to;
    int next = k.lastSet;
    for (const AnswerSet& s : test.answerSets)
        if (!k.sets.contains(s.number)) next = std::max(next, s.number);
    for (const AnswerSet& s : test.answerSets)
        to[s.number] = k.sets.contains(s.number) ? ++next : s.number;
    if (next > 32767)
        throw ExchangeError(QStringLiteral("В базе не осталось свободных номеров наборов ответов"));
    return to;
}

struct Tables {
    std::unique_ptr<db::Table> tests, questions, answers, key, levels, norms, licence;
    std::vector<db::Table*> all() const {
        std::vector<db::Table*> out{tests.get(), questions.get(), answers.get(), key.get(), levels.get()};
        if (norms) out.push_back(norms.get());
        if (licence) out.push_back(licence.get());
        return out;
    }
};

void writeRows(Tables& t, const TestFile& test, int number, const std::map<int, int>& sets) {
    std::vector<std::vector<db::ColumnValue>> rows;
    auto flush = [&](db::Table& table) {
        if (!rows.empty()) table.store()->appendMany(rows);
        rows.clear();
    };
    for (const AnswerSet& s : test.answerSets)
        for (const Option& o : s.options)
            rows.push_back(columns(*t.answers,
                                   {{"NOMOTV", sets.at(s.number)}, {"OTVET", o.text}, {"BOTVET", o.points}}));
    flush(*t.answers);
    for (const Question& q : test.questions)
        rows.push_back(columns(*t.questions, {{"NTEST", number},
                                              {"NVOPR", q.number},
                                              {"TEXTV", q.text},
                                              {"NOTV", sets.at(q.answerSet)},
                                              {"KOL", q.columns}}));
    flush(*t.questions);
    for (const Criterion& c : test.criteria)
        for (int q : c.questions)
            rows.push_back(columns(*t.key, {{"NOMTESTA", number}, {"KRIT", c.number}, {"SUMVOPR", q}}));
    flush(*t.key);
    for (const Criterion& c : test.criteria)
        for (const Level& l : c.levels)
            rows.push_back(columns(*t.levels, {{"NOMTESTA", number},
                                               {"KRIT", c.number},
                                               {"UROV", l.name},
                                               {"MIN", l.min},
                                               {"MAX", l.max},
                                               {"TEXT", l.text}}));
    flush(*t.levels);
    for (const NormRow& n : test.norms)
        rows.push_back(columns(*t.norms, {{"NOMTESTA", number},
                                          {"KRIT", n.criterion},
                                          {"POL", n.sex},
                                          {"VOZROT", orNull(n.ageFrom)},
                                          {"VOZRDO", orNull(n.ageTo)},
                                          {"SRED", orNull(n.mean)},
                                          {"SIGMA", orNull(n.sd)},
                                          {"KOLVO", orNull(n.count)},
                                          {"BALL", orNull(n.score)},
                                          {"PROC", orNull(n.percentile)}}));
    if (t.norms) flush(*t.norms);
    if (test.licence)
        rows.push_back(columns(*t.licence, {{"NOMTESTA", number},
                                            {"AVTOR", test.licence->author},
                                            {"ISTOCH", test.licence->source},
                                            {"USLOV", test.licence->terms},
                                            {"ZAPRET", test.licence->noPassingOn ? 1 : 0}}));
    if (t.licence) flush(*t.licence);
    // The test's own row last: until it is stored the catalogue does not list the test.
    rows.push_back(columns(*t.tests, {{"TIP", test.type},
                                      {"NTEST", number},
                                      {"NAME", test.name},
                                      {"KOLKRIT", test.criterionCount},
                                      {"XARAKT", test.description}}));
    flush(*t.tests);
}

// A folder's tables hold their texts in a DOS or Windows code page: a character outside it is
// refused here, named with its field and question, rather than by the table mid-step.
void checkCharacters(const Tables& t, const TestFile& test) {
    auto fits = [](const db::Table& table, const QString& text, const QString& where, const char* field) {
        const dbf::DbfFile* f = table.file();
        std::string bytes;
        QString bad;
        if (!f || dbf::encode(text, f->codePage(), bytes, &bad)) return;
        throw ExchangeError(
            QStringLiteral("%1: в поле «%2» есть знак «%3», которого не может хранить таблица %4")
                .arg(where, QString::fromUtf8(field), bad, QFileInfo(table.tableName()).fileName()));
    };
    fits(*t.tests, test.name, QStringLiteral("Тест"), "Название теста");
    fits(*t.tests, test.description, QStringLiteral("Тест"), "Характеристика");
    for (const Question& q : test.questions)
        fits(*t.questions, q.text, QStringLiteral("Вопрос %1").arg(q.number), "Текст вопроса");
    for (const AnswerSet& s : test.answerSets)
        for (const Option& o : s.options)
            fits(*t.answers, o.text, QStringLiteral("Набор ответов %1").arg(s.number), "Ответ");
    for (const Criterion& c : test.criteria)
        for (const Level& l : c.levels) {
            fits(*t.levels, l.name, QStringLiteral("Критерий %1").arg(c.number), "Уровень");
            fits(*t.levels, l.text, QStringLiteral("Критерий %1, уровень «%2»").arg(c.number).arg(l.name),
                 "Текст");
        }
    for (const NormRow& n : test.norms)
        fits(*t.norms, n.sex, QStringLiteral("Нормы критерия %1").arg(n.criterion), "Пол");
    if (test.licence) {
        fits(*t.licence, test.licence->author, QStringLiteral("Лицензия"), "Автор");
        fits(*t.licence, test.licence->source, QStringLiteral("Лицензия"), "Источник");
        fits(*t.licence, test.licence->terms, QStringLiteral("Лицензия"), "Условия использования");
    }
}

// Runs fn holding the append lock of every table, always taken in the same order, so that two
// imports never hold one each of two locks the other waits for.
void underAllLocks(const std::vector<db::Table*>& tables, size_t from, const std::function<void()>& fn) {
    if (from == tables.size()) return fn();
    tables[from]->store()->underAppendLock([&] { underAllLocks(tables, from + 1, fn); });
}

} // namespace

Imported importTest(const QString& database, const TestFile& test, bool asNew) {
    check(test);
    const bool server = db::isServerLocation(database);
    Tables t;
    t.tests = openTable(database, kTest, false);
    t.questions = openTable(database, kQuestions, false);
    t.answers = openTable(database, kOptions, false);
    t.key = openTable(database, kKey, false);
    t.levels = openTable(database, kLevels, false);
    // Optional tables are made on first use, empty, before the step.
    if (!test.norms.empty())
        t.norms = openTable(database, schema::ensureTable(database, schema::norms()), false);
    if (test.licence)
        t.licence = openTable(database, schema::ensureTable(database, schema::licenceTable()), false);

    checkCharacters(t, test);

    Imported done;
    underAllLocks(t.all(), 0, [&] {
        const Taken k = taken(database, test, *t.tests, *t.questions, *t.answers, *t.key, *t.levels);
        if (k.sameName && !asNew)
            throw SameNameError(
                QStringLiteral("В базе уже есть тест «%1» (№ %2)").arg(test.name.trimmed()).arg(k.sameName),
                k.sameName);
        if (k.lastTest >= 32767)
            throw ExchangeError(QStringLiteral("В базе не осталось свободных номеров тестов"));
        done.number = k.lastTest + 1;
        done.answerSets = numberSets(test, k);
        if (!k.typeKnown)
            done.notes << QStringLiteral(
                              "Типа теста %1 нет в справочнике типов этой базы: тест не виден в выборе "
                              "тестов, пока тип не добавлен")
                              .arg(test.type);
        // A server rolls the whole step back by itself; a folder's files are put back from
        // what they were under the same locks.
        Snapshot before;
        if (!server)
            for (db::Table* table : t.all())
                before.keep(table->filePath());
        try {
            writeRows(t, test, done.number, done.answerSets);
        } catch (const std::exception& e) {
            if (!server && !before.restore())
                throw db::DatabaseError(
                    QStringLiteral("%1; the tables could not be put back as they were: run morv-db check")
                        .arg(QString::fromUtf8(e.what())));
            throw;
        }
    });
    return done;
}

} // namespace exchange
