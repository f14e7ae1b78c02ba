#include "Collect.h"
#include "Output.h"

#include "dataset/Aliases.h"
#include "dataset/ColumnScan.h"
#include "dataset/Table.h"
#include "dataset/Variant.h"
#include "psychometrics/Norms.h"
#include "psychometrics/Texts.h"
#include "results/Archive.h"
#include "results/Level.h"
#include "results/Pseudonym.h"
#include "results/Run.h"
#include "results/Scoring.h"

#include <algorithm>
#include <map>
#include <memory>
#include <unordered_map>

namespace exporting {

namespace {

using Record = db::ColumnScan::Record;

// One table of the database, a folder or a server, read whole (see db::ColumnScan).
class Reader {
public:
    Reader(const QString& database, const char* file) : scan_(db::ColumnScan::open(database, file)) {}
    int column(const char* name) {
        const int c = scan_->column(name);
        if (c < 0)
            throw ExportError(
                QStringLiteral("В таблице %1 нет поля %2.").arg(scan_->where(), QLatin1String(name)));
        return c;
    }
    uint32_t count() const { return scan_->count(); }
    template <class Step> void scan(Step&& step) { scan_->scan(std::forward<Step>(step)); }

private:
    std::unique_ptr<db::ColumnScan> scan_;
};

uint64_t keyOf(int64_t org, int64_t testee) {
    return (uint64_t(uint32_t(org)) << 32) | uint32_t(testee);
}

using results::TestInfo;

TestInfo findTest(const QString& database, int test) {
    if (auto found = results::findTest(database, test)) return *found;
    throw ExportError(results::noSuchTest(test));
}

// A tested testee: the row of the sheet and the cells of its scores or answers.
struct Run {
    int64_t org = 0, testee = 0;
    qint64 day = 0;   // Julian day of the run (see runDay); 0 when no row has a date
    size_t cells = 0; // offset into the cell array
};

class Runs {
public:
    explicit Runs(size_t width) : width_(width) {}
    // The run of a testee, made on first sight.
    Run& of(int64_t org, int64_t testee) {
        auto [it, made] = index_.try_emplace(keyOf(org, testee), runs_.size());
        if (made) {
            runs_.push_back({org, testee, 0, cells_.size()});
            cells_.resize(cells_.size() + width_, kMissing);
        }
        return runs_[it->second];
    }
    double& cell(const Run& run, size_t i) { return cells_[run.cells + i]; }
    Run* find(int64_t org, int64_t testee) {
        auto it = index_.find(keyOf(org, testee));
        return it == index_.end() ? nullptr : &runs_[it->second];
    }
    std::vector<Run>& list() { return runs_; }
    const std::vector<double>& cells() const { return cells_; }

private:
    size_t width_;
    std::vector<Run> runs_;
    std::vector<double> cells_;
    std::unordered_map<uint64_t, size_t> index_;
};

// The columns every row begins with: who was tested where, and when.
void addPeople(const QString& database, Sheet& sheet, const std::vector<Run>& runs) {
    std::unordered_map<int64_t, QString> orgNames;
    {
        Reader o(database, "bd_org.dbf");
        const int nom = o.column("NOM_ORG"), name = o.column("NAMEU");
        o.scan([&](const Record& r) {
            if (auto n = r.whole(nom); r.live() && n) orgNames.try_emplace(*n, r.text(name));
            return true;
        });
    }
    std::vector<std::pair<double, QString>> education;
    {
        Reader s(database, "bd_sprav.dbf");
        const int kind = s.column("SPRAV"), code = s.column("KOD"), text = s.column("TEXT");
        s.scan([&](const Record& r) {
            if (!r.live() || r.whole(kind) != 2) return true;
            auto c = r.whole(code);
            // The first entry of a code is the one the program's lookup shows.
            if (c && std::none_of(education.begin(), education.end(),
                                  [&](const auto& e) { return e.first == *c; }))
                education.emplace_back(double(*c), r.text(text));
            return true;
        });
        std::sort(education.begin(), education.end());
    }

    // The references below stay valid only while the vector does not grow past this.
    sheet.columns.reserve(sheet.columns.size() + 11);
    auto column = [&](const char* name, const char* title, ColumnType type, Measure m) -> Column& {
        Column c;
        c.name = QLatin1String(name);
        c.title = QString::fromUtf8(title);
        c.type = type;
        c.measure = m;
        if (type == ColumnType::Text)
            c.texts.resize(runs.size());
        else
            c.numbers.resize(runs.size(), kMissing);
        sheet.columns.push_back(std::move(c));
        return sheet.columns.back();
    };
    Column& org = column("NOMU", "№ учреждения", ColumnType::Number, Measure::Nominal);
    Column& orgName = column("NAMEU", "Учреждение", ColumnType::Text, Measure::Nominal);
    Column& testee = column("NOMTESTIR", "№ тестируемого", ColumnType::Number, Measure::Nominal);
    Column& fam = column("FAMTESTIR", "Фамилия", ColumnType::Text, Measure::Nominal);
    Column& nam = column("NAMETESTIR", "Имя", ColumnType::Text, Measure::Nominal);
    Column& otch = column("OTCHTESTIR", "Отчество", ColumnType::Text, Measure::Nominal);
    Column& pol = column("POLTESTIR", "Пол", ColumnType::Text, Measure::Nominal);
    pol.textLabels = {{QStringLiteral("М"), QStringLiteral("мужской")},
                      {QStringLiteral("Ж"), QStringLiteral("женский")}};
    Column& born = column("GRTESTIR", "Год рождения", ColumnType::Number, Measure::Scale);
    Column& obr = column("OBRTESTIR", "Образование (код)", ColumnType::Number, Measure::Ordinal);
    obr.numberLabels = education;
    Column& obrText = column("OBR", "Образование", ColumnType::Text, Measure::Ordinal);
    Column& date = column("DATA", "Дата тестирования", ColumnType::Date, Measure::Scale);

    std::unordered_map<uint64_t, size_t> rowOf;
    for (size_t i = 0; i < runs.size(); ++i) {
        rowOf.emplace(keyOf(runs[i].org, runs[i].testee), i);
        org.numbers[i] = double(runs[i].org);
        testee.numbers[i] = double(runs[i].testee);
        if (auto it = orgNames.find(runs[i].org); it != orgNames.end()) orgName.texts[i] = it->second;
        if (runs[i].day) date.numbers[i] = double(runs[i].day);
    }
    Reader a(database, "bd_anket.dbf");
    const int nt = a.column("NOMTESTIR"), nu = a.column("NOMU"), cf = a.column("FAMTESTIR"),
              cn = a.column("NAMETESTIR"), co = a.column("OTCHTESTIR"), cp = a.column("POLTESTIR"),
              cg = a.column("GRTESTIR"), cb = a.column("OBRTESTIR");
    std::vector<bool> filled(runs.size());
    a.scan([&](const Record& rec) {
        if (!rec.live()) return true;
        auto u = rec.whole(nu), t = rec.whole(nt);
        if (!u || !t) return true;
        auto it = rowOf.find(keyOf(*u, *t));
        if (it == rowOf.end() || filled[it->second]) return true;
        const size_t i = it->second;
        filled[i] = true;
        fam.texts[i] = rec.text(cf);
        nam.texts[i] = rec.text(cn);
        otch.texts[i] = rec.text(co);
        pol.texts[i] = rec.text(cp);
        born.numbers[i] = rec.number(cg).value_or(kMissing);
        obr.numbers[i] = rec.number(cb).value_or(kMissing);
        if (!std::isnan(obr.numbers[i]))
            for (const auto& [code, text] : education)
                if (code == obr.numbers[i]) obrText.texts[i] = text;
        return true;
    });
}

// Rows in the order of institution and testee numbers.
std::vector<Run> sorted(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
        return std::tie(a.org, a.testee) < std::tie(b.org, b.testee);
    });
    return runs;
}

