#include "reports/Preview.h"

#include "reports/Render.h"
#include "widgets/Handler.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QStandardPaths>
#include <QToolBar>

namespace reports {

namespace {

// A file name from the report's title, without characters file systems refuse.
QString suggestedName(const Report& report) {
    QString name = report.title;
    for (QChar& c : name)
        if (QStringLiteral("\\/:*?\"<>|").contains(c)) c = QLatin1Char('_');
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty() || !QDir(dir).exists()) dir = QDir::homePath();
    return QDir(dir).filePath(name + QStringLiteral(".pdf"));
}

} // namespace

bool askAndSavePdf(const Report& report, QWidget* parent) {
    QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Сохранить в PDF…"),
                                                suggestedName(report), QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty()) return false;
    if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) path += QStringLiteral(".pdf");
    savePdf(report, path);
    return true;
}

void preview(const Report& report, QWidget* parent) {
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(&printer, report);
    printer.setDocName(report.title);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setObjectName(QStringLiteral("ReportPreview"));
    dialog.setWindowTitle(report.title);
    dialog.resize(900, 1000);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* p) {
        try {
            paint(report, p);
        } catch (...) {
            ui::reportCurrentException();
        }
    });
    if (auto* bar = dialog.findChild<QToolBar*>()) {
        // At the front of the bar: the preview's own buttons fill it, and what comes after them
        // goes behind the overflow arrow at the preview's size.
        QAction* front = bar->actions().value(0);
        auto* print = new QAction(QStringLiteral("Печать…"), bar);
        print->setObjectName(QStringLiteral("ActionPrint"));
        ui::on(print, &QAction::triggered, &dialog, [&] {
            QPrintDialog ask(&printer, &dialog);
            ask.setObjectName(QStringLiteral("ReportPrintDialog"));
            if (ask.exec() == QDialog::Accepted) paint(report, &printer);
        });
        auto* save = new QAction(QStringLiteral("Сохранить в PDF…"), bar);
        save->setObjectName(QStringLiteral("ActionSavePdf"));
        ui::on(save, &QAction::triggered, &dialog, [&] { askAndSavePdf(report, &dialog); });
        bar->insertAction(front, print);
        bar->insertAction(front, save);
        bar->insertSeparator(front);
    }
    dialog.exec();
}

} // namespace reports
