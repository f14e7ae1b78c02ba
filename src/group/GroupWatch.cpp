#include "group/GroupWatch.h"

#include <QDate>
#include <QHeaderView>
#include <QPoint>
#include <QTableWidget>
#include <array>

namespace group {

QString stateText(web::RunState state) {
    switch (state) {
    case web::RunState::NotStarted:
        return QStringLiteral("не начат");
    case web::RunState::Answering:
        return QStringLiteral("отвечает");
    case web::RunState::Finished:
        return QStringLiteral("закончил");
    case web::RunState::Scored:
        return QStringLiteral("обработан");
    case web::RunState::Moved:
        return QStringLiteral("перешёл на другое устройство");
    }
    return {};
}

int stillAnswering(const std::vector<web::TesteeStatus>& status) {
    int n = 0;
    for (const web::TesteeStatus& s : status)
        if (s.state == web::RunState::Answering || s.state == web::RunState::Finished ||
            s.state == web::RunState::Moved)
            ++n;
    return n;
}

QString totalsText(const std::vector<web::TesteeStatus>& status) {
    std::array<int, 5> by{};
    long answered = 0, total = 0;
    for (const web::TesteeStatus& s : status) {
        ++by[size_t(s.state)];
        answered += s.answered;
        total += s.total;
    }
    using S = web::RunState;
    return QStringLiteral("Всего %1: не начали %2, отвечают %3, закончили %4, обработано %5, "
                          "на другом устройстве %6. Ответов %7 из %8.")
        .arg(status.size())
        .arg(by[size_t(S::NotStarted)])
        .arg(by[size_t(S::Answering)])
        .arg(by[size_t(S::Finished)])
        .arg(by[size_t(S::Scored)])
        .arg(by[size_t(S::Moved)])
        .arg(answered)
        .arg(total);
}

namespace {

QString activityText(const QDateTime& t) {
    if (t.isNull()) return QStringLiteral("—");
    return t.date() == QDate::currentDate() ? t.toString(QStringLiteral("HH:mm:ss"))
                                            : t.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

QColor stateColour(web::RunState state) {
    switch (state) {
    case web::RunState::NotStarted:
        return {};
    case web::RunState::Answering:
        return {255, 244, 200};
    case web::RunState::Finished:
        return {222, 240, 210};
    case web::RunState::Scored:
        return {190, 225, 190};
    case web::RunState::Moved:
        return {255, 215, 180};
    }
    return {};
}

void setCell(QTableWidget* grid, int row, int column, const QString& text) {
    QTableWidgetItem* item = grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem(text);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        if (column >= 1 && column <= 3) item->setTextAlignment(Qt::AlignCenter);
        grid->setItem(row, column, item);
    } else if (item->text() != text) {
        item->setText(text);
    }
}

} // namespace

void showStatus(QTableWidget* grid, const std::vector<web::TesteeStatus>& status) {
    if (grid->rowCount() != int(status.size())) grid->setRowCount(int(status.size()));
    for (int row = 0; row < int(status.size()); ++row) {
        const web::TesteeStatus& s = status[size_t(row)];
        setCell(grid, row, 0, s.name.isEmpty() ? QStringLiteral("№ %1").arg(s.testee) : s.name);
        grid->item(row, 0)->setData(Qt::UserRole, QPoint(s.org, s.testee));
        setCell(grid, row, 1, s.code);
        setCell(grid, row, 2, QStringLiteral("%1 из %2").arg(s.answered).arg(s.total));
        setCell(grid, row, 3, activityText(s.lastActivity));
        setCell(grid, row, 4, stateText(s.state));
        QTableWidgetItem* state = grid->item(row, 4);
        if (state->data(Qt::UserRole).toInt() != int(s.state) + 1) {
            state->setData(Qt::UserRole, int(s.state) + 1);
            const QColor colour = stateColour(s.state);
            state->setBackground(colour.isValid() ? QBrush(colour) : QBrush());
        }
    }
}

} // namespace group
