#include "SampleData.h"

#include "Errors.h"
#include "dataset/Aliases.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"

#include <QDir>
#include <algorithm>
#include <map>

// The sample database: what a newcomer sees on first start. Everything here is our own
// wording; the scores of the completed runs are computed from the answers below, never typed.

namespace sample {

namespace {

// Hand-laid tables: the formatter would wrap the Russian texts by bytes, not letters.
// clang-format off

// Dictionaries ----------------------------------------------------------------------------

const std::vector<DictEntry> kDictionary = {
    {1, 1, "Личностные опросники"},
    {1, 2, "Эмоциональное состояние"},
    {1, 3, "Межличностные отношения"},
    {1, 4, "Профессиональная направленность"},

    {2, 1, "Начальное общее"},
    {2, 2, "Основное общее"},
    {2, 3, "Среднее общее"},
    {2, 4, "Среднее профессиональное"},
    {2, 5, "Неоконченное высшее"},
    {2, 6, "Высшее"},

    {3, 1, "Общеобразовательная школа"},
    {3, 2, "Колледж"},
    {3, 3, "Высшее учебное заведение"},
    {3, 4, "Промышленное предприятие"},
    {3, 5, "Медицинское учреждение"},

    {4, 1, "Татарстан"},
    {4, 2, "Башкортостан"},
    {4, 3, "Чувашия"},
    {4, 4, "Марий Эл"},
    {4, 5, "Удмуртия"},
    {4, 6, "Мордовия"},

    {5, 1, "Казань"},
    {5, 2, "Уфа"},
    {5, 3, "Чебоксары"},
    {5, 4, "Йошкар-Ола"},
    {5, 5, "Ижевск"},
    {5, 6, "Саранск"},
    {5, 7, "Набережные Челны"},
    {5, 8, "Стерлитамак"},
};

const NamePool kMen = {
    {"Иванов", "Морозов", "Никитин", "Ахметов", "Ковалёв", "Семёнов", "Фёдоров", "Волков", "Соловьёв", "Зайцев",
     "Павлов", "Гарипов", "Михайлов", "Белов", "Тарасов", "Орлов"},
    {"Илья", "Артём", "Руслан", "Максим", "Виктор", "Андрей", "Николай", "Дмитрий", "Сергей", "Алексей", "Тимур",
     "Егор"},
    {"Сергеевич", "Олегович", "Маратович", "Викторович", "Николаевич", "Алексеевич", "Петрович", "Иванович",
     "Андреевич", "Рустамович"},
};

const NamePool kWomen = {
    {"Соколова", "Лебедева", "Васильева", "Галиева", "Петрова", "Кузнецова", "Гарипова", "Смирнова", "Попова",
     "Новикова", "Егорова", "Киселёва", "Макарова", "Андреева"},
    {"Анна", "Дарья", "Полина", "Алина", "Елизавета", "Ольга", "Лилия", "Мария", "Екатерина", "Наталья", "Гульнара",
     "Ирина"},
    {"Дмитриевна", "Андреевна", "Игоревна", "Ринатовна", "Павловна", "Владимировна", "Фаритовна", "Сергеевна",
     "Олеговна", "Николаевна"},
};

// Institutions and testees ----------------------------------------------------------------

struct Org {
    int number, type;
    const char *name, *subdivision;
    int republic, settlement;
};

const std::vector<Org> kOrgs = {
    {1, 1, "Средняя общеобразовательная школа № 27", "9 и 10 классы", 1, 1},
    {2, 2, "Технологический колледж", "Отделение информатики", 2, 2},
    {3, 4, "Завод электроприборов", "Сборочный цех № 3", 1, 7},
};

struct Testee {
    int org, number;
    const char *surname, *name, *patronymic, *sex;
    int born, education;
};

const std::vector<Testee> kTestees = {
    {1, 1, "Соколова", "Анна", "Дмитриевна", "Ж", 2009, 1},
    {1, 2, "Морозов", "Илья", "Сергеевич", "М", 2009, 1},
    {1, 3, "Лебедева", "Дарья", "Андреевна", "Ж", 2008, 2},
    {1, 4, "Никитин", "Артём", "Олегович", "М", 2008, 2},
    {1, 5, "Васильева", "Полина", "Игоревна", "Ж", 2009, 1},
    {2, 1, "Ахметов", "Руслан", "Маратович", "М", 2006, 2},
    {2, 2, "Галиева", "Алина", "Ринатовна", "Ж", 2006, 3},
    {2, 3, "Ковалёв", "Максим", "Викторович", "М", 2005, 3},
    {2, 4, "Петрова", "Елизавета", "Павловна", "Ж", 2007, 2},
    {3, 1, "Семёнов", "Виктор", "Николаевич", "М", 1971, 4},
    {3, 2, "Кузнецова", "Ольга", "Владимировна", "Ж", 1983, 6},
    {3, 3, "Фёдоров", "Андрей", "Алексеевич", "М", 1990, 4},
    {3, 4, "Гарипова", "Лилия", "Фаритовна", "Ж", 1996, 5},
    {3, 5, "Волков", "Николай", "Петрович", "М", 1965, 3},
};

// Answer sets: the options in the order the testing window shows them --------------------

struct Option {
    const char* text;
    int points;
};

const std::map<int, std::vector<Option>> kAnswerSets = {
    // Frequency, and the same wording with reversed points for the calm-side statements.
    {1, {{"Почти никогда", 0}, {"Иногда", 1}, {"Часто", 2}, {"Почти всегда", 3}}},
    {2, {{"Почти никогда", 3}, {"Иногда", 2}, {"Часто", 1}, {"Почти всегда", 0}}},
    {3, {{"Согласен", 2}, {"Не уверен", 1}, {"Не согласен", 0}}},
    {4, {{"Да", 1}, {"Нет", 0}}},
    {5, {{"Обычно", 2}, {"Иногда", 1}, {"Редко", 0}}},
    {6,
     {{"Полностью согласен", 4},
      {"Скорее согласен", 3},
      {"Трудно сказать", 2},
      {"Скорее не согласен", 1},
      {"Совсем не согласен", 0}}},
};

// Tests ------------------------------------------------------------------------------------

struct Question {
    int set, columns;
    const char* text;
};

struct Level {
    int min, max;
    const char *name, *text;
};

struct Criterion {
    std::vector<int> questions; // the scoring key: question numbers whose points add up
    std::vector<Level> levels;
};

struct TestDef {
    int type, number;
    const char *name, *description;
    std::vector<Question> questions; // numbered 1, 2, ... in this order
    std::vector<Criterion> criteria; // numbered 1, 2, ...
};

const std::vector<TestDef> kTests = {
    {2, 1, "Шкала повседневной тревожности",
     "Короткая шкала из десяти утверждений о том, как часто человек испытывает беспокойство в обычных "
     "житейских ситуациях. Тестируемый отмечает, насколько часто с ним происходит описанное. Половина "
     "утверждений описывает спокойное состояние и считается в обратную сторону. Шкала годится для "
     "первичного обследования и для повторных замеров через несколько недель; её результат не заменяет "
     "беседы с психологом.",
     {
         {1, 1, "Перед важным разговором я долго не могу успокоиться."},
         {2, 1, "Я легко засыпаю, даже если завтра трудный день."},
         {1, 1, "Я заранее представляю себе, что может пойти не так."},
         {1, 1, "Мне трудно сосредоточиться, когда я жду новостей."},
         {2, 1, "В незнакомой компании я чувствую себя свободно."},
         {1, 1, "Уходя из дома, я по нескольку раз проверяю, заперта ли дверь."},
         {1, 1, "Когда меня торопят, у меня начинают дрожать руки."},
         {2, 1, "Неудачи на работе или в учёбе быстро забываются."},
         {1, 1, "Я беспокоюсь о здоровье близких без явной причины."},
         {2, 1, "Вечером мне удаётся спокойно отдохнуть."},
     },
     {
         {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
          {
              {0, 7, "Низкий уровень тревожности",
               "Повседневные дела и перемены редко выбивают тестируемого из колеи. Он, как правило, спокойно "
               "встречает трудности, быстро восстанавливается после неудач и не тратит силы на лишние опасения. "
               "Стоит помнить, что очень низкие значения иногда означают не спокойствие, а нежелание признавать "
               "свои переживания; в сомнительных случаях результат полезно обсудить в беседе."},
              {8, 15, "Умеренный уровень тревожности",
               "Беспокойство возникает в основном там, где для него есть повод: перед экзаменом, ответственным "
               "разговором, в новой обстановке. Такая тревога помогает собраться и не мешает действовать. Особых "
               "мер не требуется; достаточно обычных навыков отдыха и планирования."},
              {16, 23, "Повышенный уровень тревожности",
               "Тестируемый часто ждёт неприятностей и заранее переживает события, которые ещё не произошли. "
               "Это отнимает силы, мешает сосредоточиться и сказывается на сне. Полезны упражнения на "
               "расслабление, разбор типичных тревожащих ситуаций и повторный замер через несколько недель."},
              {24, 30, "Высокий уровень тревожности",
               "Беспокойство сопровождает большую часть повседневных дел и заметно снижает работоспособность и "
               "самочувствие. Результат указывает на необходимость подробной беседы с психологом; если высокие "
               "значения сохранятся при повторном обследовании, стоит рекомендовать консультацию специалиста."},
          }},
     }},

    {3, 2, "Поведение в рабочей группе",
     "Двенадцать утверждений о том, как человек ведёт себя при совместной работе. Ответы оцениваются по трём "
     "критериям: стремление к лидерству, готовность к сотрудничеству и самостоятельность. Утверждение о "
     "поиске общего решения учитывается сразу в двух критериях. Подходит для подбора учебных и рабочих групп "
     "и для беседы о распределении ролей в уже сложившемся коллективе.",
     {
         {3, 3, "В общем деле я охотно беру на себя распределение обязанностей."},
         {3, 3, "Мне нравится обсуждать задачу вместе с другими, прежде чем начинать."},
         {3, 3, "Я предпочитаю доводить работу до конца сам, без подсказок."},
         {3, 3, "Когда группа спорит, я стараюсь предложить решение, которое примут все."},
         {3, 3, "Я замечаю, когда кому-то из коллег нужна помощь."},
         {3, 3, "Я спокойно принимаю решения, не дожидаясь одобрения руководителя."},
         {3, 3, "Мне легко выступать от имени группы."},
         {3, 3, "Чужие идеи часто помогают мне улучшить собственную работу."},
         {3, 3, "Я сам планирую, в каком порядке выполнять задания."},
         {3, 3, "Если работа идёт плохо, я первым предлагаю что-то изменить."},
         {3, 3, "Я готов уступить, чтобы сохранить хорошие отношения в группе."},
         {3, 3, "Мне не нужен постоянный контроль, чтобы работать в полную силу."},
     },
     {
         {{1, 4, 7, 10},
          {
              {0, 2, "Лидерство - низкий уровень",
               "Тестируемый редко берёт на себя руководство и предпочитает, чтобы общий ход работы определяли "
               "другие. В группе он скорее исполнитель, чем организатор. Это не недостаток: многие задачи "
               "требуют именно надёжного исполнения. Если же работа предполагает руководство людьми, навыки "
               "организатора стоит развивать постепенно, начиная с небольших поручений."},
              {3, 5, "Лидерство - средний уровень",
               "Тестируемый готов вести группу, когда этого требует обстановка или когда он хорошо знает дело, "
               "но не стремится к руководству постоянно. Он умеет и предложить решение, и поддержать чужое. "
               "Такое сочетание удобно для большинства рабочих групп."},
              {6, 8, "Лидерство - высокий уровень",
               "Тестируемый охотно берёт на себя организацию общего дела, распределяет обязанности и выступает "
               "от имени группы. Ему легко даются решения в трудной обстановке. Стоит следить, чтобы стремление "
               "руководить не подавляло инициативу остальных участников."},
          }},
         {{2, 4, 5, 8, 11},
          {
              {0, 3, "Сотрудничество - низкий уровень",
               "Тестируемый предпочитает работать в одиночку и неохотно подстраивается под других. Совместное "
               "обсуждение кажется ему потерей времени. В групповой работе это может приводить к "
               "недопониманию; полезно заранее договариваться о правилах и распределении задач."},
              {4, 7, "Сотрудничество - средний уровень",
               "Тестируемый умеет работать вместе с другими, прислушивается к чужому мнению и в большинстве "
               "случаев находит общий язык с коллегами. При этом он сохраняет собственную точку зрения и не "
               "уступает без причины."},
              {8, 10, "Сотрудничество - высокий уровень",
               "Тестируемый высоко ценит согласие в группе, замечает, когда кому-то нужна помощь, и охотно её "
               "оказывает. Он хорошо чувствует настроение коллег. Иногда ради хороших отношений он уступает там, "
               "где стоило бы отстоять своё решение."},
          }},
         {{3, 6, 9, 12},
          {
              {0, 2, "Самостоятельность - низкий уровень",
               "Тестируемому нужны поддержка и постоянная обратная связь: без одобрения руководителя он "
               "сомневается в своих решениях и откладывает их. Лучше всего он работает при ясных инструкциях и "
               "регулярной проверке результата."},
              {3, 5, "Самостоятельность - средний уровень",
               "Тестируемый справляется с привычными задачами самостоятельно, а в новых и ответственных случаях "
               "предпочитает посоветоваться. Это разумное равновесие для большинства видов работы."},
              {6, 8, "Самостоятельность - высокий уровень",
               "Тестируемый сам планирует свою работу, не нуждается в контроле и уверенно принимает решения в "
               "пределах своих обязанностей. Ему подходят задачи с широкой свободой действий; жёсткая "
               "регламентация может снижать его интерес к делу."},
          }},
     }},

    {4, 3, "Организация учебного и рабочего времени",
     "Девять вопросов о том, как тестируемый распределяет время и справляется с помехами. Вопросы предлагают "
     "разное число вариантов ответа: два, три или пять. Результат показывает два критерия: умение "
     "планировать и устойчивость к помехам. Тест удобен в начале учебного года и при переходе на новую "
     "работу, когда меняется привычный распорядок.",
     {
         {4, 2, "Я составляю список дел на день."},
         {4, 2, "Я могу работать в шумном помещении."},
         {5, 3, "Я заранее распределяю большое задание на несколько дней."},
         {5, 3, "Я возвращаюсь к делу сразу после того, как меня прервали."},
         {5, 3, "Я успеваю сделать намеченное к сроку."},
         {6, 1, "Мне удобнее начинать день с самого трудного дела."},
         {6, 1, "Шум и суета вокруг не мешают мне думать."},
         {6, 1, "Если планы меняются, я быстро перестраиваюсь."},
         {4, 2, "Я помню, какие дела отложены и почему."},
     },
     {
         {{1, 3, 5, 6, 9},
          {
              {0, 3, "Планирование - низкий уровень",
               "Тестируемый обычно действует по обстоятельствам и редко заранее распределяет время. Из-за этого "
               "важные дела нередко откладываются на последний момент. Полезно начать с простого: короткого "
               "списка дел на день и отметки о выполненном."},
              {4, 7, "Планирование - средний уровень",
               "Тестируемый планирует основные дела, но не всегда следует своему плану. Большую часть задач он "
               "выполняет к сроку, а затруднения возникают в периоды высокой нагрузки."},
              {8, 10, "Планирование - высокий уровень",
               "Тестируемый привык заранее распределять работу, следит за сроками и помнит об отложенных делах. "
               "Хорошо организованное время позволяет ему браться за большие задания без спешки."},
          }},
         {{2, 4, 7, 8},
          {
              {0, 3, "Устойчивость к помехам - низкий уровень",
               "Посторонние звуки, разговоры и неожиданные перемены заметно сбивают тестируемого с работы, а "
               "после перерыва ему трудно вернуться к делу. Ему стоит по возможности выбирать тихое место и "
               "выделять время, когда его не будут отвлекать."},
              {4, 7, "Устойчивость к помехам - средний уровень",
               "Тестируемый в целом справляется с обычными помехами, хотя сильный шум или частые перерывы "
               "снижают его продуктивность. После отвлечения он возвращается к делу без больших потерь."},
              {8, 11, "Устойчивость к помехам - высокий уровень",
               "Тестируемый сохраняет сосредоточенность в шумной и меняющейся обстановке, быстро возвращается к "
               "делу после перерыва и спокойно перестраивает планы. Ему подходит работа с частыми "
               "переключениями."},
          }},
     }},
};

// Testing runs: one character per question shown, the 0-based option chosen, '-' for a question
// shown but not yet answered. A run that stops early or holds '-' is in progress and not scored.

struct Run {
    int org, testee;
    const char* date;
    int test;
    const char* answers;
};

const std::vector<Run> kRuns = {
    {1, 1, "2024-02-05", 1, "1213120232"},
    {1, 2, "2024-02-05", 1, "3032023120"},
    {1, 3, "2024-02-06", 1, "0301300213"},
    {1, 1, "2024-02-12", 2, "010201100120"},
    {2, 1, "2024-03-14", 2, "001001100201"},
    {2, 2, "2024-03-14", 3, "010104310"},
    {2, 4, "2024-03-15", 1, "1201-"},
    {3, 2, "2024-04-02", 1, "2122112121"},
    {3, 2, "2024-04-02", 3, "102210230"},
    {3, 4, "2024-04-03", 2, "101010212010"},
    {3, 1, "2024-04-03", 3, "000001100"},
};

// bd_stat: scores of 30 people on three criteria for the statistics window's default queries.
struct StatRow {
    double krit1, krit2, krit3;
};

const std::vector<StatRow> kStat = {
    {12.5, 6.0, 9.0},  {18.0, 4.5, 13.5}, {7.5, 7.0, 6.0},   {22.0, 3.0, 15.5}, {15.0, 5.5, 10.0},
    {9.0, 8.0, 7.5},   {26.5, 2.5, 19.0}, {11.0, 6.5, 8.5},  {14.0, 5.0, 11.0}, {19.5, 4.0, 12.5},
    {5.0, 8.5, 4.0},   {16.5, 5.0, 12.0}, {21.0, 3.5, 14.0}, {10.5, 7.5, 9.5},  {13.0, 6.0, 8.0},
    {24.0, 2.0, 17.5}, {8.0, 7.0, 5.5},   {17.5, 4.5, 13.0}, {12.0, 6.5, 10.5}, {20.5, 3.5, 16.0},
    {6.5, 9.0, 5.0},   {15.5, 5.5, 11.5}, {23.5, 3.0, 16.5}, {9.5, 7.5, 7.0},   {18.5, 4.0, 14.5},
    {11.5, 6.0, 9.0},  {27.0, 1.5, 20.0}, {14.5, 5.0, 10.5}, {7.0, 8.0, 6.5},   {16.0, 4.5, 12.0},
};

// clang-format on

// Writing ----------------------------------------------------------------------------------

[[noreturn]] void badData(const QString& what) {
    throw db::DatabaseError(QStringLiteral("Sample data: ") + what);
}

// Appends rows through the engine, as the program itself writes them.
class TableWriter {
public:
    TableWriter(const QString& dir, const QString& file, bool durable = false) {
        if (db::isServerLocation(dir)) {
            // A server's tables are reached through an alias, like the program reaches them.
            db::Aliases::bind(QStringLiteral("morv_sample_target"), dir);
            table_.setDatabaseName(QStringLiteral("morv_sample_target"));
            table_.setTableName(file);
        } else {
            table_.setTableName(QDir(dir).filePath(file));
        }
        table_.open();
        if (table_.file()) table_.file()->setDurable(durable); // a generated database: no sync per row
    }

