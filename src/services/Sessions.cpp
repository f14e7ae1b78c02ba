#include "services/Sessions.h"

#include "Errors.h"
#include "data/Schema.h"
#include "dataset/Reopen.h"
#include "dataset/Table.h"

#include <QObject>
#include <QRandomGenerator>

namespace services {

const char kCodeAlphabet[] = "ACDEFGHJKMNPQRTWXY34679";

QString makeCode() {
    const int n = int(sizeof kCodeAlphabet) - 1;
    QString code;
    for (int i = 0; i < kCodeLength; ++i)
        code += QLatin1Char(kCodeAlphabet[QRandomGenerator::system()->bounded(n)]);
    return code;
}

QString normalizeCode(const QString& typed) {
    static const QString cyrillic = QStringLiteral("АВСЕНКМОРТХУ");
    static const QString latin = QStringLiteral("ABCEHKMOPTXY");
    QString out;
    for (QChar c : typed.toUpper()) {
        if (c.isSpace() || c == QLatin1Char('-')) continue;
        if (const qsizetype i = cyrillic.indexOf(c); i >= 0) c = latin[i];
        if (!c.isDigit() && !(c >= QLatin1Char('A') && c <= QLatin1Char('Z'))) return {};
        out += c;
    }
    return out.size() == kCodeLength ? out : QString();
}

struct Sessions::Tables {
    QObject owner;
    db::Table *sessions, *codes, *devices;
    Tables(const QString& dir, const QString& alias) {
        schema::ensureTable(dir, schema::sessionsTable());
        schema::ensureTable(dir, schema::codesTable());
        schema::ensureTable(dir, schema::devicesTable());
        auto make = [&](const schema::TableDef& def) {
            auto* t = new db::Table(&owner);
            t->setDatabaseName(alias);
            t->setTableName(QLatin1String(def.file));
            t->open();
            return t;
        };
        sessions = make(schema::sessionsTable());
        sessions->setUniqueNumber(QStringLiteral("NOMSEANS"));
        codes = make(schema::codesTable());
        devices = make(schema::devicesTable());
    }
};

Sessions::Sessions(const QString& dir, const QString& alias) : t_(std::make_unique<Tables>(dir, alias)) {}
Sessions::~Sessions() = default;

namespace {

int whole(const db::Variant& v) {
    return v.isNull() ? 0 : int(v.toInt());
}

Session sessionAt(db::Table* t, int row) {
    auto v = [&](const char* name) { return t->valueAt(row, t->fieldByName(QString::fromLatin1(name))); };
    Session s;
    s.id = whole(v("NOMSEANS"));
    s.test = whole(v("NOMTESTA"));
    s.org = whole(v("NOMU"));
    s.groupCode = v("GRKOD").toString().trimmed();
    s.open = whole(v("OTKR")) == 1;
    s.showScore = whole(v("POKBALL")) == 1;
    s.date = v("DATA").toDate();
    return s;
}

CodeEntry codeAt(db::Table* t, int row) {
    auto v = [&](const char* name) { return t->valueAt(row, t->fieldByName(QString::fromLatin1(name))); };
    return {whole(v("NOMSEANS")), whole(v("NOMU")), whole(v("NOMTESTIR")), v("KOD").toString().trimmed()};
}

} // namespace

QString Sessions::uniqueCode() {
    // 23^6 codes: a clash with a stored one is rare; the code is checked under the append lock
    // by the step that stores it.
    for (;;) {
        const QString code = makeCode();
        if (t_->codes->findStored(QStringLiteral("KOD"), {code}) < 0 &&
            t_->sessions->findStored(QStringLiteral("GRKOD"), {code}) < 0)
            return code;
    }
}

Session Sessions::create(int test, int org, const std::vector<int>& testees, bool group, bool showScore) {
    t_->sessions->refresh();
    t_->sessions->append();
    t_->sessions->setFields(
        {1, test, double(org), group ? uniqueCode() : QString(), 1, showScore ? 1 : 0, QDate::currentDate()});
    try {
        t_->sessions->post();
    } catch (...) {
        t_->sessions->cancel();
        throw;
    }
    const Session s = sessionAt(t_->sessions, t_->sessions->recNo());
    for (int testee : testees)
        addCode(s.id, org, testee);
    return s;
}

void Sessions::setOpen(int id, bool open) {
    const int64_t rec = t_->sessions->findStored(QStringLiteral("NOMSEANS"), {id});
    if (rec < 0) throw db::DatabaseError(QStringLiteral("Сеанса № %1 нет").arg(id));
    t_->sessions->writeStored(uint32_t(rec), t_->sessions->fieldByName(QStringLiteral("OTKR")), open ? 1 : 0);
}

std::optional<Session> Sessions::session(int id) {
    t_->sessions->setFiltered(false);
    t_->sessions->refresh();
    if (!t_->sessions->locate(QStringLiteral("NOMSEANS"), {id})) return std::nullopt;
    return sessionAt(t_->sessions, t_->sessions->recNo());
}

bool Sessions::openNow(int id) {
    db::Table* t = t_->sessions;
    const QString key = QStringLiteral("NOMSEANS");
    auto it = sessionRows_.find(id);
    // The record found before is read again; only when it no longer holds the session (another
    // program rewrote the table) is it looked for anew.
    if (it == sessionRows_.end() || !t->storedHolds(db::RowId(it->second), key, {id})) {
        t->refresh();
        const int64_t rec = t->findStored(key, {id});
        if (rec < 0) {
            sessionRows_.erase(id);
            return false;
        }
        it = sessionRows_.insert_or_assign(id, rec).first;
        t->storedHolds(db::RowId(rec), key, {id}); // read from the file, not from what was held
    }
    return whole(t->storedValue(db::RowId(it->second), t->fieldByName(QStringLiteral("OTKR")))) == 1;
}

std::vector<Session> Sessions::all() {
    t_->sessions->setFiltered(false);
    t_->sessions->refresh();
    std::vector<Session> out;
    for (int row = 0; row < t_->sessions->recordCount(); ++row)
        out.push_back(sessionAt(t_->sessions, row));
    return out;
}

std::vector<CodeEntry> Sessions::codes(int session) {
    t_->codes->filterBy(QStringLiteral("NOMSEANS=") + QString::number(session));
    std::vector<CodeEntry> out;
    for (int row = 0; row < t_->codes->recordCount(); ++row)
        out.push_back(codeAt(t_->codes, row));
    return out;
}

QString Sessions::addCode(int session, int org, int testee) {
    // One code per testee and session: a second call finds the first.
    const uint32_t rec =
        t_->codes->findOrAppendStored(QStringLiteral("NOMSEANS;NOMU;NOMTESTIR"), {session, org, testee},
                                      {session, double(org), double(testee), uniqueCode()});
    const db::Field* kod = t_->codes->fieldByName(QStringLiteral("KOD"));
    QString code = t_->codes->storedValue(rec, kod).toString().trimmed();
    // Another workstation may have stored the same code a moment before: this row takes another.
    while (t_->codes->findStored(QStringLiteral("KOD"), {code}) != int64_t(rec)) {
        code = uniqueCode();
        t_->codes->writeStored(rec, t_->codes->fieldByName(QStringLiteral("KOD")), code);
    }
    return code;
}

QString Sessions::renewCode(int session, int org, int testee) {
    const int64_t rec =
        t_->codes->findStored(QStringLiteral("NOMSEANS;NOMU;NOMTESTIR"), {session, org, testee});
    if (rec < 0) return addCode(session, org, testee);
    const QString code = uniqueCode();
    t_->codes->writeStored(uint32_t(rec), t_->codes->fieldByName(QStringLiteral("KOD")), code);
    return code;
}

std::optional<CodeEntry> Sessions::findCode(const QString& code) {
    if (code.isEmpty()) return std::nullopt;
    t_->codes->refresh();
    const int64_t rec = t_->codes->findStored(QStringLiteral("KOD"), {code});
    if (rec < 0) return std::nullopt;
    auto v = [&](const char* name) {
        return t_->codes->storedValue(uint32_t(rec), t_->codes->fieldByName(QString::fromLatin1(name)));
    };
    const CodeEntry e{whole(v("NOMSEANS")), whole(v("NOMU")), whole(v("NOMTESTIR")), code};
    const std::optional<Session> s = session(e.session);
    if (!s || !s->open) return std::nullopt;
    return e;
}

std::optional<Session> Sessions::findGroupCode(const QString& code) {
    if (code.isEmpty()) return std::nullopt;
    for (const Session& s : all())
        if (s.open && s.groupCode == code) return s;
    return std::nullopt;
}

namespace {
const QString kRunKey = QStringLiteral("NOMSEANS;NOMU;NOMTESTIR");
} // namespace

QByteArray Sessions::serverKey() {
    db::Table* t = t_->devices;
    // Two servers starting at once: the row is found or made under the append lock, so both
    // read the one stored.
    QByteArray random(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(random.data()), random.size() / 4);
    const db::RowId rec =
        t->findOrAppendStored(kRunKey, {0, 0, 0}, {0, 0.0, 0.0, QString::fromLatin1(random.toHex())});
    t->storedHolds(rec, kRunKey, {0, 0, 0});
    return t->storedValue(rec, t->fieldByName(QStringLiteral("USTR"))).toString().trimmed().toLatin1();
}

int64_t Sessions::ownerRow(int session, int org, int testee) {
    db::Table* t = t_->devices;
    const std::vector<db::Variant> key{session, org, testee};
    auto it = ownerRows_.find({session, org, testee});
    if (it != ownerRows_.end() && t->storedHolds(db::RowId(it->second), kRunKey, key)) return it->second;
    t->refresh();
    const int64_t rec = t->findStored(kRunKey, key);
    if (rec < 0) {
        ownerRows_.erase({session, org, testee});
        return -1;
    }
    ownerRows_[{session, org, testee}] = rec;
    t->storedHolds(db::RowId(rec), kRunKey, key); // read from the store, not from what was held
    return rec;
}

void Sessions::setOwner(int session, int org, int testee, const QString& mark) {
    db::Table* t = t_->devices;
    int64_t rec = ownerRow(session, org, testee);
    if (rec < 0) {
        rec = t->findOrAppendStored(kRunKey, {session, org, testee},
                                    {session, double(org), double(testee), mark});
        ownerRows_[{session, org, testee}] = rec;
    }
    const db::Field* f = t->fieldByName(QStringLiteral("USTR"));
    if (t->storedValue(db::RowId(rec), f).toString().trimmed() != mark)
        t->writeStored(db::RowId(rec), t->fieldByName(QStringLiteral("USTR")), mark);
}

bool Sessions::claimRegistration(int session, int org, const QString& mark) {
    // Until the testee has a number the row waits under a number no testee has.
    const int waiting = -1 - int(QRandomGenerator::system()->bounded(1 << 30));
    bool made = false;
    t_->devices->findOrAppendStored(QStringLiteral("NOMSEANS;USTR"), {session, mark},
                                    {session, double(org), double(waiting), mark}, &made);
    return made;
}

void Sessions::settleRegistration(int session, const QString& mark, int testee) {
    db::Table* t = t_->devices;
    t->refresh();
    const int64_t rec = t->findStored(QStringLiteral("NOMSEANS;USTR"), {session, mark});
    if (rec < 0) return;
    if (testee)
        t->writeStored(db::RowId(rec), t->fieldByName(QStringLiteral("NOMTESTIR")), double(testee));
    else
        t->writeStored(db::RowId(rec), t->fieldByName(QStringLiteral("USTR")), QString());
}

QString Sessions::ownerNow(int session, int org, int testee) {
    const int64_t rec = ownerRow(session, org, testee);
    if (rec < 0) return {};
    return t_->devices->storedValue(db::RowId(rec), t_->devices->fieldByName(QStringLiteral("USTR")))
        .toString()
        .trimmed();
}

void Sessions::reopenReplaced() {
    for (db::Table* t : t_->owner.findChildren<db::Table*>())
        db::reopenIfReplaced(*t);
}

void Sessions::refresh() {
    t_->sessions->refresh();
    t_->codes->refresh();
}

} // namespace services
