#pragma once
#include "widgets/Form.h"

// The splash window, on screen while the data module and the windows are created.
class TFistForm : public ui::Form {
    Q_OBJECT
public:
    explicit TFistForm(QWidget* parent = nullptr);
};