[[noreturn]] void nobody(const Request& request, const TestInfo& test) {
    if (request.org)
        throw ExportError(QStringLiteral("В учреждении № %1 тест № %2 «%3» никто не проходил.")
                              .arg(*request.org)
                              .arg(request.test)
                              .arg(test.name));
    throw ExportError(QStringLiteral("Тест № %1 «%2» никто не проходил.").arg(request.test).arg(test.name));
}

// Runs with answer rows but no score row: "nobody took it" would be false.
[[noreturn]] void unscored(const Request& request, const TestInfo& test) {
    const QString what = QStringLiteral("тест № %1 «%2» проходили, но ни один результат не подсчитан "
                                        "(баллов нет); выгрузить можно ответы.")
                             .arg(request.test)
                             .arg(test.name);
    if (request.org) throw ExportError(QStringLiteral("В учреждении № %1 ").arg(*request.org) + what);
    throw ExportError(what.at(0).toUpper() + what.mid(1));
}

bool anyAnswered(const QString& database, const Request& request) {
    Reader t(database, "bd_rezult.dbf");
    const int nu = t.column("NOMU"), na = t.column("NOMTESTA");
    bool found = false;
    t.scan([&](const Record& rec) {
        found =
            rec.live() && rec.whole(na) == request.test && (!request.org || rec.whole(nu) == *request.org);
        return !found;
    });
    return found;
}

