#include "services/RunService.h"

#include "Errors.h"
#include "dataset/Reopen.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "results/Level.h"
#include "results/Scoring.h"
#include "services/Answers.h"
#include "services/IndexRepair.h"
#include "services/Numbering.h"

#include <QObject>
#include <algorithm>

namespace services {

int TestOutline::indexOf(int question) const {
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].number == question) return int(i);
    return -1;
}

struct RunService::Tables {
    QObject owner;
    db::Table *test, *vopros, *otvet, *anket, *rezult, *summa, *rez, *sprav, *analiz;
    std::unique_ptr<results::RunTables> run;
    QString alias;
    std::unique_ptr<results::Archive> archive;

    explicit Tables(const QString& alias) : alias(alias), archive(std::make_unique<results::Archive>(alias)) {
        auto make = [&](const char* file) {
            auto* t = new db::Table(&owner);
            t->setDatabaseName(alias);
            t->setTableName(QString::fromLatin1(file));
            return t;
        };
        test = make("bd_test.DBF");
        vopros = make("bd_vopros.DBF");
        otvet = make("bd_otvet.dbf");
        anket = make("bd_anket.dbf");
        anket->setIndexName(QStringLiteral("NOMU"));
        anket->setUniqueNumber(QStringLiteral("NOMTESTIR"), QStringLiteral("NOMU"));
        rezult = make("bd_rezult.dbf");
        // A question's row is looked up by its whole key: a run of a long test holds many rows.
        rezult->setKeyIndexFields(QLatin1String(kAnswerKey));
        summa = make("bd_summa.dbf");
        rez = make("bd_rez.dbf");
        sprav = make("bd_sprav.dbf");
        analiz = make("bd_analiz.dbf");
        for (db::Table* t : {test, vopros, otvet, anket, rezult, summa, rez, sprav, analiz})
            t->open();
        run = std::make_unique<results::RunTables>(vopros, otvet, rezult, summa, rez);
    }
};

RunService::RunService(const QString& alias) : t_(std::make_unique<Tables>(alias)) {}
RunService::~RunService() = default;

namespace {
int whole(const db::Variant& v, int def = 0) {
    return v.isNull() ? def : int(v.toInt());
}
} // namespace

const TestOutline& RunService::outline(int test) {
    if (auto it = outlines_.find(test); it != outlines_.end()) return it->second;
    TestOutline o;
    o.number = test;
    if (!t_->test->locate(QStringLiteral("NTEST"), {test}))
        throw db::DatabaseError(QStringLiteral("Теста № %1 нет в каталоге").arg(test));
    o.name = t_->test->fieldValue(QStringLiteral("NAME")).toString().trimmed();
    o.criteria = whole(t_->test->fieldValue(QStringLiteral("KOLKRIT")));
    t_->vopros->filterBy(results::questionsFilter(test));
    for (t_->vopros->first(); !t_->vopros->eof(); t_->vopros->next()) {
        TestOutline::Item item;
        item.number = whole(t_->vopros->fieldValue(QStringLiteral("NVOPR")));
        item.text = t_->vopros->fieldValue(QStringLiteral("TEXTV")).toString().trimmed();
        const db::Variant set = t_->vopros->fieldValue(QStringLiteral("NOTV"));
        item.set = whole(set);
        item.columns = whole(t_->vopros->fieldValue(QStringLiteral("KOL")), 0);
        // The options through the one rule the testing window and the scoring share.
        if (results::narrowToAnswerSet(t_->otvet, set))
            for (; !t_->otvet->eof(); t_->otvet->next())
                item.options << t_->otvet->fieldValue(QStringLiteral("OTVET")).toString();
        o.items.push_back(std::move(item));
    }
    if (o.items.empty()) throw db::DatabaseError(QStringLiteral("В тесте № %1 нет вопросов").arg(test));
    return outlines_.emplace(test, std::move(o)).first->second;
}

const TestOutline::Item& RunService::itemOf(const results::RunKey& run, int question, int* index) {
    const TestOutline& o = outline(run.test);
    const int i = o.indexOf(question);
    if (i < 0) throw db::InvalidOperation(QStringLiteral("В тесте нет вопроса № %1").arg(question));
    if (index) *index = i;
    return o.items[size_t(i)];
}

