#include "psychometrics/irt/Bank.h"

#include "Errors.h"
#include "data/Schema.h"
#include "dataset/Aliases.h"
#include "dataset/RecordStore.h"
#include "dataset/Table.h"
#include "dbf/DbfFile.h"
#include "psychometrics/Columns.h"

#include <QFile>
#include <QFileInfo>
#include <map>

namespace psychometrics::irt {

std::vector<ItemParameters> Bank::parameters() const {
    std::vector<ItemParameters> out;
    for (const BankItem& i : items)
        out.push_back(i.parameters);
    return out;
}

QString modelName(Model m) {
    switch (m) {
    case Model::TwoPl:
        return QStringLiteral("2pl");
    case Model::PartialCredit:
        return QStringLiteral("pcm");
    default:
        return QStringLiteral("rasch");
    }
}

Bank bankOf(const CriterionCalibration& c, const QDate& when) {
    Bank b;
    b.test = c.test;
    b.krit = c.krit;
    b.model = c.fit.model;
    b.calibrated = when;
    b.runs = c.fit.personsUsed;
    for (const ItemFit& f : c.fit.items) {
        BankItem i;
        i.question = c.questions[f.column];
        i.parameters = f.parameters;
        i.aSe = f.aSe;
        i.thresholdSe = f.thresholdSe;
        for (int p : c.pointsOfLevel[f.column])
            i.points.push_back(p);
        b.items.push_back(std::move(i));
    }
    return b;
}

namespace {

// The files of a folder table, whole, to put back after a step that failed half-way. A bank is
// a few hundred rows, so keeping them in memory is cheap.
class FileCopy {
public:
    void keep(const QString& path) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) files_.emplace_back(path, f.readAll());
    }
    bool restore() const {
        bool ok = true;
        for (const auto& [path, bytes] : files_) {
            QFile f(path);
            ok = f.open(QIODevice::ReadWrite) && f.resize(0) && f.write(bytes) == bytes.size() && f.flush() &&
                 ok;
        }
        return ok;
    }

private:
    std::vector<std::pair<QString, QByteArray>> files_;
};

std::vector<std::vector<db::ColumnValue>> rowsOf(const Bank& bank, db::RecordStore& s) {
    const auto col = [&](const char* name) {
        const int c = s.columnIndex(QLatin1String(name));
        if (c < 0)
            throw db::DatabaseError(QStringLiteral("bd_irt lacks the field %1").arg(QLatin1String(name)));
        return c;
    };
    std::vector<std::vector<db::ColumnValue>> rows;
    for (const BankItem& i : bank.items) {
        const auto& t = i.parameters.thresholds;
        for (size_t h = 0; h < t.size(); ++h) {
            std::vector<db::ColumnValue> r;
            const auto put = [&](const char* name, db::Variant v) {
                r.push_back({col(name), QLatin1String(name), std::move(v)});
            };
            put("NOMTESTA", bank.test);
            put("KRIT", bank.krit);
            put("NOMVOPR", i.question);
            put("MODEL", modelName(bank.model));
            put("POROG", int(h + 1));
            put("DISKR", i.parameters.a);
            if (bank.model == Model::TwoPl) put("DISKRSE", i.aSe);
            put("TRUD", t[h]);
            if (h < i.thresholdSe.size()) put("TRUDSE", i.thresholdSe[h]);
            if (i.points.size() == t.size() + 1) {
                put("BALL0", i.points[0]);
                put("BALL", i.points[h + 1]);
            }
            put("KOLVO", bank.runs);
            put("DATA", bank.calibrated);
            rows.push_back(std::move(r));
        }
    }
    return rows;
}

} // namespace

void storeBank(const QString& database, const Bank& bank) {
    const QString path = schema::ensureTable(database, schema::irtBank());
    db::Table t;
    db::placeTable(t, database, QFileInfo(path).fileName());
    t.open();
    db::RecordStore& s = *t.store();
    const auto rows = rowsOf(bank, s);
    FileCopy copy;
    if (s.file()) {
        copy.keep(path);
        copy.keep(QString::fromStdString(dbf::DbfFile::indexPathFor(path.toStdString())));
    }
    const int na = s.columnIndex(QStringLiteral("NOMTESTA")), kr = s.columnIndex(QStringLiteral("KRIT"));
    s.underAppendLock([&] {
        std::vector<db::RowId> old;
        const auto stream = s.stream({na, kr}, {db::FieldKind::Smallint, db::FieldKind::Smallint});
        while (stream->next()) {
            const db::Variant a = stream->value(0), k = stream->value(1);
            if (!a.isNull() && !k.isNull() && a.toInt() == bank.test && k.toInt() == bank.krit)
                old.push_back(stream->id());
        }
        try {
            s.appendMany(rows);
            for (db::RowId id : old)
                s.setDeleted(id, true);
        } catch (...) {
            // A server runs this whole step in one transaction and rolls it back; a folder gets
            // its files back.
            if (s.file() && !copy.restore())
                throw db::DatabaseError(
                    QStringLiteral("The item bank was not stored, and %1 could not be put back as it was")
                        .arg(path));
            throw;
        }
    });
}

Bank readBank(const QString& database, int test, int krit) {
    Bank b;
    b.test = test;
    b.krit = krit;
    if (!schema::hasTable(database, schema::irtBank())) return b;
    Columns t(database, schema::irtBank().file);
    const int na = t.column("NOMTESTA"), kr = t.column("KRIT"), q = t.column("NOMVOPR"),
              m = t.column("MODEL"), h = t.column("POROG"), a = t.column("DISKR"), ase = t.column("DISKRSE"),
              d = t.column("TRUD"), dse = t.column("TRUDSE"), b0 = t.column("BALL0"), bh = t.column("BALL"),
              n = t.column("KOLVO"), when = t.column("DATA");
    std::map<int, BankItem> items;
    std::vector<int> order;
    t.scan([&](const db::ColumnScan::Record& r) {
        if (!r.live() || r.whole(na) != test || r.whole(kr) != krit) return true;
        const auto question = r.whole(q), level = r.whole(h);
        const auto disc = r.number(a), delta = r.number(d);
        if (!question || !level || !disc || !delta || *level < 1) return true;
        const QString model = r.text(m).trimmed().toLower();
        b.model = model == QLatin1String("2pl")   ? Model::TwoPl
                  : model == QLatin1String("pcm") ? Model::PartialCredit
                                                  : Model::Rasch;
        b.runs = r.number(n).value_or(0);
        b.calibrated = r.date(when);
        auto [it, fresh] = items.try_emplace(int(*question));
        if (fresh) order.push_back(int(*question));
        BankItem& i = it->second;
        i.question = int(*question);
        i.parameters.a = *disc;
        i.aSe = r.number(ase).value_or(0);
        const size_t k = size_t(*level);
        if (i.parameters.thresholds.size() < k) {
            i.parameters.thresholds.resize(k, 0);
            i.thresholdSe.resize(k, 0);
            i.points.resize(k + 1, 0);
        }
        i.parameters.thresholds[k - 1] = *delta;
        i.thresholdSe[k - 1] = r.number(dse).value_or(0);
        i.points[0] = r.number(b0).value_or(0);
        i.points[k] = r.number(bh).value_or(double(k));
        return true;
    });
    for (int question : order)
        b.items.push_back(std::move(items[question]));
    return b;
}

} // namespace psychometrics::irt
