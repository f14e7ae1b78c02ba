#include "psychometrics/ItemAnalysis.h"

#include "psychometrics/Columns.h"
#include "results/Archive.h"
#include "results/Scoring.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>

namespace psychometrics {

bool CriterionAnalysis::flagged(size_t i) const {
    const ItemFigures& f = items[i].figures;
    return (f.itemRest && *f.itemRest < 0) ||
           (f.alphaIfDropped && scale.alpha && *f.alphaIfDropped > *scale.alpha);
}

namespace {

constexpr int32_t kNone = std::numeric_limits<int32_t>::min();
using Record = db::ColumnScan::Record;

struct Question {
    int number = 0;
    std::optional<int64_t> set;
};

// The test's questions, the first row of each number, and where each stands among them.
std::vector<Question> questionsOf(const QString& database, int test,
                                  std::unordered_map<int64_t, size_t>& place) {
    Columns v(database, "bd_vopros.DBF");
    const int nt = v.column("NTEST"), nv = v.column("NVOPR"), no = v.column("NOTV");
    std::vector<Question> list;
    v.scan([&](const Record& r) {
        if (!r.live() || r.whole(nt) != test) return true;
        const auto q = r.whole(nv);
        if (!q || place.count(*q)) return true;
        place.emplace(*q, list.size());
        list.push_back({int(*q), r.whole(no)});
        return true;
    });
    return list;
}

// The points of each option of the answer sets named, in stored order; a blank is no points.
std::unordered_map<int64_t, std::vector<int32_t>> optionPoints(const QString& database,
                                                               const std::vector<Question>& questions) {
    std::unordered_map<int64_t, std::vector<int32_t>> sets;
    for (const Question& q : questions)
        if (q.set) sets.try_emplace(*q.set);
    Columns o(database, "bd_otvet.dbf");
    const int nm = o.column("NOMOTV"), bo = o.column("BOTVET");
    o.scan([&](const Record& r) {
        const auto set = r.live() ? r.whole(nm) : std::nullopt;
        auto it = set ? sets.find(*set) : sets.end();
        if (it != sets.end()) it->second.push_back(int32_t(r.whole(bo).value_or(0)));
        return true;
    });
    return sets;
}

// Each criterion's items: question place → weight, in question number order.
struct Key {
    std::vector<std::map<int, int>> weights; // per criterion: question number → key rows
    std::vector<int> stray;
};

Key keyOf(const QString& database, int test, int criteria, const std::unordered_map<int64_t, size_t>& place) {
    Key key{std::vector<std::map<int, int>>(size_t(criteria)), std::vector<int>(size_t(criteria), 0)};
    Columns s(database, "bd_summa.dbf");
    const int na = s.column("NOMTESTA"), kr = s.column("KRIT"), sv = s.column("SUMVOPR");
    s.scan([&](const Record& r) {
        if (!r.live() || r.whole(na) != test) return true;
        const auto k = r.whole(kr);
        if (!k || *k < 1 || *k > criteria) return true; // outside 1..KOLKRIT: not scored
        const auto q = r.whole(sv);
        if (!q || !place.count(*q))
            ++key.stray[size_t(*k - 1)];
        else
            ++key.weights[size_t(*k - 1)][int(*q)];
        return true;
    });
    return key;
}

// Every run's points per question, one run after another: kNone where no row of the question
// was found, kNoChoice where its first row chose no option.
constexpr int32_t kNoChoice = kNone + 1;

struct Answers {
    size_t runs = 0;
    std::vector<int32_t> cells;
};

Answers answersOf(const QString& database, int test, const std::vector<Question>& questions,
                  const std::unordered_map<int64_t, size_t>& place,
                  const std::unordered_map<int64_t, std::vector<int32_t>>& points,
                  const std::function<bool(qint64, qint64)>& progress) {
    const size_t width = questions.size();
    std::vector<const std::vector<int32_t>*> setOf(width, nullptr);
    for (size_t i = 0; i < width; ++i)
        if (questions[i].set) setOf[i] = &points.at(*questions[i].set);
    // Question numbers are small: their columns by number, without hashing each row's.
    std::vector<int32_t> direct(1024, -1);
    for (const auto& [number, column] : place)
        if (number >= 0 && number < int64_t(direct.size())) direct[size_t(number)] = int32_t(column);
    Answers a;
    std::unordered_map<uint64_t, uint32_t> runOf;
    std::string lastU, lastT;
    uint32_t lastRun = 0;
    Columns rz(database, "bd_rezult.dbf");
    const int nu = rz.column("NOMU"), nt = rz.column("NOMTESTIR"), na = rz.column("NOMTESTA"),
              nv = rz.column("NOMVOPR"), ot = rz.column("OTVET");
    const uint32_t n = progress ? rz.count() : 0; // a server counts by reading the table
    bool stopped = false;
    // One pass in stored order, decoding only these five fields of each record.
    rz.scan([&](const Record& rec) {
        const uint32_t r = rec.index();
        if (progress && (r & 0xFFFF) == 0 && !progress(r, n)) {
            stopped = true;
            return false;
        }
        if (!rec.live() || rec.whole(na) != test) return true;
        // A run's rows mostly follow each other: while the testee's fields hold the same text as
        // the last row's, it is the same run, and they need not be read as numbers again.
        const std::string_view ru = rec.raw(nu), rt = rec.raw(nt);
        if (a.runs == 0 || ru != lastU || rt != lastT) {
            const auto u = db::wholeNumber(ru), t = db::wholeNumber(rt);
            if (!u || !t) return true;
            const uint64_t who = (uint64_t(uint32_t(*u)) << 32) | uint32_t(*t);
            auto [it, fresh] = runOf.try_emplace(who, uint32_t(a.runs));
            if (fresh) {
                ++a.runs;
                a.cells.resize(a.cells.size() + width, kNone);
            }
            lastRun = it->second;
            lastU.assign(ru);
            lastT.assign(rt);
        }
        const auto q = rec.whole(nv);
        if (!q) return true;
        size_t column;
        if (*q >= 0 && *q < int64_t(direct.size())) {
            if (direct[size_t(*q)] < 0) return true;
            column = size_t(direct[size_t(*q)]);
        } else {
            const auto col = place.find(*q);
            if (col == place.end()) return true;
            column = col->second;
        }
        int32_t& cell = a.cells[size_t(lastRun) * width + column];
        if (cell != kNone) return true; // the first row of a question counts
        const std::vector<int32_t>* set = setOf[column];
        const auto chosen = results::optionPlace(rec.whole(ot), set ? set->size() : 0);
        cell = chosen ? (*set)[*chosen] : kNoChoice;
        return true;
    });
    if (stopped) throw AnalysisError(QStringLiteral("Анализ прерван."));
    return a;
}

CriterionAnalysis analyseCriterion(int krit, const std::map<int, int>& weights, int stray, const Answers& a,
                                   const std::unordered_map<int64_t, size_t>& place, size_t width) {
    CriterionAnalysis c;
    c.krit = krit;
    c.strayKeyRows = stray;
    std::vector<size_t> cols;
    for (const auto& [q, w] : weights) {
        c.items.push_back({q, w, {}});
        cols.push_back(place.at(q));
    }
    const size_t k = cols.size();
    std::vector<double> scores;
    if (k == 0) {
        c.leftOut = a.runs;
        return c;
    }
    scores.reserve(a.runs * k);
    for (size_t r = 0; r < a.runs; ++r) {
        const int32_t* row = &a.cells[r * width];
        bool complete = true;
        for (size_t i = 0; i < k && complete; ++i)
            complete = row[cols[i]] > kNoChoice;
        if (!complete) {
            ++c.leftOut;
            continue;
        }
        for (size_t i = 0; i < k; ++i)
            scores.push_back(double(row[cols[i]]) * c.items[i].weight);
        ++c.complete;
    }
    c.scale = analyseScale(scores, k);
    for (size_t i = 0; i < k; ++i)
        c.items[i].figures = c.scale.items[i];
    return c;
}

} // namespace

TestAnalysis analyseTest(const QString& database, int test,
                         const std::function<bool(qint64, qint64)>& progress) {
    const auto row = results::findTest(database, test);
    if (!row) throw AnalysisError(results::noSuchTest(test));
    TestAnalysis t;
    t.test = test;
    t.name = row->name;
    if (row->criteria == 0)
        throw AnalysisError(
            QStringLiteral("У теста № %1 не указано ни одного критерия: анализировать нечего.").arg(test));
    std::unordered_map<int64_t, size_t> place;
    const std::vector<Question> questions = questionsOf(database, test, place);
    const auto points = optionPoints(database, questions);
    const Key key = keyOf(database, test, row->criteria, place);
    const Answers answers = answersOf(database, test, questions, place, points, progress);
    t.runs = answers.runs;
    for (int k = 1; k <= row->criteria; ++k)
        t.criteria.push_back(analyseCriterion(k, key.weights[size_t(k - 1)], key.stray[size_t(k - 1)],
                                              answers, place, questions.size()));
    return t;
}

CriterionScores criterionScores(const QString& database, int test, int krit) {
    const auto row = results::findTest(database, test);
    if (!row) throw AnalysisError(results::noSuchTest(test));
    if (krit < 1 || krit > row->criteria)
        throw AnalysisError(
            QStringLiteral("У теста № %1 нет критерия № %2: их %3.").arg(test).arg(krit).arg(row->criteria));
    std::unordered_map<int64_t, size_t> place;
    const std::vector<Question> questions = questionsOf(database, test, place);
    const auto points = optionPoints(database, questions);
    const Key key = keyOf(database, test, row->criteria, place);
    const Answers answers = answersOf(database, test, questions, place, points, {});
    CriterionScores c;
    c.testName = row->name;
    std::vector<size_t> cols;
    for (const auto& [q, w] : key.weights[size_t(krit - 1)]) {
        c.items.push_back({q, w, {}});
        cols.push_back(place.at(q));
    }
    const size_t width = questions.size(), k = cols.size();
    for (size_t r = 0; r < answers.runs; ++r) {
        const int32_t* cells = &answers.cells[r * width];
        bool any = false;
        for (size_t i = 0; i < k; ++i)
            any = any || cells[cols[i]] > kNoChoice;
        if (!any) continue;
        for (size_t i = 0; i < k; ++i)
            c.scores.push_back(cells[cols[i]] > kNoChoice ? cells[cols[i]] * c.items[i].weight : kUnanswered);
        ++c.runs;
    }
    return c;
}

} // namespace psychometrics