ShownQuestion RunService::show(const results::RunKey& run, int question) {
    int index = 0;
    const TestOutline::Item& item = itemOf(run, question, &index);
    bool made = false;
    const uint32_t rec = answerRow(t_->rezult, run, question, -1, QDate::currentDate(), &made);
    ShownQuestion s{&item, index + 1, -1};
    if (!made) {
        const int stored = storedChoice(t_->rezult, rec);
        // As the window selects it: a number past the last option is the last option.
        s.chosen = stored < 0 || item.options.isEmpty() ? -1 : std::min(stored, int(item.options.size()) - 1);
    }
    return s;
}

ShownQuestion RunService::look(const results::RunKey& run, int question) {
    int index = 0;
    const TestOutline::Item& item = itemOf(run, question, &index);
    ShownQuestion s{&item, index + 1, -1};
    const int64_t rec =
        t_->rezult->findStored(QLatin1String(kAnswerKey), {run.org, run.testee, run.test, question});
    if (rec >= 0) {
        const int stored = storedChoice(t_->rezult, uint32_t(rec));
        s.chosen = stored < 0 || item.options.isEmpty() ? -1 : std::min(stored, int(item.options.size()) - 1);
    }
    return s;
}

void RunService::makeRows(const std::vector<std::pair<results::RunKey, int>>& shown) {
    // Found or made in one step under the append lock, as the window makes one.
    if (!shown.empty())
        answerRows(t_->rezult, shown, std::vector<int>(shown.size(), -1), QDate::currentDate());
}

void RunService::choose(const results::RunKey& run, int question, int option) {
    std::vector<PendingChoice> one{{run, question, option, {}}};
    chooseMany(one);
    if (!one[0].error.isEmpty()) throw db::DatabaseError(one[0].error);
}

void RunService::chooseMany(std::vector<PendingChoice>& batch) {
    db::Table* rezult = t_->rezult;
    std::vector<PendingChoice*> valid;
    for (PendingChoice& c : batch) {
        try {
            const TestOutline::Item& item = itemOf(c.run, c.question);
            if (c.option < 0 || c.option >= item.options.size())
                throw db::InvalidOperation(QStringLiteral("У вопроса № %1 нет варианта ответа № %2")
                                               .arg(c.question)
                                               .arg(c.option + 1));
            valid.push_back(&c);
        } catch (const std::exception& e) {
            c.error = QString::fromUtf8(e.what());
        }
    }
    if (valid.empty()) return;
    // Rows still to be made are made with their choice, together in one step.
    std::vector<std::pair<results::RunKey, int>> rows;
    std::vector<int> options;
    for (const PendingChoice* c : valid) {
        rows.emplace_back(c->run, c->question);
        options.push_back(c->option);
    }
    std::vector<bool> made;
    std::vector<uint32_t> recs;
    try {
        // A damaged index is rebuilt once and the step taken again: finding or making rows is the
        // same step whether or not some were made before the index failed.
        withIndexRepair(rezult, [&] {
            made.clear();
            recs = answerRows(rezult, rows, options, QDate::currentDate(), &made);
        });
    } catch (const std::exception& e) {
        for (PendingChoice* c : valid)
            c->error = QString::fromUtf8(e.what());
        return;
    }
    // Rows that exist get their choice written without a sync of its own, the last of them with
    // one: a sync puts every earlier write of the file on disk too.
    std::vector<std::pair<PendingChoice*, uint32_t>> deferred;
    for (size_t i = 0; i < valid.size(); ++i)
        if (!made[i]) deferred.emplace_back(valid[i], recs[i]);
    if (deferred.empty()) return;
    dbf::DbfFile* file = rezult->file();
    std::vector<std::pair<PendingChoice*, int>> before;
    size_t written = 0;
    try {
        for (auto& [c, rec] : deferred)
            before.emplace_back(c, storedChoice(rezult, rec));
        if (file) file->setDurable(false); // a server's store syncs each write itself
        for (; written + 1 < deferred.size(); ++written)
            recordChoice(rezult, deferred[written].second, deferred[written].first->option);
        if (file) file->setDurable(true);
        recordChoice(rezult, deferred.back().second, deferred.back().first->option);
    } catch (const std::exception& e) {
        if (file) file->setDurable(true);
        const QString why = QString::fromUtf8(e.what());
        // Nothing of the group is known to be on disk: every one is refused, and what was written
        // goes back to the value stored before.
        for (size_t i = 0; i < deferred.size(); ++i) {
            deferred[i].first->error = why;
            if (i < written) {
                try {
                    recordChoice(rezult, deferred[i].second, before[i].second);
                } catch (...) {
                }
            }
        }
    }
}

