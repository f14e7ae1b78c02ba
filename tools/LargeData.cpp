#include "LargeData.h"

#include "Errors.h"
#include "SampleData.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <memory>

// A large database for benchmarks. Rows go straight to the files as record bytes: building them
// through datasets costs a field conversion per value and a sync per row, far too slow for
// a million answers. The content is still consistent: every answer names an existing testee,
// test, question and option, and scores follow the program's own rule.

namespace large {

namespace {

constexpr int64_t kMaxSmallint = 999999; // N(6,0)
constexpr int64_t kMaxAnswers = 100'000'000;
constexpr int64_t kMaxScores = 20'000'000;
constexpr int64_t kMaxQuestionRows = 10'000'000;

// splitmix64: the same sequence on every platform, unlike the standard distributions.
class Random {
public:
    explicit Random(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int64_t n) { return int(next() % uint64_t(n)); }

private:
    uint64_t s_;
};

struct Option {
    const char* text;
    int points;
};

const std::vector<std::vector<Option>> kAnswerSets = {
    {{"Никогда", 0}, {"Редко", 1}, {"Часто", 2}, {"Всегда", 3}},
    {{"Никогда", 3}, {"Редко", 2}, {"Часто", 1}, {"Всегда", 0}},
    {{"Совсем не согласен", 0},
     {"Скорее не согласен", 1},
     {"Трудно сказать", 2},
     {"Скорее согласен", 3},
     {"Полностью согласен", 4}},
    {{"Совсем не согласен", 4},
     {"Скорее не согласен", 3},
     {"Трудно сказать", 2},
     {"Скорее согласен", 1},
     {"Полностью согласен", 0}},
    {{"Нет", 0}, {"Скорее нет", 1}, {"Скорее да", 2}, {"Да", 3}},
    {{"Очень слабо", 1}, {"Слабо", 2}, {"Умеренно", 3}, {"Сильно", 4}, {"Очень сильно", 5}},
};

const char* const kThemes[] = {
    "Учебная мотивация",         "Внимание и сосредоточенность", "Самооценка",
    "Стрессоустойчивость",       "Общение в коллективе",         "Ценностные ориентации",
    "Профессиональные интересы", "Эмоциональная устойчивость",   "Память и запоминание",
    "Отношение к риску"};

const char* const kStatements[] = {
    "Я заранее продумываю, как буду выполнять новое задание.",
    "Мне трудно долго заниматься однообразной работой.",
    "Я охотно берусь за дела, в которых ещё не разбираюсь.",
    "Замечания старших я воспринимаю спокойно.",
    "В конце дня я чувствую сильную усталость.",
    "Я легко запоминаю имена новых знакомых.",
    "Мне важно, чтобы мою работу оценили другие.",
    "Я предпочитаю проверенные способы новым.",
    "Перед сном я перебираю события прошедшего дня.",
    "Я могу отложить приятное дело ради нужного.",
    "В споре я стараюсь понять доводы собеседника.",
    "Неожиданные перемены в планах меня раздражают.",
    "Я быстро нахожу общий язык с незнакомыми людьми.",
    "Мне нравится разбираться в том, как устроены вещи.",
    "Я долго переживаю из-за мелких ошибок.",
    "Я выполняю обещания, даже если это неудобно.",
    "Шум вокруг мешает мне сосредоточиться.",
    "Я готов рискнуть ради интересного результата.",
    "Мне проще работать по подробной инструкции.",
    "Я замечаю, когда у окружающих меняется настроение.",
};

const char* const kSubdivisions[] = {"Отдел кадров", "Первый курс", "Начальные классы", "Лаборатория",
                                     "Цех № 2",      "Бухгалтерия", "Старшие классы",   "Второй курс"};

const char* const kLevelNames[] = {"низкий уровень", "средний уровень", "высокий уровень"};
const char* const kLevelTexts[] = {
    "Качество, которое измеряет критерий, выражено слабо; в беседе полезно выяснить, с чем это связано.",
    "Качество выражено в той мере, которая встречается у большинства обследованных.",
    "Качество выражено ярко и заметно влияет на поведение тестируемого в повседневных делах.",
};

// Record bytes built in place and appended straight to the file.
class BulkWriter {
public:
    BulkWriter(const QString& dir, const char* file) {
        file_ = dbf::DbfFile::open(QDir(dir).filePath(QLatin1String(file)).toStdString());
        file_->setDurable(false);
        rec_ = file_->blankRecord();
    }