// The fewest decimals (up to the four a score field holds) that write every value as stored.
int decimalsOf(const std::vector<double>& values) {
    int decimals = 0;
    for (const double v : values) {
        if (std::isnan(v)) continue;
        while (decimals < 4) {
            const double scaled = v * std::pow(10.0, decimals);
            if (std::abs(scaled - std::round(scaled)) <= 1e-6 * std::max(1.0, std::abs(scaled))) break;
            ++decimals;
        }
    }
    return decimals;
}

void checkOrg(const QString& database, const Request& request) {
    if (!request.org) return;
    Reader o(database, "bd_org.dbf");
    const int nom = o.column("NOM_ORG");
    bool found = false;
    o.scan([&](const Record& r) {
        found = r.live() && r.whole(nom) == *request.org;
        return !found;
    });
    if (found) return;
    throw ExportError(QStringLiteral("Учреждения № %1 нет в базе данных.").arg(*request.org));
}

// The date of a run as the archive of results gives it: the newest date of its score rows, or
// of its answer rows when none is dated. A scan of the other table runs only when needed.
void dateRuns(const QString& database, const Request& request, Runs& runs, const char* first,
              const char* second) {
    for (const char* file : {first, second}) {
        bool undated = false;
        for (const Run& run : runs.list())
            undated = undated || run.day == 0;
        if (!undated) return;
        std::unordered_map<uint64_t, qint64> newest;
        Reader t(database, file);
        const int nu = t.column("NOMU"), nt = t.column("NOMTESTIR"), na = t.column("NOMTESTA"),
                  dt = t.column("DATA");
        t.scan([&](const Record& rec) {
            if (!rec.live() || rec.whole(na) != request.test) return true;
            auto u = rec.whole(nu), n = rec.whole(nt);
            if (!u || !n || (request.org && *u != *request.org)) return true;
            Run* run = runs.find(*u, *n);
            if (!run || run->day != 0) return true;
            const QDate d = rec.date(dt);
            if (!d.isValid()) return true;
            qint64& day = newest[keyOf(*u, *n)];
            day = std::max(day, d.toJulianDay());
            return true;
        });
        for (Run& run : runs.list())
            if (auto it = newest.find(keyOf(run.org, run.testee)); run.day == 0 && it != newest.end())
                run.day = it->second;
    }
}

// The runs found, dated and in row order; none is the refusal.
std::vector<Run> datedInOrder(const QString& database, const Request& request, const TestInfo& test,
                              Runs& runs) {
    if (runs.list().empty()) nobody(request, test);
    dateRuns(database, request, runs, "bd_rez.dbf", "bd_rezult.dbf");
    return sorted(runs.list());
}

// A sheet of one row per run with the columns of who was tested, before either kind's own.
Sheet peopleSheet(const QString& database, const TestInfo& test, const std::vector<Run>& order) {
    Sheet sheet;
    sheet.title = test.name;
    sheet.rows = order.size();
    addPeople(database, sheet, order);
    return sheet;
}

// A table of the database opened as the windows' tables are, for the shared rules that work on one.
std::unique_ptr<db::Table> openTable(const QString& database, const char* file) {
    auto t = std::make_unique<db::Table>();
    db::placeTable(*t, database, QLatin1String(file));
    t->setReadOnly(true);
    t->open();
    return t;
}

// The level names of the scores of a test, by the shared rule of a score's level; a test has
// few distinct scores per criterion, so each is looked up once.
class Levels {
public:
    Levels(const QString& database, int test) : analiz_(openTable(database, "bd_analiz.dbf")), test_(test) {}
    QString name(int krit, int score) {
        auto [it, made] = names_.try_emplace({krit, score});
        if (made)
            if (const auto level = results::levelOf(analiz_.get(), test_, krit, score))
                it->second = level->name;
        return it->second;
    }

private:
    std::unique_ptr<db::Table> analiz_;
    int test_;
    std::map<std::pair<int, int>, QString> names_;
};

