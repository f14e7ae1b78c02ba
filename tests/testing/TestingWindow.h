#pragma once
#include "TestDb.h"

#include <QDate>
#include <QList>
#include <QString>
#include <functional>

// Every answer row of one testee and test, in stored order.
QList<RunRow> answerRows(const QString& dbDir, int org, int testee, int test);
// Number of rows in bd_rezult.
int answerRowCount(const QString& dbDir);

// Opens the testing window as the main menu does, runs step in it, then closes it with its
// close button (unless step closed it).
void inTestingWindow(const std::function<void()>& step);
// Clicks option i of the answer group with the mouse.
void chooseOption(int i);
// Number of the question the window shows.
int shownQuestion();
