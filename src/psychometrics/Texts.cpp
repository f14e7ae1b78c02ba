#include "psychometrics/Texts.h"

#include "psychometrics/Sample.h"

#include <QLocale>

namespace psychometrics {

QString figure(const std::optional<double>& v) {
    return v ? QString::number(*v, 'f', 3) : QStringLiteral("—");
}

QString alphaName(const ScaleFigures& s) {
    return s.dichotomous ? QStringLiteral("KR-20") : QStringLiteral("α Кронбаха");
}

QStringList itemHeadings() {
    return {QStringLiteral("Вопрос"),         QStringLiteral("Вес"),
            QStringLiteral("Среднее"),        QStringLiteral("Ст. откл."),
            QStringLiteral("r с остальными"), QStringLiteral("α без вопроса"),
            QStringLiteral("Отметка")};
}

QStringList itemCells(const CriterionAnalysis& c, size_t i) {
    const Item& it = c.items[i];
    QString mark;
    if (c.flagged(i))
        mark = it.figures.itemRest && *it.figures.itemRest < 0 ? QStringLiteral("! r < 0")
                                                               : QStringLiteral("! α растёт");
    return {QString::number(it.question),
            QString::number(it.weight),
            QString::number(it.figures.mean, 'f', 3),
            c.complete > 1 ? QString::number(it.figures.sd, 'f', 3) : QStringLiteral("—"),
            figure(it.figures.itemRest),
            figure(it.figures.alphaIfDropped),
            mark};
}

QStringList criterionNotes(const CriterionAnalysis& c) {
    QStringList notes;
    if (c.items.empty()) {
        notes << QStringLiteral("В ключе критерия нет ни одного вопроса теста: анализировать нечего.");
        return notes;
    }
    if (c.leftOut > 0)
        notes << QStringLiteral("Не учтено прохождений: %1 — в них нет ответа хотя бы на один вопрос "
                                "критерия.")
                     .arg(c.leftOut);
    if (c.strayKeyRows > 0)
        notes << QStringLiteral("Строк ключа, указывающих на вопрос, которого нет в тесте: %1; они не "
                                "добавляют баллов и не учтены.")
                     .arg(c.strayKeyRows);
    if (c.items.size() < 2)
        notes << QStringLiteral("Один вопрос: согласованность не вычисляется.");
    else if (c.complete < 2)
        notes << QStringLiteral("Полных прохождений меньше двух: согласованность не вычисляется.");
    else if (!c.scale.alpha)
        notes << QStringLiteral("Сумма баллов у всех одинакова: α не вычисляется.");
    else if (!c.scale.standardizedAlpha)
        notes << QStringLiteral(
            "Ответ на какой-то вопрос у всех одинаков: стандартизованная α не вычисляется.");
    if (c.items.size() >= 2 && c.complete >= 2 && c.complete < kSmallSample)
        notes << QStringLiteral("Выборка слишком мала: учтено прохождений — %1, а для надёжной оценки %2 "
                                "нужно не меньше %3. Считайте цифры предварительными.")
                     .arg(c.complete)
                     .arg(alphaName(c.scale))
                     .arg(kSmallSample);
    bool marked = false;
    for (size_t i = 0; i < c.items.size(); ++i)
        marked = marked || c.flagged(i);
    if (marked)
        notes << QStringLiteral("Отмечены вопросы, которые связаны с остальными отрицательно или без которых "
                                "α выше: проверьте их формулировку и ключ.");
    return notes;
}

namespace {
QString decimal(double v, int decimals) {
    return QLocale(QLocale::Russian).toString(v, 'f', decimals);
}
} // namespace

QStringList scoreHeadings() {
    return {QStringLiteral("z"), QStringLiteral("T"), QStringLiteral("Стен"), QStringLiteral("Станайн"),
            QStringLiteral("Процентиль")};
}

QStringList scoreCells(const NormResult& r) {
    const QString dash = QStringLiteral("—");
    if (!r.scores) return {dash, dash, dash, dash, dash};
    const StandardScores& s = *r.scores;
    return {s.z ? decimal(*s.z, 2) : dash, s.t ? decimal(*s.t, 0) : dash,
            s.sten ? QString::number(*s.sten) : dash, s.stanine ? QString::number(*s.stanine) : dash,
            s.percentile ? decimal(*s.percentile, 0) : dash};
}

QString scoresLine(const NormResult& r) {
    if (!r.scores) return QStringLiteral("нет стандартных баллов: %1").arg(r.why);
    const QStringList cells = scoreCells(r);
    const QStringList names{QStringLiteral("z"), QStringLiteral("T"), QStringLiteral("стен"),
                            QStringLiteral("станайн"), QStringLiteral("процентиль")};
    QStringList parts;
    for (int i = 0; i < cells.size(); ++i)
        if (cells[i] != QStringLiteral("—")) parts << names[i] + QLatin1Char(' ') + cells[i];
    return parts.join(QStringLiteral("; ")) + QStringLiteral(" (нормы: %1)").arg(r.scores->group.describe());
}

} // namespace psychometrics