struct Option {
    double points;
    QString text;
};

// The options of each answer set in the order the testing window shows them, read once per set
// through the shared narrowing to a set.
class Options {
public:
    explicit Options(const QString& database) : otvet_(openTable(database, "bd_otvet.dbf")) {}
    const std::vector<Option>& of(const std::optional<int64_t>& set) {
        static const std::vector<Option> none;
        if (!set) return none;
        auto [it, made] = sets_.try_emplace(*set);
        if (made && results::narrowToAnswerSet(otvet_.get(), db::Variant(*set))) {
            const db::Field* text = otvet_->fieldByName(QStringLiteral("OTVET"));
            const db::Field* points = otvet_->fieldByName(QStringLiteral("BOTVET"));
            for (; !otvet_->eof(); otvet_->next()) {
                const db::Variant p = points->value();
                // A blank is no points, as the scoring counts it.
                it->second.push_back({p.isNull() ? 0.0 : double(p.toInt()), text->value().toString()});
            }
        }
        return it->second;
    }

private:
    std::unique_ptr<db::Table> otvet_;
    std::unordered_map<int64_t, std::vector<Option>> sets_;
};

const Column* named(const Sheet& sheet, const char* name) {
    for (const Column& c : sheet.columns)
        if (c.name == QLatin1String(name)) return &c;
    return nullptr;
}

// Criterion k's standard scores after its score column (the last one), where the test has norms
// of the criterion; a run outside every norm group has blanks.
void addStandardScores(Sheet& sheet, const std::vector<psychometrics::NormGroup>& norms, int k) {
    if (std::none_of(norms.begin(), norms.end(), [k](const auto& g) { return g.krit == k; })) return;
    const Column *sex = named(sheet, "POLTESTIR"), *born = named(sheet, "GRTESTIR"),
                 *date = named(sheet, "DATA");
    const std::vector<double> scores = sheet.columns[sheet.columns.size() - 2].numbers;
    const char* const suffixes[] = {"Z", "T", "STEN", "STAN", "PR"};
    const QStringList titles = psychometrics::scoreHeadings();
    std::vector<Column> added(5);
    for (size_t i = 0; i < added.size(); ++i) {
        added[i].name = QStringLiteral("KRIT%1_%2").arg(k).arg(QLatin1String(suffixes[i]));
        added[i].title = QStringLiteral("Критерий %1: %2").arg(k).arg(titles[int(i)]);
        added[i].decimals = i == 0 ? 4 : i == 4 ? 2 : 0;
        added[i].measure = i == 2 || i == 3 ? Measure::Ordinal : Measure::Scale;
        added[i].numbers.assign(sheet.rows, kMissing);
    }
    for (size_t r = 0; r < sheet.rows; ++r) {
        if (std::isnan(scores[r]) || !sex || !born || !date) continue;
        const std::optional<int> year =
            std::isnan(born->numbers[r]) ? std::nullopt : std::optional<int>(int(born->numbers[r]));
        const QDate tested = std::isnan(date->numbers[r]) ? QDate() : date->date(r);
        const auto n = psychometrics::standardScores(norms, k, scores[r], sex->texts[r], year, tested);
        if (!n.scores) continue;
        const psychometrics::StandardScores& s = *n.scores;
        const std::optional<double> values[] = {
            s.z, s.t, s.sten ? std::optional<double>(*s.sten) : std::nullopt,
            s.stanine ? std::optional<double>(*s.stanine) : std::nullopt, s.percentile};
        for (size_t i = 0; i < added.size(); ++i)
            if (values[i]) added[i].numbers[r] = *values[i];
    }
    for (Column& c : added)
        sheet.columns.push_back(std::move(c));
}