    int column(const char* name) const {
        int c = file_->fieldIndex(name);
        if (c < 0) throw dbf::DbfError("Table " + file_->path() + " has no field " + name);
        return c;
    }
    // text must be exactly as wide as the field.
    void put(int col, std::string_view text) {
        rec_.replace(1 + file_->fields()[size_t(col)].offset, text.size(), text);
    }
    std::string numberText(int col, double v) const { return file_->formatNumber(col, v); }
    void number(int col, double v) { put(col, numberText(col, v)); }
    void date(int col, const QDate& d) { put(col, dbf::DbfFile::formatDate(d)); }
    void text(int col, const QString& s) {
        const dbf::FieldDef& d = file_->fields()[size_t(col)];
        std::string bytes = encoded(s);
        if (bytes.size() > d.length)
            throw dbf::DbfError("Text '" + s.toStdString() + "' is longer than field " + d.name);
        bytes.resize(d.length, ' ');
        put(col, bytes);
    }
    void memo(int col, const QString& s) {
        std::string block = std::to_string(file_->writeMemo(encoded(s), 0));
        put(col, std::string(file_->fields()[size_t(col)].length - block.size(), ' ') + block);
    }
    void append() { file_->appendRecord(rec_); }
    void clear() { rec_ = file_->blankRecord(); }

private:
    std::string encoded(const QString& s) const {
        std::string bytes;
        QString bad;
        if (!dbf::encode(s, file_->codePage(), bytes, &bad))
            throw dbf::DbfError("Character '" + QString(bad).toStdString() +
                                "' has no place in the code page");
        return bytes;
    }

