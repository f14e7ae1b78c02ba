#pragma once
#include "psychometrics/irt/StoredRuns.h"

#include <QDate>
#include <QString>
#include <vector>

// The item bank: a criterion's calibrated questions, kept in the database's optional table of
// item parameters (a folder or a server), read by the adaptive runs and the simulation.
namespace psychometrics::irt {

struct BankItem {
    int question = 0;
    ItemParameters parameters;
    double aSe = 0;                  // 2PL only
    std::vector<double> thresholdSe; // per threshold
    std::vector<double> points;      // the points each score level 0..m stands for
};

struct Bank {
    int test = 0, krit = 0;
    Model model = Model::Rasch;
    QDate calibrated;
    double runs = 0; // runs in the likelihood
    std::vector<BankItem> items;
    std::vector<ItemParameters> parameters() const;
};

QString modelName(Model m); // rasch, 2pl, pcm

Bank bankOf(const CriterionCalibration& c, const QDate& when = QDate::currentDate());

// Replaces the criterion's stored parameters with the bank's in one step: on any failure the
// table is left as it was and the error is thrown on.
void storeBank(const QString& database, const Bank& bank);

// The criterion's stored bank; no items when none is stored (or the table is not there).
Bank readBank(const QString& database, int test, int krit);

} // namespace psychometrics::irt
