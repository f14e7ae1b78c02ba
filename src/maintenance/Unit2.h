#pragma once
#include "maintenance/MemoEditor.h"

// Editor of the interpretation texts, on the current view of its table.
class TForm_bdanaliz : public TMemoEditor {
    Q_OBJECT
public:
    explicit TForm_bdanaliz(QWidget* parent = nullptr);
};

extern TForm_bdanaliz* Form_bdanaliz;
