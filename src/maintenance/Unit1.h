#pragma once
#include "maintenance/MemoEditor.h"

// Editor of the test description, on the current view of its table.
class TForm_bdtest : public TMemoEditor {
    Q_OBJECT
public:
    explicit TForm_bdtest(QWidget* parent = nullptr);
};

extern TForm_bdtest* Form_bdtest;