Sheet collectScores(const QString& database, const Request& request, const TestInfo& test,
                    const Progress& progress) {
    const int K = std::max(0, test.criteria);
    Runs runs{size_t(K)};
    {
        Reader rez(database, "bd_rez.dbf");
        const int nu = rez.column("NOMU"), nt = rez.column("NOMTESTIR"), na = rez.column("NOMTESTA"),
                  kr = rez.column("KRIT"), ball = rez.column("BALL");
        const uint32_t n = progress ? rez.count() : 0; // a server counts by reading the table
        rez.scan([&](const Record& rec) {
            if (progress && (rec.index() & 0xFFFF) == 0) progress(rec.index(), n);
            if (!rec.live() || rec.whole(na) != request.test) return true;
            auto u = rec.whole(nu), t = rec.whole(nt);
            if (!u || !t || (request.org && *u != *request.org)) return true;
            Run& run = runs.of(*u, *t);
            auto k = rec.whole(kr);
            // Criteria beyond the test's count take no part in its result.
            if (!k || *k < 1 || *k > K) return true;
            double& cell = runs.cell(run, size_t(*k - 1));
            // The first score row of a criterion counts, as a search finds it. A score keeps its
            // decimals: another program or an edit in the tables may have written 6.5.
            if (const double b = rec.number(ball).value_or(kMissing); std::isnan(cell) && !std::isnan(b))
                cell = b;
            return true;
        });
    }
    if (runs.list().empty() && anyAnswered(database, request)) unscored(request, test);
    const std::vector<Run> order = datedInOrder(database, request, test, runs);
    Sheet sheet = peopleSheet(database, test, order);
    Levels levels(database, request.test);
    const std::vector<psychometrics::NormGroup> norms = psychometrics::readNorms(database, request.test);
    for (int k = 1; k <= K; ++k) {
        Column score;
        score.name = QStringLiteral("KRIT%1").arg(k);
        score.title = QStringLiteral("Критерий %1: балл").arg(k);
        score.measure = Measure::Scale;
        Column level;
        level.name = QStringLiteral("KRIT%1_UR").arg(k);
        level.title = QStringLiteral("Критерий %1: уровень").arg(k);
        level.type = ColumnType::Text;
        level.measure = Measure::Ordinal;
        score.numbers.reserve(order.size());
        level.texts.reserve(order.size());
        for (const Run& run : order) {
            const double b = runs.cells()[run.cells + size_t(k - 1)];
            score.numbers.push_back(b);
            // The level of a score is that of the whole number the result window reads.
            level.texts.push_back(std::isnan(b) ? QString() : levels.name(k, results::wholeScore(b)));
        }
        score.decimals = decimalsOf(score.numbers);
        sheet.columns.push_back(std::move(score));
        sheet.columns.push_back(std::move(level));
        addStandardScores(sheet, norms, k);
    }
    return sheet;
}

struct Question {
    int64_t number;
    QString text;
    std::optional<int64_t> set;
};

