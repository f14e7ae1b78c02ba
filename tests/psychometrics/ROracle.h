#pragma once
// R as an outside oracle for the item response tests: Rscript run at test time.
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace roracle {

inline bool hasRscript() {
    return !QStandardPaths::findExecutable(QStringLiteral("Rscript")).isEmpty();
}

// Runs an R script; its "name v1 v2 …" lines by name.
inline std::map<QString, std::vector<double>> run(const QString& script) {
    QProcess r;
    r.start(QStringLiteral("Rscript"), {QStringLiteral("-e"), script});
    EXPECT_TRUE(r.waitForFinished(300000));
    const QString out = QString::fromUtf8(r.readAllStandardOutput());
    EXPECT_EQ(r.exitCode(), 0) << r.readAllStandardError().toStdString();
    std::map<QString, std::vector<double>> m;
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        QStringList cells = line.split(' ', Qt::SkipEmptyParts);
        if (cells.size() < 2) continue;
        const QString name = cells.takeFirst();
        for (const QString& c : cells)
            m[name].push_back(c.toDouble());
    }
    return m;
}

// An R vector literal: c(1.5, -2, ...).
inline QString vec(const std::vector<double>& v) {
    QStringList s;
    for (double x : v)
        s << QString::number(x, 'g', 17);
    return QStringLiteral("c(%1)").arg(s.join(QStringLiteral(", ")));
}

} // namespace roracle
