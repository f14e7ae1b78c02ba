#include "results/Archive.h"

#include "dataset/Aliases.h"
#include "dataset/ColumnScan.h"
#include "dataset/Table.h"

#include <algorithm>
#include <map>
#include <set>

namespace results {

namespace {

int whole(const db::Variant& v, int def = 0) {
    return v.isNull() ? def : int(v.toInt());
}

QString text(const db::Variant& v) {
    return v.toString().trimmed();
}

} // namespace

QString Testee::fullName() const {
    QStringList parts;
    for (const QString& p : {surname, name, patronymic})
        if (!p.isEmpty()) parts << p;
    return parts.join(QLatin1Char(' '));
}

bool RunResult::scored() const {
    return std::any_of(criteria.begin(), criteria.end(),
                       [](const CriterionResult& c) { return c.score.has_value(); });
}

struct Archive::Tables {
    QObject owner;
    db::Table *test, *vopros, *otvet, *org, *anket, *rezult, *analiz, *summa, *rez, *sprav;
    std::unique_ptr<RunTables> run;

    Tables(const QString& alias) {
        auto open = [&](const char* file) {
            auto* t = new db::Table(&owner);
            t->setDatabaseName(alias);
            t->setTableName(QString::fromLatin1(file));
            // Opened as the program opens them, so that both share one file object and its key
            // indexes; nothing here writes.
            t->open();
            return t;
        };
        test = open("bd_test.DBF");
        vopros = open("bd_vopros.DBF");
        otvet = open("bd_otvet.dbf");
        org = open("bd_org.dbf");
        anket = open("bd_anket.dbf");
        rezult = open("bd_rezult.dbf");
        analiz = open("bd_analiz.dbf");
        summa = open("bd_summa.dbf");
        rez = open("bd_rez.dbf");
        sprav = open("bd_sprav.dbf");
        run = std::make_unique<RunTables>(vopros, otvet, rezult, summa, rez);
    }
};

Archive::Archive(const QString& alias) : alias_(alias), t_(std::make_unique<Tables>(alias)) {}
Archive::~Archive() = default;

QString Archive::directory() const {
    return db::Aliases::resolve(alias_);
}

std::optional<Institution> Archive::institution(int org) {
    t_->org->setFiltered(false);
    if (!t_->org->locate(QStringLiteral("NOM_ORG"), {org})) return std::nullopt;
    return Institution{org, text(t_->org->fieldValue(QStringLiteral("NAMEU"))),
                       text(t_->org->fieldValue(QStringLiteral("PODRU")))};
}

namespace {

Testee testeeAt(db::Table* anket, db::Table* sprav, int row) {
    auto value = [&](const char* name) {
        return anket->valueAt(row, anket->fieldByName(QString::fromLatin1(name)));
    };
    Testee p;
    p.org = whole(value("NOMU"));
    p.number = whole(value("NOMTESTIR"));
    p.surname = text(value("FAMTESTIR"));
    p.name = text(value("NAMETESTIR"));
    p.patronymic = text(value("OTCHTESTIR"));
    p.sex = text(value("POLTESTIR"));
    const db::Variant year = value("GRTESTIR");
    if (!year.isNull()) p.birthYear = int(year.toInt());
    const db::Variant education = value("OBRTESTIR");
    if (!education.isNull())
        p.education = text(sprav->lookup(QStringLiteral("KOD"), education, QStringLiteral("TEXT")));
    return p;
}

} // namespace

std::vector<Testee> Archive::testees(int org) {
    t_->sprav->filterBy(QStringLiteral("SPRAV=2"));
    t_->anket->filterBy(QStringLiteral("NOMU=") + QString::number(org));
    std::vector<Testee> all;
    for (int row = 0; row < t_->anket->recordCount(); ++row)
        all.push_back(testeeAt(t_->anket, t_->sprav, row));
    std::stable_sort(all.begin(), all.end(),
                     [](const Testee& a, const Testee& b) { return a.number < b.number; });
    return all;
}

std::optional<Testee> Archive::testee(int org, int number) {
    t_->sprav->filterBy(QStringLiteral("SPRAV=2"));
    t_->anket->filterBy(QStringLiteral("NOMU=%1 and NOMTESTIR=%2").arg(org).arg(number));
    if (t_->anket->isEmpty()) return std::nullopt;
    return testeeAt(t_->anket, t_->sprav, 0);
}

std::optional<TestInfo> findTest(const QString& database, int number) {
    const std::unique_ptr<db::ColumnScan> t = db::ColumnScan::open(database, "bd_test.DBF");
    const int nt = t->column("NTEST"), name = t->column("NAME"), kol = t->column("KOLKRIT");
    if (nt < 0) return std::nullopt;
    std::optional<TestInfo> found;
    t->scan([&](const db::ColumnScan::Record& r) {
        if (!r.live() || r.whole(nt) != number) return true;
        const int criteria = kol < 0 ? 0 : int(std::clamp<int64_t>(r.whole(kol).value_or(0), 0, 10000));
        found = TestInfo{number, name < 0 ? QString() : r.text(name).trimmed(), criteria};
        return false;
    });
    return found;
}

QString noSuchTest(int number) {
    return QStringLiteral("Теста № %1 нет в базе данных.").arg(number);
}

std::optional<TestInfo> Archive::test(int number) {
    t_->test->setFiltered(false);
    if (!t_->test->locate(QStringLiteral("NTEST"), {number})) return std::nullopt;
    return TestInfo{number, text(t_->test->fieldValue(QStringLiteral("NAME"))),
                    std::max(0, whole(t_->test->fieldValue(QStringLiteral("KOLKRIT"))))};
}

QDate Archive::runDate(const RunKey& key) {
    // The score rows are dated when first scored; an unscored run has only its answer rows.
    for (db::Table* t : {t_->rez, t_->rezult}) {
        t->filterBy(runFilter(key));
        const db::Field* f = t->fieldByName(QStringLiteral("DATA"));
        QDate newest;
        for (int row = 0; row < t->recordCount(); ++row) {
            const db::Variant d = t->valueAt(row, f);
            if (!d.isNull() && (newest.isNull() || d.toDate() > newest)) newest = d.toDate();
        }
        if (!newest.isNull()) return newest;
    }
    return {};
}

RunResult Archive::run(const RunKey& key, bool withAnswers) {
    RunResult r;
    r.key = key;
    r.date = runDate(key);
    const std::optional<TestInfo> info = test(key.test);
    const int criteria = info ? info->criteria : 0;
    t_->rez->filterBy(runFilter(key));
    for (int k = 1; k <= criteria; ++k) {
        CriterionResult c;
        c.krit = k;
        c.score = scoreOf(*t_->run, k);
        if (c.score) c.level = levelOf(t_->analiz, key.test, k, wholeScore(*c.score));
        r.criteria.push_back(std::move(c));
    }
    if (withAnswers) {
        db::Table* vopros = t_->vopros;
        vopros->filterBy(questionsFilter(key.test));
        t_->rezult->filterBy(runFilter(key));
        const db::Field* nvopr = vopros->fieldByName(QStringLiteral("NVOPR"));
        const db::Field* textv = vopros->fieldByName(QStringLiteral("TEXTV"));
        // Read first: finding a choice moves the question cursor.
        for (int row = 0; row < vopros->recordCount(); ++row)
            r.answers.push_back({whole(vopros->valueAt(row, nvopr)), text(vopros->valueAt(row, textv)), {}});
        for (AnswerResult& a : r.answers)
            a.choice = chosenOption(*t_->run, a.question);
    }
    return r;
}

std::vector<RunResult> Archive::history(int org, int testee) {
    const QString whose = QStringLiteral("NOMU=%1 and NOMTESTIR=%2").arg(org).arg(testee);
    std::set<int> tests;
    for (db::Table* t : {t_->rez, t_->rezult}) {
        t->filterBy(whose);
        const db::Field* f = t->fieldByName(QStringLiteral("NOMTESTA"));
        for (int row = 0; row < t->recordCount(); ++row)
            tests.insert(whole(t->valueAt(row, f)));
    }
    std::vector<RunResult> runs;
    for (int test : tests)
        runs.push_back(run({org, testee, test}, false));
    // Newest first; undated runs last; one day's runs by test number.
    std::stable_sort(runs.begin(), runs.end(), [](const RunResult& a, const RunResult& b) {
        if (a.date.isNull() != b.date.isNull()) return b.date.isNull();
        return a.date > b.date;
    });
    return runs;
}

std::vector<RunResult> Archive::group(int org, int test, const std::function<bool(int, int)>& progress) {
    const std::optional<TestInfo> info = this->test(test);
    const int criteria = info ? info->criteria : 0;
    // One pass over the score rows of the institution and test instead of one run at a time.
    // Within a run the first row of a criterion in stored order counts, as in scoreOf.
    db::Table* rez = t_->rez;
    rez->filterBy(QStringLiteral("NOMU=%1 and NOMTESTA=%2").arg(org).arg(test));
    const db::Field *nomtestir = rez->fieldByName(QStringLiteral("NOMTESTIR")),
                    *krit = rez->fieldByName(QStringLiteral("KRIT")),
                    *ball = rez->fieldByName(QStringLiteral("BALL")),
                    *data = rez->fieldByName(QStringLiteral("DATA"));
    std::map<int, RunResult> byTestee;
    for (int row = 0; row < rez->recordCount(); ++row) {
        const int testee = whole(rez->valueAt(row, nomtestir));
        RunResult& r = byTestee[testee];
        if (r.criteria.empty()) {
            r.key = {org, testee, test};
            for (int k = 1; k <= criteria; ++k)
                r.criteria.push_back({k, std::nullopt, std::nullopt});
        }
        const db::Variant d = rez->valueAt(row, data);
        if (!d.isNull() && (r.date.isNull() || d.toDate() > r.date)) r.date = d.toDate();
        const db::Variant k = rez->valueAt(row, krit);
        if (k.isNull() || k.toInt() < 1 || k.toInt() > criteria) continue;
        CriterionResult& c = r.criteria[size_t(k.toInt() - 1)];
        if (!c.score) c.score = rez->valueAt(row, ball).toDouble();
    }
    std::map<std::pair<int, int>, std::optional<Level>> levels;
    std::vector<RunResult> runs;
    const int total = int(byTestee.size());
    for (auto& [testee, r] : byTestee) {
        if (progress && !progress(int(runs.size()), total)) break;
        for (CriterionResult& c : r.criteria) {
            if (!c.score) continue;
            const int rounded = wholeScore(*c.score);
            auto [it, fresh] = levels.try_emplace({c.krit, rounded});
            if (fresh) it->second = levelOf(t_->analiz, test, c.krit, rounded);
            c.level = it->second;
        }
        runs.push_back(std::move(r));
    }
    return runs;
}

} // namespace results