Sheet collectAnswers(const QString& database, const Request& request, const TestInfo& test,
                     const Progress& progress) {
    std::vector<Question> questions;
    std::unordered_map<int64_t, size_t> columnOf;
    {
        Reader v(database, "bd_vopros.DBF");
        const int nt = v.column("NTEST"), nv = v.column("NVOPR"), tx = v.column("TEXTV"),
                  no = v.column("NOTV");
        v.scan([&](const Record& r) {
            if (!r.live() || r.whole(nt) != request.test) return true;
            auto q = r.whole(nv);
            // A question number stored twice is one column: a search finds its first row.
            if (!q || columnOf.count(*q)) return true;
            columnOf.emplace(*q, questions.size());
            questions.push_back({*q, r.text(tx), r.whole(no)});
            return true;
        });
    }
    Options options(database);

    const bool points = request.content == Content::AnswerPoints;
    // Positions keep "shown, not answered" apart from "never shown" (a blank).
    constexpr double kNotAnswered = 0;
    Runs runs{questions.size()};
    {
        Reader rz(database, "bd_rezult.dbf");
        const int nu = rz.column("NOMU"), nt = rz.column("NOMTESTIR"), na = rz.column("NOMTESTA"),
                  nv = rz.column("NOMVOPR"), ot = rz.column("OTVET");
        const uint32_t n = progress ? rz.count() : 0;
        std::vector<bool> seen;
        // One pass a block at a time: the answer table may be far larger than memory allows.
        rz.scan([&](const Record& rec) {
            if (progress && (rec.index() & 0xFFFF) == 0) progress(rec.index(), n);
            if (!rec.live() || rec.whole(na) != request.test) return true;
            auto u = rec.whole(nu), t = rec.whole(nt);
            if (!u || !t || (request.org && *u != *request.org)) return true;
            Run& run = runs.of(*u, *t);
            auto q = rec.whole(nv);
            auto col = q ? columnOf.find(*q) : columnOf.end();
            if (col == columnOf.end()) return true; // not a question of this test
            // One answer row per question: the first in stored order counts, as a search finds it.
            const size_t at = run.cells + col->second;
            if (seen.size() <= at) seen.resize(runs.cells().size());
            if (seen[at]) return true;
            seen[at] = true;
            double& cell = runs.cell(run, col->second);
            const std::vector<Option>& set = options.of(questions[col->second].set);
            const std::optional<size_t> chosen = results::optionPlace(rec.whole(ot), set.size());
            if (!chosen)
                cell = points ? cell : kNotAnswered;
            else
                cell = points ? set[*chosen].points : double(*chosen + 1);
            return true;
        });
    }
    const std::vector<Run> order = datedInOrder(database, request, test, runs);
    Sheet sheet = peopleSheet(database, test, order);
    int64_t widest = 1;
    for (const Question& q : questions)
        widest = std::max(widest, std::abs(q.number));
    const int digits = std::max(3, int(QString::number(widest).size()));
    for (size_t i = 0; i < questions.size(); ++i) {
        const Question& q = questions[i];
        Column c;
        c.name = (q.number < 0 ? QStringLiteral("QM") : QStringLiteral("Q")) +
                 QStringLiteral("%1").arg(std::abs(q.number), digits, 10, QLatin1Char('0'));
        c.title = QStringLiteral("Вопрос %1: %2").arg(q.number).arg(q.text);
        if (points) {
            c.measure = Measure::Scale;
        } else {
            c.measure = Measure::Ordinal;
            c.missingCode = kNotAnswered;
            c.numberLabels.emplace_back(kNotAnswered, QStringLiteral("нет ответа"));
            const std::vector<Option>& set = options.of(q.set);
            for (size_t o = 0; o < set.size(); ++o)
                c.numberLabels.emplace_back(double(o + 1), set[o].text);
        }
        c.numbers.reserve(order.size());
        for (const Run& run : order)
            c.numbers.push_back(runs.cells()[run.cells + i]);
        sheet.columns.push_back(std::move(c));
    }
    return sheet;
}

// The names give way to the code, in the surname's place; the year of birth goes unless asked for.
void pseudonymize(Sheet& sheet, bool keepBirthYear) {
    auto find = [&](const char* name) {
        return std::find_if(sheet.columns.begin(), sheet.columns.end(),
                            [&](const Column& c) { return c.name == QLatin1String(name); });
    };
    const Column& org = *find("NOMU");
    const Column& testee = *find("NOMTESTIR");
    Column code;
    code.name = QStringLiteral("CODE");
    code.title = QStringLiteral("Код тестируемого");
    code.type = ColumnType::Text;
    code.measure = Measure::Nominal;
    for (size_t i = 0; i < sheet.rows; ++i)
        code.texts.push_back(results::pseudonym(int(org.numbers[i]), int(testee.numbers[i])));
    *find("FAMTESTIR") = std::move(code);
    std::vector<const char*> gone = {"NAMETESTIR", "OTCHTESTIR"};
    if (!keepBirthYear) gone.push_back("GRTESTIR");
    for (const char* name : gone)
        sheet.columns.erase(find(name));
}

Sheet collectOf(const QString& database, const Request& request, const Progress& progress) {
    const TestInfo test = findTest(database, request.test);
    checkOrg(database, request);
    return request.content == Content::Scores ? collectScores(database, request, test, progress)
                                              : collectAnswers(database, request, test, progress);
}

} // namespace

Sheet collect(const QString& database, const Request& request, const Progress& progress) {
    Sheet sheet = collectOf(database, request, progress);
    if (request.anonymous) pseudonymize(sheet, request.birthYear);
    return sheet;
}

std::vector<TestEntry> tests(const QString& database) {
    std::vector<TestEntry> list;
    Reader t(database, "bd_test.DBF");
    const int nt = t.column("NTEST"), name = t.column("NAME");
    t.scan([&](const Record& r) {
        if (auto n = r.whole(nt); r.live() && n) list.push_back({int(*n), r.text(name)});
        return true;
    });
    return list;
}

} // namespace exporting
