#pragma once
#include "app/AppFixture.h"
#include "dataset/Variant.h"

#include <QString>
#include <functional>
#include <vector>

class QWidget;

// The whole program on empty tables, with helpers that store a test and a run directly.
// Institution 1 and its testee 1 always exist.
class ScoringTest : public EmptyAppTest {
protected:
    void SetUp() override;

    // Test n with criteria criteria and questions numbered as given, all of answer set set.
    void makeTest(int n, int criteria, const std::vector<int>& questions, int set = 1);
    void answerSet(int set, const std::vector<int>& points);
    void answer(int test, int question, int choice, int testee = 1);
    void key(int test, int krit, int question);
    void range(int test, int krit, const QString& level, int min, int max);
    void scoreRow(int test, int krit, double ball, const char* date = "2020-01-02", int testee = 1,
                  int org = 1);
    // Reloads the program's tables and makes the run current.
    void choose(int test, int testee = 1);

    // Opens the dialog, presses "Проверить" and runs then on it before it is closed.
    void check(const std::function<void()>& then);
    // Checks and scores; next runs on the window that follows. Returns its objectName.
    QString score(const std::function<void(QWidget*)>& next = {});

    QStringList stored(const char* file, const char* field) const;
};