Completeness RunService::check(const results::RunKey& run) {
    const TestOutline& o = outline(run.test);
    Completeness c;
    c.first = o.items.front().number;
    c.last = o.last();
    t_->rezult->filterBy(results::runFilter(run));
    if (c.first <= c.last) c.missing = unanswered(t_->rezult, c.first, c.last);
    return c;
}

std::vector<int> RunService::score(const results::RunKey& run) {
    const TestOutline& o = outline(run.test);
    results::scoreRun(*t_->run, run, o.criteria, QDate::currentDate());
    std::vector<int> scores;
    for (int k = 1; k <= o.criteria; ++k)
        scores.push_back(results::scoreOf(*t_->run, k).value_or(0));
    return scores;
}

std::vector<QString> RunService::levelNames(int test, const std::vector<int>& scores) {
    std::vector<QString> names;
    for (size_t k = 0; k < scores.size(); ++k) {
        const std::optional<results::Level> l = results::levelOf(t_->analiz, test, int(k) + 1, scores[k]);
        names.push_back(l ? l->name : QString());
    }
    return names;
}

int RunService::answered(const results::RunKey& run) {
    const TestOutline& o = outline(run.test);
    t_->rezult->filterBy(results::runFilter(run));
    int n = 0;
    const db::Field* q = t_->rezult->fieldByName(QStringLiteral("NOMVOPR"));
    const db::Field* a = t_->rezult->fieldByName(QStringLiteral("OTVET"));
    for (int row = 0; row < t_->rezult->recordCount(); ++row)
        if (results::isAnswer(t_->rezult->valueAt(row, a)) &&
            o.indexOf(whole(t_->rezult->valueAt(row, q))) >= 0)
            ++n;
    return n;
}

std::optional<QDate> RunService::scoredOn(const results::RunKey& run) {
    const results::RunResult r = t_->archive->run(run, false);
    if (!r.scored()) return std::nullopt;
    return r.date;
}

int RunService::registerTestee(int org, const NewTestee& p) {
    db::Table* anket = t_->anket;
    anket->filterBy(QStringLiteral("NOMU=") + QString::number(org));
    const db::Field* number = anket->fieldByName(QStringLiteral("NOMTESTIR"));
    std::optional<int64_t> last;
    if (!anket->isEmpty()) {
        anket->last();
        const db::Variant v = number->value();
        if (!v.isNull()) last = v.toInt();
    }
    const int64_t next = nextNumber(last, numbersInView(*anket, number));
    anket->append();
    anket->setFields({double(next), double(org), p.surname, p.name, p.patronymic, p.sex,
                      p.birthYear > 0 ? db::Variant(p.birthYear) : db::Variant(),
                      p.education > 0 ? db::Variant(p.education) : db::Variant()});
    try {
        anket->post();
    } catch (...) {
        anket->cancel();
        throw;
    }
    // Another workstation may have taken the number meanwhile: the stored one counts.
    return int(number->asInteger());
}

std::vector<std::pair<int, QString>> RunService::educations() {
    t_->sprav->filterBy(QStringLiteral("SPRAV=2"));
    std::vector<std::pair<int, QString>> out;
    for (t_->sprav->first(); !t_->sprav->eof(); t_->sprav->next())
        out.emplace_back(whole(t_->sprav->fieldValue(QStringLiteral("KOD"))),
                         t_->sprav->fieldValue(QStringLiteral("TEXT")).toString().trimmed());
    return out;
}

std::optional<results::Testee> RunService::testee(int org, int number) {
    return t_->archive->testee(org, number);
}

bool RunService::reopenReplaced() {
    bool any = false;
    for (db::Table* t : t_->owner.findChildren<db::Table*>())
        any = db::reopenIfReplaced(*t) || any;
    // The archive's tables are the same files: it is made again over the new ones.
    if (any) t_->archive = std::make_unique<results::Archive>(t_->alias);
    return any;
}

std::optional<results::Institution> RunService::institution(int org) {
    return t_->archive->institution(org);
}

} // namespace services