    std::shared_ptr<dbf::DbfFile> file_;
    std::string rec_;
};

struct TestPlan {
    std::vector<int> questionSet;       // answer set (0-based) of question q+1
    std::vector<std::vector<int>> keys; // per criterion: the questions whose points add up
};

std::pair<int, int> setRange(int set) {
    const auto& s = kAnswerSets[size_t(set)];
    auto [mn, mx] = std::minmax_element(s.begin(), s.end(),
                                        [](const Option& a, const Option& b) { return a.points < b.points; });
    return {mn->points, mx->points};
}

// Which testee takes which test in run r: distinct (testee, test) pairs for r < testees * tests,
// so no answer or score row is written twice. Run 0 is testee 1 of institution 1 on test 1.
struct RunPlace {
    int64_t org, testee, test;
};
RunPlace place(const Options& o, int64_t r) {
    int64_t person = r % o.testees;
    int64_t test = (r / o.testees + person * 7) % o.tests;
    return {person % o.orgs + 1, person / o.orgs + 1, test + 1};
}

struct Timed {
    QElapsedTimer clock;
    Timed() { clock.start(); }
    double seconds() const { return double(clock.nsecsElapsed()) / 1e9; }
};

std::vector<int> dictionaryCodes(int kind) {
    std::vector<int> codes;
    for (const auto& d : sample::dictionary())
        if (d.kind == kind) codes.push_back(d.code);
    return codes;
}

} // namespace

QString validate(const Options& o) {
    auto positive = [](int64_t v, const char* name, int64_t max) -> QString {
        if (v < 1 || v > max)
            return QStringLiteral("--%1 must be between 1 and %2").arg(QLatin1String(name)).arg(max);
        return {};
    };
    for (const QString& e :
         {positive(o.orgs, "orgs", kMaxSmallint), positive(o.testees, "testees", 100'000'000),
          positive(o.tests, "tests", kMaxSmallint), positive(o.questions, "questions", kMaxSmallint),
          positive(o.criteria, "criteria", kMaxSmallint)})
        if (!e.isEmpty()) return e;
    if (o.answers < 0 || o.answers > kMaxAnswers)
        return QStringLiteral("--answers must be between 0 and %1").arg(kMaxAnswers);
    if (o.scores < 0 || o.scores > kMaxScores)
        return QStringLiteral("--scores must be between 0 and %1").arg(kMaxScores);
    if (o.tests * o.questions > kMaxQuestionRows)
        return QStringLiteral("--tests times --questions must not exceed %1").arg(kMaxQuestionRows);
    if (o.criteria > o.questions)
        return QStringLiteral("--criteria must not exceed --questions: each criterion needs a question");
    const int64_t complete = o.answers / o.questions;
    const int64_t answered = complete + (o.answers % o.questions ? 1 : 0);
    const int64_t scored = (o.scores + o.criteria - 1) / o.criteria;
    if (answered + std::max<int64_t>(0, scored - complete) > o.testees * o.tests)
        return QStringLiteral(
            "--testees times --tests gives too few testings for these --answers and --scores");
    return {};
}

std::vector<TableReport> fill(const QString& dir, const Options& o) {
    std::vector<TableReport> report;
    Random rnd(20240527);

    {
        Timed t;
        BulkWriter w(dir, "bd_sprav.dbf");
        int sprav = w.column("SPRAV"), kod = w.column("KOD"), text = w.column("TEXT");
        for (const auto& d : sample::dictionary()) {
            w.number(sprav, d.kind);
            w.number(kod, d.code);
            w.text(text, QString::fromUtf8(d.text));
            w.append();
        }
        report.push_back(
            {QStringLiteral("bd_sprav.dbf"), uint32_t(sample::dictionary().size()), t.seconds()});
    }
    const std::vector<int> education = dictionaryCodes(2), orgTypes = dictionaryCodes(3),
                           republics = dictionaryCodes(4), settlements = dictionaryCodes(5);

    {
        Timed t;
        BulkWriter w(dir, "bd_org.dbf");
        int nom = w.column("NOM_ORG"), tipu = w.column("TIPU"), name = w.column("NAMEU"),
            podr = w.column("PODRU"), resp = w.column("RESP"), np = w.column("NPUNKT");
        for (int64_t n = 1; n <= o.orgs; ++n) {
            int type = orgTypes[size_t(rnd.below(int64_t(orgTypes.size())))];
            const char* typeName = "";
            for (const auto& d : sample::dictionary())
                if (d.kind == 3 && d.code == type) typeName = d.text;
            w.number(nom, double(n));
            w.number(tipu, type);
            w.text(name, QStringLiteral("%1 № %2").arg(QString::fromUtf8(typeName)).arg(n));
            w.text(podr, QString::fromUtf8(kSubdivisions[rnd.below(std::size(kSubdivisions))]));
            w.number(resp, republics[size_t(rnd.below(int64_t(republics.size())))]);
            w.number(np, settlements[size_t(rnd.below(int64_t(settlements.size())))]);
            w.append();
        }
        report.push_back({QStringLiteral("bd_org.dbf"), uint32_t(o.orgs), t.seconds()});
    }

    {
        Timed t;
        BulkWriter w(dir, "bd_anket.dbf");
        int nt = w.column("NOMTESTIR"), nu = w.column("NOMU"), fam = w.column("FAMTESTIR"),
            nam = w.column("NAMETESTIR"), otch = w.column("OTCHTESTIR"), pol = w.column("POLTESTIR"),
            gr = w.column("GRTESTIR"), obr = w.column("OBRTESTIR");
        for (int64_t i = 0; i < o.testees; ++i) {
            bool female = rnd.below(2) == 0;
            const sample::NamePool& pool = sample::namePool(female);
            auto pick = [&](const std::vector<const char*>& v) {
                return QString::fromUtf8(v[size_t(rnd.below(int64_t(v.size())))]);
            };
            int born = 1950 + rnd.below(61);
            // A school pupil has not finished more than basic school.
            int edu = born >= 2006 ? education[size_t(rnd.below(2))]
                                   : education[size_t(rnd.below(int64_t(education.size())))];
            w.number(nt, double(i / o.orgs + 1));
            w.number(nu, double(i % o.orgs + 1));
            w.text(fam, pick(pool.surnames));
            w.text(nam, pick(pool.names));
            w.text(otch, pick(pool.patronymics));
            w.text(pol, female ? QStringLiteral("Ж") : QStringLiteral("М"));
            w.number(gr, born);
            w.number(obr, edu);
            w.append();
        }
        report.push_back({QStringLiteral("bd_anket.dbf"), uint32_t(o.testees), t.seconds()});
    }

    // The plan of every test: answer set of each question, and the scoring key. Each question
    // counts to one criterion in turn; about one in five also counts to a second one.
    std::vector<TestPlan> plans(size_t(o.tests));
    for (auto& p : plans) {
        p.keys.resize(size_t(o.criteria));
        for (int64_t q = 1; q <= o.questions; ++q) {
            p.questionSet.push_back(rnd.below(int64_t(kAnswerSets.size())));
            int64_t k = (q - 1) % o.criteria;
            p.keys[size_t(k)].push_back(int(q));
            if (o.criteria > 1 && rnd.below(5) == 0)
                p.keys[size_t((k + 1 + rnd.below(o.criteria - 1)) % o.criteria)].push_back(int(q));
        }
    }

    {
        Timed t;
        BulkWriter w(dir, "bd_test.DBF");
        int tip = w.column("TIP"), nt = w.column("NTEST"), name = w.column("NAME"), kol = w.column("KOLKRIT"),
            xar = w.column("XARAKT");
        for (int64_t n = 1; n <= o.tests; ++n) {
            const QString theme = QString::fromUtf8(kThemes[size_t(n - 1) % std::size(kThemes)]);
            w.number(tip, double((n - 1) % 4 + 1));
            w.number(nt, double(n));
            w.text(name, QStringLiteral("%1, форма %2").arg(theme).arg(n));
            w.number(kol, double(o.criteria));
            w.memo(xar,
                   QStringLiteral(
                       "Тест \"%1\": %2 вопросов, %3 критериев. Сформирован для проверки скорости работы "
                       "программы на большой базе данных.")
                       .arg(theme)
                       .arg(o.questions)
                       .arg(o.criteria));
            w.append();
        }
        report.push_back({QStringLiteral("bd_test.DBF"), uint32_t(o.tests), t.seconds()});
    }

    {
        Timed t;
        BulkWriter w(dir, "bd_otvet.dbf");
        int nom = w.column("NOMOTV"), text = w.column("OTVET"), ball = w.column("BOTVET");
        uint32_t rows = 0;
        for (size_t s = 0; s < kAnswerSets.size(); ++s)
            for (const auto& opt : kAnswerSets[s]) {
                w.number(nom, double(s + 1));
                w.text(text, QString::fromUtf8(opt.text));
                w.number(ball, opt.points);
                w.append();
                ++rows;
            }
        report.push_back({QStringLiteral("bd_otvet.dbf"), rows, t.seconds()});
    }

    {
        Timed t;
        BulkWriter w(dir, "bd_vopros.DBF");
        int nt = w.column("NTEST"), nv = w.column("NVOPR"), text = w.column("TEXTV"), notv = w.column("NOTV"),
            kol = w.column("KOL");
        for (int64_t n = 1; n <= o.tests; ++n) {
            w.number(nt, double(n));
            for (int64_t q = 1; q <= o.questions; ++q) {
                int set = plans[size_t(n - 1)].questionSet[size_t(q - 1)];
                w.number(nv, double(q));
                w.text(text, QString::fromUtf8(kStatements[size_t(n * 7 + q) % std::size(kStatements)]));
                w.number(notv, set + 1);
                w.number(kol, kAnswerSets[size_t(set)].size() > 4 ? 1 : 2);
                w.append();
            }
        }
        report.push_back({QStringLiteral("bd_vopros.DBF"), uint32_t(o.tests * o.questions), t.seconds()});
    }

    {
        Timed t;
        BulkWriter w(dir, "bd_summa.dbf");
        int nt = w.column("NOMTESTA"), krit = w.column("KRIT"), sv = w.column("SUMVOPR");
        uint32_t rows = 0;
        for (int64_t n = 1; n <= o.tests; ++n) {
            w.number(nt, double(n));
            for (size_t k = 0; k < size_t(o.criteria); ++k) {
                w.number(krit, double(k + 1));
                for (int q : plans[size_t(n - 1)].keys[k]) {
                    w.number(sv, q);
                    w.append();
                    ++rows;
                }
            }
        }
        report.push_back({QStringLiteral("bd_summa.dbf"), rows, t.seconds()});
    }

    {
        // Up to three levels per criterion, together covering every score the key allows.
        Timed t;
        BulkWriter w(dir, "bd_analiz.dbf");
        int nt = w.column("NOMTESTA"), krit = w.column("KRIT"), urov = w.column("UROV"), mn = w.column("MIN"),
            mx = w.column("MAX"), text = w.column("TEXT");
        uint32_t rows = 0;
        for (int64_t n = 1; n <= o.tests; ++n) {
            const TestPlan& p = plans[size_t(n - 1)];
            w.number(nt, double(n));
            for (size_t k = 0; k < size_t(o.criteria); ++k) {
                int lo = 0, hi = 0;
                for (int q : p.keys[k]) {
                    auto [a, b] = setRange(p.questionSet[size_t(q - 1)]);
                    lo += a;
                    hi += b;
                }
                const int span = hi - lo + 1, levels = std::min(3, span);
                w.number(krit, double(k + 1));
                for (int l = 0; l < levels; ++l) {
                    const int from = lo + span * l / levels, to = lo + span * (l + 1) / levels - 1;
                    const int name = levels == 3 ? l : (l == 0 ? 0 : 2);
                    w.text(urov, QStringLiteral("Критерий %1 - %2")
                                     .arg(k + 1)
                                     .arg(QString::fromUtf8(kLevelNames[name])));
                    w.number(mn, from);
                    w.number(mx, to);
                    w.memo(text, QStringLiteral("Сумма баллов от %1 до %2. %3")
                                     .arg(from)
                                     .arg(to)
                                     .arg(QString::fromUtf8(kLevelTexts[name])));
                    w.append();
                    ++rows;
                }
            }
        }
        report.push_back({QStringLiteral("bd_analiz.dbf"), rows, t.seconds()});
    }

    // Answers: run after run, every question of the test in order; the last run may stop short
    // (a testing in progress). Scores of the complete runs are kept for bd_rez.
    struct ScoreRow {
        int64_t run;
        int krit, ball;
    };
    std::vector<ScoreRow> scores;
    scores.reserve(size_t(o.scores));
    const int64_t runDays = 1800;
    const int64_t totalRuns = std::max<int64_t>(
        1, (o.answers + o.questions - 1) / o.questions +
               std::max<int64_t>(0, (o.scores + o.criteria - 1) / o.criteria - o.answers / o.questions));
    auto runDate = [&](int64_t r) { return QDate(2019, 9, 2).addDays(r * runDays / totalRuns); };
    auto scoreRun = [&](int64_t r, const TestPlan& p, const std::vector<int>& picks) {
        for (size_t k = 0; k < p.keys.size() && int64_t(scores.size()) < o.scores; ++k) {
            int ball = 0;
            for (int q : p.keys[k])
                ball +=
                    kAnswerSets[size_t(p.questionSet[size_t(q - 1)])][size_t(picks[size_t(q - 1)])].points;
            scores.push_back({r, int(k + 1), ball});
        }
    };

    int64_t run = 0;
    {
        Timed t;
        BulkWriter w(dir, "bd_rezult.dbf");
        int nu = w.column("NOMU"), nt = w.column("NOMTESTIR"), data = w.column("DATA"),
            na = w.column("NOMTESTA"), nv = w.column("NOMVOPR"), otv = w.column("OTVET");
        // Every row of a run shares its first four fields; the rest come from a few cached texts.
        std::vector<std::string> questionText, pickText;
        for (int64_t q = 1; q <= o.questions; ++q)
            questionText.push_back(w.numberText(nv, double(q)));
        for (const auto& set : kAnswerSets)
            while (pickText.size() < set.size())
                pickText.push_back(w.numberText(otv, double(pickText.size())));
        std::vector<int> picks;
        for (int64_t left = o.answers; left > 0; ++run) {
            const RunPlace at = place(o, run);
            const TestPlan& p = plans[size_t(at.test - 1)];
            w.number(nu, double(at.org));
            w.number(nt, double(at.testee));
            w.date(data, runDate(run));
            w.number(na, double(at.test));
            const int64_t shown = std::min(left, o.questions);
            picks.clear();
            for (int64_t q = 0; q < shown; ++q) {
                int pick = rnd.below(int64_t(kAnswerSets[size_t(p.questionSet[size_t(q)])].size()));
                picks.push_back(pick);
                w.put(nv, questionText[size_t(q)]);
                w.put(otv, pickText[size_t(pick)]);
                w.append();
            }
            left -= shown;
            if (shown == o.questions) scoreRun(run, p, picks);
        }
        report.push_back({QStringLiteral("bd_rezult.dbf"), uint32_t(o.answers), t.seconds()});
    }

    {
        // More score rows than the stored answers give belong to testings whose answers are not
        // kept; their scores still come from answers drawn the same way.
        Timed t;
        std::vector<int> picks;
        for (; int64_t(scores.size()) < o.scores; ++run) {
            const TestPlan& p = plans[size_t(place(o, run).test - 1)];
            picks.clear();
            for (int s : p.questionSet)
                picks.push_back(rnd.below(int64_t(kAnswerSets[size_t(s)].size())));
            scoreRun(run, p, picks);
        }
        BulkWriter w(dir, "bd_rez.dbf");
        int nu = w.column("NOMU"), nt = w.column("NOMTESTIR"), data = w.column("DATA"),
            na = w.column("NOMTESTA"), krit = w.column("KRIT"), ball = w.column("BALL");
        for (const ScoreRow& s : scores) {
            const RunPlace at = place(o, s.run);
            w.number(nu, double(at.org));
            w.number(nt, double(at.testee));
            w.date(data, runDate(s.run));
            w.number(na, double(at.test));
            w.number(krit, s.krit);
            w.number(ball, s.ball);
            w.append();
        }
        report.push_back({QStringLiteral("bd_rez.dbf"), uint32_t(scores.size()), t.seconds()});
    }
    return report;
}

} // namespace large
