#include "ScoringTest.h"

#include "data/DM.h"
#include "scoring/AllVopr.h"

#include <QDate>
#include <QPushButton>

void ScoringTest::SetUp() {
    EmptyAppTest::SetUp();
    db->add(QStringLiteral("bd_org.dbf"), {1.0, 1, QStringLiteral("Школа")});
    db->add(QStringLiteral("bd_anket.dbf"), {1.0, 1.0, QStringLiteral("Иванов")});
    db->add(QStringLiteral("bd_anket.dbf"), {2.0, 1.0, QStringLiteral("Петров")});
}

void ScoringTest::makeTest(int n, int criteria, const std::vector<int>& questions, int set) {
    db->add(QStringLiteral("bd_test.DBF"), {1, n, QStringLiteral("Тест %1").arg(n), criteria});
    for (int q : questions)
        db->add(QStringLiteral("bd_vopros.DBF"), {n, q, QStringLiteral("Вопрос %1").arg(q), set, 1});
}

void ScoringTest::answerSet(int set, const std::vector<int>& points) {
    int i = 0;
    for (int p : points)
        db->add(QStringLiteral("bd_otvet.dbf"), {set, QStringLiteral("Вариант %1").arg(++i), p});
}

void ScoringTest::answer(int test, int question, int choice, int testee) {
    db->add(QStringLiteral("bd_rezult.dbf"),
            {1.0, double(testee), QDate(2024, 5, 6), test, question, choice});
}

void ScoringTest::key(int test, int krit, int question) {
    db->add(QStringLiteral("bd_summa.dbf"), {test, krit, question});
}

void ScoringTest::range(int test, int krit, const QString& level, int min, int max) {
    db->add(QStringLiteral("bd_analiz.dbf"),
            {test, krit, level, double(min), double(max), QStringLiteral("Текст ") + level});
}

void ScoringTest::scoreRow(int test, int krit, double ball, const char* date, int testee, int org) {
    // Institution and testee are stored as floats, as the program stores them.
    db->add(
        QStringLiteral("bd_rez.dbf"),
        {double(org), double(testee), QDate::fromString(QLatin1String(date), Qt::ISODate), test, krit, ball});
}

void ScoringTest::choose(int test, int testee) {
    for (Table* t : BD->tablesInOrder())
        t->refresh();
    ASSERT_TRUE(chooseRun(1, testee, test));
}

void ScoringTest::check(const std::function<void()>& then) {
    whenModal([then](QWidget* w) {
        clickButton(w, "Button3");
        then();
        FormAllVopr->Close();
    });
    FormAllVopr->ShowModal();
}

QString ScoringTest::score(const std::function<void(QWidget*)>& next) {
    QString opened;
    whenModal([&](QWidget* w) {
        clickButton(w, "Button3");
        if (!FormAllVopr->Button1->isEnabled()) {
            ADD_FAILURE() << "the check found unanswered questions";
            FormAllVopr->Close();
            return;
        }
        whenModal([&](QWidget* after) {
            opened = after->objectName();
            if (next) next(after);
            if (after->isVisible()) static_cast<ui::Form*>(after)->Close();
        });
        clickButton(w, "Button1");
    });
    FormAllVopr->ShowModal();
    return opened;
}

QStringList ScoringTest::stored(const char* file, const char* field) const {
    return readColumn(db->path(QString::fromLatin1(file)), field);
}
