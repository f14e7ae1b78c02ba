#include "reports/ItemAnalysisReport.h"

#include "psychometrics/Texts.h"

#include <QDate>

namespace reports {

using namespace psychometrics;

Report itemAnalysisReport(const TestAnalysis& a) {
    const QString name = a.name.isEmpty() ? QStringLiteral("без названия") : a.name;
    Report rep;
    rep.title = QStringLiteral("Анализ заданий — %1").arg(name);
    rep.footer = QStringLiteral("Анализ заданий теста «%1» (№ %2)").arg(name).arg(a.test);
    rep.add(Heading{QStringLiteral("Анализ заданий теста"), 1});
    rep.add(Fields{
        {{QStringLiteral("Тест"), QStringLiteral("%1 (№ %2)").arg(name).arg(a.test)},
         {QStringLiteral("Прохождений с ответами"), QString::number(a.runs)},
         {QStringLiteral("Дата отчёта"), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))}}});
    rep.add(Paragraph{QStringLiteral(
        "α показывает, насколько согласованно вопросы критерия измеряют одно и то же (0,7 и выше обычно "
        "считают достаточным); для вопросов с ответом 0 или 1 это KR-20. «r с остальными» — корреляция "
        "вопроса с суммой остальных вопросов критерия; «α без вопроса» — какой была бы α, если этот вопрос "
        "убрать. Учтены только прохождения с ответами на все вопросы критерия.")});
    for (const CriterionAnalysis& c : a.criteria) {
        rep.add(Heading{QStringLiteral("Критерий %1").arg(c.krit), 2});
        rep.add(Fields{{{QStringLiteral("Учтено прохождений"), QString::number(c.complete)},
                        {QStringLiteral("Вопросов"), QString::number(c.items.size())},
                        {alphaName(c.scale), figure(c.scale.alpha)},
                        {QStringLiteral("Стандартизованная α"), figure(c.scale.standardizedAlpha)}}});
        if (!c.items.empty()) {
            Table t{itemHeadings(), {11, 8, 14, 14, 18, 18, 17}, {0, 1, 2, 3, 4, 5}, {}};
            for (size_t i = 0; i < c.items.size(); ++i)
                t.rows.push_back(itemCells(c, i));
            rep.add(t);
        }
        for (const QString& note : criterionNotes(c))
            rep.add(Paragraph{note, true});
    }
    return rep;
}

} // namespace reports
