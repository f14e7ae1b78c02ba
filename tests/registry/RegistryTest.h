#pragma once
#include "../app/AppFixture.h"

#include <QStringList>
#include <functional>

namespace ui {
class Form;
}

// Stored values of one field of a table file of the test database, read apart from the program.
QStringList storedColumn(const TestDb& db, const char* file, const char* field);

// Runs step on the next modal window, as a form.
void onModal(const std::function<void(ui::Form*)>& step);

// Opens the institution window from the main menu and runs step in it.
void inOrgWindow(const std::function<void(ui::Form*)>& step);
// Opens the testee window from the main menu and runs step in it.
void inTestirWindow(const std::function<void(ui::Form*)>& step);

// Adds an institution, or a testee of an institution, through the program's tables; a null
// variant leaves the number empty.
void addOrg(const db::Variant& number, const QString& name);
void addTestee(const db::Variant& org, const db::Variant& number, const QString& surname);