    void add(const std::vector<db::Variant>& values) {
        // The engine cuts a long text to its field; sample texts must never be cut.
        const auto& fields = table_.fields();
        for (size_t i = 0; i < values.size() && qsizetype(i) < fields.size(); ++i) {
            const db::Field* f = fields[qsizetype(i)];
            if (f->kind() == db::FieldKind::String && values[i].toString().size() > f->size())
                badData(QStringLiteral("'%1' is longer than field %2 of %3")
                            .arg(values[i].toString(), f->fieldName(), table_.tableName()));
        }
        table_.append();
        table_.setFields(values);
        table_.post();
    }

private:
    db::Table table_;
};

const std::vector<Option>& answerSet(int number) {
    auto it = kAnswerSets.find(number);
    if (it == kAnswerSets.end()) badData(QStringLiteral("answer set %1 is not defined").arg(number));
    return it->second;
}

const TestDef& testDef(int number) {
    for (const auto& t : kTests)
        if (t.number == number) return t;
    badData(QStringLiteral("test %1 is not defined").arg(number));
}

// Lowest and highest score a criterion can get, from its key and the points of the options.
std::pair<int, int> scoreRange(const TestDef& t, const Criterion& c) {
    int lo = 0, hi = 0;
    for (int q : c.questions) {
        if (q < 1 || q > int(t.questions.size()))
            badData(QStringLiteral("test %1 has no question %2").arg(t.number).arg(q));
        const auto& set = answerSet(t.questions[size_t(q - 1)].set);
        auto [mn, mx] = std::minmax_element(
            set.begin(), set.end(), [](const Option& a, const Option& b) { return a.points < b.points; });
        lo += mn->points;
        hi += mx->points;
    }
    return {lo, hi};
}

// Every score a criterion can reach must fall in exactly one level, or the result window shows nothing.
void checkLevels(const TestDef& t) {
    for (size_t k = 0; k < t.criteria.size(); ++k) {
        const auto& c = t.criteria[k];
        auto [lo, hi] = scoreRange(t, c);
        int next = lo;
        for (const auto& l : c.levels) {
            if (l.min != next || l.max < l.min)
                badData(QStringLiteral("levels of test %1, criterion %2 leave a gap or overlap at %3")
                            .arg(t.number)
                            .arg(k + 1)
                            .arg(next));
            next = l.max + 1;
        }
        if (next <= hi)
            badData(QStringLiteral("levels of test %1, criterion %2 stop below %3")
                        .arg(t.number)
                        .arg(k + 1)
                        .arg(hi));
    }
}

// Option index chosen for each question shown; -1 for a question not answered yet.
std::vector<int> runAnswers(const Run& r) {
    const TestDef& t = testDef(r.test);
    std::vector<int> picks;
    for (const char* p = r.answers; *p; ++p) {
        size_t q = picks.size();
        if (q >= t.questions.size())
            badData(QStringLiteral("a run of test %1 has too many answers").arg(r.test));
        int pick = *p == '-' ? -1 : *p - '0';
        if (pick < -1 || pick >= int(answerSet(t.questions[q].set).size()))
            badData(QStringLiteral("a run of test %1 chooses a missing option for question %2")
                        .arg(r.test)
                        .arg(q + 1));
        picks.push_back(pick);
    }
    return picks;
}

bool complete(const TestDef& t, const std::vector<int>& picks) {
    return picks.size() == t.questions.size() && std::find(picks.begin(), picks.end(), -1) == picks.end();
}

int score(const TestDef& t, const Criterion& c, const std::vector<int>& picks) {
    int sum = 0;
    for (int q : c.questions)
        sum += answerSet(t.questions[size_t(q - 1)].set)[size_t(picks[size_t(q - 1)])].points;
    return sum;
}

void writeStat(const QString& dir) {
    const std::string path = QDir(dir).filePath(QStringLiteral("bd_stat.dbf")).toStdString();
    dbf::DbfFile::create(
        path, {{"NOM", 'N', 6, 0}, {"KRIT1", 'N', 20, 4}, {"KRIT2", 'N', 20, 4}, {"KRIT3", 'N', 20, 4}});
    TableWriter stat(dir, QStringLiteral("bd_stat.dbf"));
    int nom = 0;
    for (const auto& s : kStat)
        stat.add({++nom, s.krit1, s.krit2, s.krit3});
}

} // namespace

const std::vector<DictEntry>& dictionary() {
    return kDictionary;
}

const NamePool& namePool(bool female) {
    return female ? kWomen : kMen;
}

void fillDictionaries(const QString& dir) {
    TableWriter sprav(dir, QStringLiteral("bd_sprav.dbf"), true);
    for (const auto& d : kDictionary)
        sprav.add({d.kind, d.code, d.text});
}

void fill(const QString& dir) {
    for (const auto& t : kTests)
        checkLevels(t);

    TableWriter sprav(dir, QStringLiteral("bd_sprav.dbf"));
    for (const auto& d : kDictionary)
        sprav.add({d.kind, d.code, d.text});

    TableWriter org(dir, QStringLiteral("bd_org.dbf"));
    for (const auto& o : kOrgs)
        org.add({double(o.number), o.type, o.name, o.subdivision, double(o.republic), double(o.settlement)});

    TableWriter anket(dir, QStringLiteral("bd_anket.dbf"));
    for (const auto& p : kTestees)
        anket.add(
            {double(p.number), double(p.org), p.surname, p.name, p.patronymic, p.sex, p.born, p.education});

    TableWriter test(dir, QStringLiteral("bd_test.DBF"));
    for (const auto& t : kTests)
        test.add({t.type, t.number, t.name, int(t.criteria.size()), t.description});

    TableWriter otvet(dir, QStringLiteral("bd_otvet.dbf"));
    for (const auto& [number, options] : kAnswerSets)
        for (const auto& o : options)
            otvet.add({number, o.text, o.points});

    TableWriter vopros(dir, QStringLiteral("bd_vopros.DBF"));
    TableWriter summa(dir, QStringLiteral("bd_summa.dbf"));
    TableWriter analiz(dir, QStringLiteral("bd_analiz.dbf"));
    for (const auto& t : kTests) {
        int q = 0;
        for (const auto& v : t.questions)
            vopros.add({t.number, ++q, v.text, v.set, v.columns});
        int krit = 0;
        for (const auto& c : t.criteria) {
            ++krit;
            for (int sq : c.questions)
                summa.add({t.number, krit, sq});
            for (const auto& l : c.levels)
                analiz.add({t.number, krit, l.name, double(l.min), double(l.max), l.text});
        }
    }

    TableWriter rezult(dir, QStringLiteral("bd_rezult.dbf"));
    TableWriter rez(dir, QStringLiteral("bd_rez.dbf"));
    for (const auto& r : kRuns) {
        const TestDef& t = testDef(r.test);
        const QDate date = QDate::fromString(QLatin1String(r.date), Qt::ISODate);
        const std::vector<int> picks = runAnswers(r);
        for (size_t q = 0; q < picks.size(); ++q)
            rezult.add({double(r.org), double(r.testee), date, r.test, int(q + 1), picks[q]});
        if (!complete(t, picks)) continue;
        int krit = 0;
        for (const auto& c : t.criteria) {
            ++krit;
            rez.add({double(r.org), double(r.testee), date, r.test, krit, double(score(t, c, picks))});
        }
    }

    if (!db::isServerLocation(dir)) writeStat(dir); // the statistics window's own table file
}

} // namespace sample
