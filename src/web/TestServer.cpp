#include "web/TestServer.h"
#include "Fault.h"
#include "FaultText.h"

#include "web/HttpServer.h"
#include "web/Pages.h"
#include "web/Refusal.h"

#include <QCoreApplication>
#include <algorithm>

namespace web {

namespace {

constexpr const char* kCookie = "mv";
constexpr qint64 kTokenMs = 4 * 3600 * 1000;      // a page may stay open for a lesson and more
constexpr size_t kMaxTokens = 200000;             // bounded, whatever clients ask for
constexpr qint64 kUnconfirmedMs = 30 * 60 * 1000; // a device that never confirmed its code
constexpr qint64 kFailureWindowMs = 10 * 60 * 1000;
constexpr int kMaxFailures = 10;  // wrong codes per client address in that window
constexpr qint64 kCodesMs = 5000; // the code list of a watched session is read this often

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

std::string setCookie(const std::string& value) {
    return std::string(kCookie) + "=" + value + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string clearCookie() {
    return std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict";
}

// Large print, asked for on a question page, stays until the run ends.
constexpr const char* kLargeCookie = "lp";

std::string largeCookie(bool on) {
    return std::string(kLargeCookie) +
           (on ? "=1; Path=/; HttpOnly; SameSite=Strict" : "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
}

// A page's own choice first, then the one kept.
bool largePrint(const Request& r) {
    if (auto q = r.query.find("large"); q != r.query.end()) return q->second == "1";
    auto c = r.cookies.find(kLargeCookie);
    return c != r.cookies.end() && c->second == "1";
}

void redirect(Exchange& x, const std::string& to) {
    x.response.status = 303;
    x.response.headers.emplace_back("Location", to);
    x.response.body.clear();
}

bool wholeNumber(const std::string& text, int& out) {
    if (text.empty() || text.size() > 6) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    out = std::stoi(text);
    return true;
}

// What the page's script says of the click: the second of a double click, or made before the
// page had been on screen for kReadMs. A form sent without the script says nothing.
bool aimedBefore(const Request& r) {
    auto d = r.form.find("d");
    auto w = r.form.find("w");
    int count = 0;
    if (d != r.form.end() && wholeNumber(d->second, count) && count > 1) return true;
    if (w == r.form.end()) return false;
    const bool early = !w->second.empty() && w->second[0] == '-';
    int age = 0;
    return wholeNumber(early ? w->second.substr(1) : w->second, age) && (early || age < pages::kReadMs);
}

QString field(const Request& r, const char* name) {
    auto it = r.form.find(name);
    return it == r.form.end() ? QString() : QString::fromUtf8(it->second).trimmed();
}

} // namespace

TestServer::TestServer(const QString& dir, const QString& alias, QObject* parent)
    : QObject(parent), dir_(dir), runs_(std::make_unique<services::RunService>(alias)),
      sessions_(std::make_unique<services::Sessions>(dir, alias)),
      signer_(std::make_unique<DeviceSigner>(sessions_->serverKey())) {}

TestServer::~TestServer() {
    stop();
}

void TestServer::start(const QString& address, uint16_t port) {
    start(address, port, Limits{});
}

void TestServer::start(const QString& address, uint16_t port, const Limits& limits) {
    stop();
    http_ = std::make_unique<HttpServer>([this](std::vector<Exchange>& batch) { handle(batch); }, limits);
    http_->listen(address, port);
}

void TestServer::stop() {
    makeShownRows(); // the rows of questions shown last, before the server goes
    if (http_) http_->stop();
    http_.reset();
}

bool TestServer::running() const {
    return http_ && http_->listening();
}

uint16_t TestServer::port() const {
    return http_ ? http_->port() : 0;
}

services::Session TestServer::openSession(int test, int org, const std::vector<int>& testees, bool group,
                                          bool showScore) {
    runs_->outline(test); // a test without questions is refused before anything is stored
    const services::Session s = sessions_->create(test, org, testees, group, showScore);
    refreshSessions(true);
    return s;
}

void TestServer::closeSession(int id) {
    sessions_->setOpen(id, false);
    refreshSessions(true);
}

void TestServer::reopenSession(int id) {
    sessions_->setOpen(id, true);
    refreshSessions(true);
}

QString TestServer::renewCode(int session, int org, int testee) {
    const QString code = sessions_->renewCode(session, org, testee);
    if (auto it = runsById_.find({session, org, testee}); it != runsById_.end()) it->second.code = code;
    sessions_->setOwner(session, org, testee, {});
    codeCache_.erase(session);
    return code;
}

bool TestServer::Run::complete() const {
    return !answered.empty() && std::find(answered.begin(), answered.end(), false) == answered.end();
}

std::vector<TesteeStatus> TestServer::status(int session) {
    CodeList& list = codeCache_[session];
    if (list.read == 0 || now() - list.read >= kCodesMs) {
        list.entries = sessions_->codes(session);
        list.read = now();
    }
    std::vector<TesteeStatus> out;
    out.reserve(list.entries.size());
    for (const services::CodeEntry& c : list.entries) {
        Run& run = runFor(session, c.org, c.testee);
        TesteeStatus s;
        s.org = c.org;
        s.testee = c.testee;
        s.name = run.name;
        s.code = c.code;
        s.answered = int(std::count(run.answered.begin(), run.answered.end(), true));
        s.total = int(run.answered.size());
        s.lastActivity = run.last;
        s.state = run.state;
        out.push_back(s);
    }
    return out;
}

void TestServer::refreshSessions(bool force) {
    // Another program (morv-db, a second workstation) may open or close a session: looked at
    // once a second at most.
    if (!force && now() - sessionsRead_ < 1000) return;
    // A read that fails leaves what was read last: a session is closed only when it is stored so.
    std::map<int, services::Session> read;
    for (const services::Session& s : sessions_->all())
        read[s.id] = s;
    sessionCache_.swap(read);
    sessionsRead_ = now();
}

const services::Session* TestServer::sessionOf(int id) {
    try {
        refreshSessions();
    } catch (const std::exception&) {
        // Not read, so not known to be closed: a session read before holds as it was read.
        if (!sessionCache_.count(id)) throw;
    }
    auto it = sessionCache_.find(id);
    return it == sessionCache_.end() ? nullptr : &it->second;
}

TestServer::Run& TestServer::runFor(int session, int org, int testee) {
    auto [it, made] = runsById_.try_emplace({session, org, testee});
    if (made) {
        Run& run = it->second;
        try {
            const services::Session* s = sessionOf(session);
            run.session = session;
            run.key = {org, testee, s ? s->test : 0};
            if (auto t = runs_->testee(org, testee)) run.name = t->fullName();
            readRun(run);
        } catch (...) {
            runsById_.erase(it); // read again at the next request, never half read
            throw;
        }
    }
    return it->second;
}

void TestServer::readRun(Run& run) {
    const services::Session* s = sessionOf(run.session);
    const services::TestOutline& o = runs_->outline(run.key.test);
    run.answered.assign(o.items.size(), false);
    const services::Completeness c = runs_->check(run.key);
    for (size_t i = 0; i < o.items.size(); ++i)
        run.answered[i] = std::find(c.missing.begin(), c.missing.end(), o.items[i].number) == c.missing.end();
    const auto firstOpen = std::find(run.answered.begin(), run.answered.end(), false);
    run.current = firstOpen == run.answered.end() ? o.items.front().number
                                                  : o.items[size_t(firstOpen - run.answered.begin())].number;
    if (run.complete()) {
        // Scored since the session began (before a restart, or through another server).
        const std::optional<QDate> scored = runs_->scoredOn(run.key);
        run.state = scored && s && *scored >= s->date ? RunState::Scored : RunState::Finished;
    } else if (std::count(run.answered.begin(), run.answered.end(), true) > 0) {
        run.state = RunState::Answering;
    }
}

std::string TestServer::issueToken(const std::string& cookie, int question) {
    return signer_->token(cookie, question, now() + kTokenMs);
}

bool TestServer::takeToken(const Request& r, const std::string& cookie, int question, bool& reused) {
    auto f = r.form.find("t");
    const qint64 t = now();
    if (f == r.form.end() || !signer_->check(f->second, cookie, question, t)) return false;
    while (!tokenOrder_.empty() && (tokenOrder_.front().first < t || usedTokens_.size() >= kMaxTokens)) {
        usedTokens_.erase(tokenOrder_.front().second);
        tokenOrder_.pop_front();
    }
    reused = !usedTokens_.emplace(f->second, t + kTokenMs).second;
    if (!reused) tokenOrder_.emplace_back(t + kTokenMs, f->second);
    return true;
}

std::string TestServer::deviceOf(const Request& r) {
    auto it = r.cookies.find(kCookie);
    return it == r.cookies.end() ? std::string() : it->second;
}

std::optional<DeviceId> TestServer::device(const std::string& cookie) const {
    if (cookie.empty()) return std::nullopt;
    return signer_->parse(cookie);
}

bool TestServer::owns(const DeviceId& d) {
    return d.testee != 0 && sessions_->ownerNow(d.session, d.org, d.testee) == DeviceSigner::mark(d);
}

bool TestServer::blocked(const std::string& peer) {
    auto it = failures_.find(peer);
    if (it == failures_.end()) return false;
    while (!it->second.empty() && now() - it->second.front() > kFailureWindowMs)
        it->second.pop_front();
    if (it->second.empty()) {
        failures_.erase(it);
        return false;
    }
    return int(it->second.size()) >= kMaxFailures;
}

void TestServer::failed(const std::string& peer) {
    failures_[peer].push_back(now());
}

void TestServer::ended(Exchange& x, const QString& heading, const QString& text, int status) {
    if (!deviceOf(x.request).empty()) x.response.headers.emplace_back("Set-Cookie", clearCookie());
    if (x.request.cookies.count(kLargeCookie))
        x.response.headers.emplace_back("Set-Cookie", largeCookie(false));
    x.response.status = status;
    x.response.body = pages::notice(heading, text);
}

void TestServer::handle(std::vector<Exchange>& batch) {
    // An erasure between two groups wrote the tables anew: this group works on the new files.
    runs_->reopenReplaced();
    sessions_->reopenReplaced();
    std::vector<services::PendingChoice> choices;
    std::vector<Deferred> deferred;
    for (Exchange& x : batch) {
        try {
            route(x, choices, deferred);
        } catch (const std::exception& e) {
            refuse(x, e);
        }
    }
    if (!choices.empty()) {
        // One group: the answers whose rows exist reach the disk with one sync.
        try {
            runs_->chooseMany(choices);
            retryReplaced(choices);
        } catch (const std::exception& e) {
            for (services::PendingChoice& c : choices)
                if (c.error.isEmpty()) c.error = QString::fromUtf8(e.what());
        }
        for (const Deferred& d : deferred) {
            try {
                answered(d, choices[d.choice]);
            } catch (const std::exception& e) {
                refuse(*d.x, e);
            }
        }
    }
    // The shown questions' rows are made once these replies are on their way: a choice never
    // waits for them, and a question answered before its row exists gets the row with the answer.
    if (!shown_.empty() && !flushPosted_) {
        flushPosted_ = true;
        QMetaObject::invokeMethod(
            this, [this] { makeShownRows(); }, Qt::QueuedConnection);
    }
}

void TestServer::retryReplaced(std::vector<services::PendingChoice>& choices) {
    // A table an erasure renamed into place while this group waited for its lock refuses the
    // group; opened again, the new file takes it.
    std::vector<services::PendingChoice*> refused;
    for (services::PendingChoice& c : choices)
        if (!c.error.isEmpty()) refused.push_back(&c);
    if (refused.empty() || !runs_->reopenReplaced()) return;
    std::vector<services::PendingChoice> again;
    for (const services::PendingChoice* c : refused)
        again.push_back({c->run, c->question, c->option, {}});
    runs_->chooseMany(again);
    for (size_t i = 0; i < refused.size(); ++i)
        refused[i]->error = again[i].error;
}

void TestServer::makeShownRows() {
    flushPosted_ = false;
    // Answers that arrived meanwhile go first: no one waits for a shown question's row, and an
    // answer whose row is still to be made makes it with its choice in the same step.
    if (http_) QCoreApplication::sendPostedEvents(http_.get(), QEvent::MetaCall);
    std::vector<std::pair<results::RunKey, int>> shown;
    shown.swap(shown_);
    try {
        runs_->makeRows(shown);
    } catch (const std::exception&) {
        // Nothing asked for these rows yet; the question's answer makes its row.
    }
}

void TestServer::route(Exchange& x, std::vector<services::PendingChoice>& choices,
                       std::vector<Deferred>& deferred) {
    const Request& r = x.request;
    const bool get = r.method == "GET" || r.method == "HEAD";
    const bool post = r.method == "POST";
    if (!get && !post) {
        x.response.status = 405;
        x.response.headers.emplace_back("Allow", "GET, POST");
        x.response.body =
            pages::notice(QStringLiteral("Ошибка"), QStringLiteral("Такой запрос не принимается."));
        return;
    }
    if (get && r.path == "/") return home(x);
    if (get && r.path == "/s.js") {
        x.response.contentType = "text/javascript; charset=utf-8";
        x.response.body = pages::script();
        return;
    }
    if (get && r.path == "/q") return showQuestion(x);
    if (post && r.path == "/code") return code(x);
    if (post && r.path == "/start") return startRun(x);
    if (post && r.path == "/register") return registerTestee(x);
    if (post && r.path == "/answer") return answer(x, choices, deferred);
    if (post && r.path == "/finish") return finish(x);
    if (post && r.path == "/leave") return leave(x);
    x.response.status = 404;
    x.response.body =
        pages::notice(QStringLiteral("Нет такой страницы"), QStringLiteral("Такой страницы нет."));
}

void TestServer::home(Exchange& x) {
    const std::string dev = deviceOf(x.request);
    if (auto d = device(dev); d && owns(*d) && sessions_->openNow(d->session) &&
                              runFor(d->session, d->org, d->testee).state != RunState::Scored)
        return redirect(x, "/q");
    // Whatever the cookie named is over: nothing of it stays in this browser.
    if (!dev.empty()) x.response.headers.emplace_back("Set-Cookie", clearCookie());
    if (x.request.cookies.count(kLargeCookie))
        x.response.headers.emplace_back("Set-Cookie", largeCookie(false));
    // A slip's QR code brings the code along: it fills the field, and only the testee's press
    // enters it; anything but a well-formed code is left out.
    QString prefill;
    if (auto it = x.request.query.find("code"); it != x.request.query.end())
        prefill = services::normalizeCode(QString::fromStdString(it->second));
    x.response.body = pages::codeEntry(issueToken({}, 0), {}, false, prefill);
}

void TestServer::code(Exchange& x) {
    const Request& r = x.request;
    bool reused = false;
    if (!takeToken(r, {}, 0, reused) || reused) {
        x.response.status = reused ? 409 : 403;
        x.response.body = pages::codeEntry(issueToken({}, 0),
                                           QStringLiteral("Страница устарела. Введите код ещё раз."), true);
        return;
    }
    if (blocked(r.peer)) {
        x.response.status = 429;
        x.response.body =
            pages::notice(QStringLiteral("Слишком много попыток"),
                          QStringLiteral("С этого устройства введено слишком много неверных кодов. "
                                         "Подождите десять минут или обратитесь к психологу."));
        return;
    }
    const QString typed = services::normalizeCode(field(r, "kod"));
    refreshSessions(true);
    if (auto entry = sessions_->findCode(typed)) {
        Run& run = runFor(entry->session, entry->org, entry->testee);
        run.code = typed;
        if (run.state != RunState::Scored) readRun(run); // another server may have scored it since
        if (run.state == RunState::Scored) {
            x.response.body = pages::notice(QStringLiteral("Тестирование завершено"),
                                            QStringLiteral("Это тестирование уже завершено. Спасибо!"));
            return;
        }
        const std::string dev =
            signer_->cookie({entry->session, entry->org, entry->testee, now(), randomHex(16)});
        x.response.headers.emplace_back("Set-Cookie", setCookie(dev));
        x.response.body =
            pages::confirm(issueToken(dev, 0), run.name.isEmpty() ? QStringLiteral("(без имени)") : run.name,
                           runs_->outline(run.key.test).name);
        return;
    }
    if (auto s = sessions_->findGroupCode(typed)) {
        const std::string dev = signer_->cookie({s->id, s->org, 0, now(), randomHex(16)});
        x.response.headers.emplace_back("Set-Cookie", setCookie(dev));
        x.response.body = pages::registration(issueToken(dev, 0), runs_->outline(s->test).name,
                                              runs_->educations(), {}, {});
        return;
    }
    failed(r.peer);
    x.response.status = 403;
    x.response.body = pages::codeEntry(
        issueToken({}, 0), QStringLiteral("Такого кода нет, или сеанс тестирования закрыт."), true);
}

void TestServer::startRun(Exchange& x) {
    const std::string dev = deviceOf(x.request);
    const std::optional<DeviceId> d = device(dev);
    bool reused = false;
    if (!d || d->testee == 0 || now() - d->created > kUnconfirmedMs || !takeToken(x.request, dev, 0, reused))
        return ended(x, QStringLiteral("Страница устарела"), QStringLiteral("Введите код ещё раз."), 403);
    Run& run = runFor(d->session, d->org, d->testee);
    if (!sessions_->openNow(d->session))
        return ended(x, QStringLiteral("Сеанс завершён"), QStringLiteral("Сеанс тестирования закрыт."), 410);
    if (!reused) {
        // The later device takes over, whichever server it came through; the earlier one hears
        // of it at its next click.
        const QString mine = DeviceSigner::mark(*d);
        const QString before = sessions_->ownerNow(d->session, d->org, d->testee);
        if (!before.isEmpty() && before != mine)
            run.state = RunState::Moved;
        else if (run.state == RunState::NotStarted)
            run.state = RunState::Answering;
        sessions_->setOwner(d->session, d->org, d->testee, mine);
        run.last = QDateTime::currentDateTime();
    }
    redirect(x, "/q");
}

void TestServer::registerTestee(Exchange& x) {
    const Request& r = x.request;
    const std::string dev = deviceOf(r);
    const std::optional<DeviceId> d = device(dev);
    bool reused = false;
    if (d && d->testee != 0) {
        // Registered already (the form sent again), or a personal code: nothing is made.
        if (owns(*d)) return redirect(x, "/q");
        x.response.status = 403;
        x.response.body =
            pages::notice(QStringLiteral("Ошибка"), QStringLiteral("Регистрация по этому коду не нужна."));
        return;
    }
    if (!d || now() - d->created > kUnconfirmedMs || !takeToken(r, dev, 0, reused))
        return ended(x, QStringLiteral("Страница устарела"), QStringLiteral("Введите код ещё раз."), 403);
    const services::Session* s = sessionOf(d->session);
    if (!s || !sessions_->openNow(s->id) || s->groupCode.isEmpty())
        return ended(x, QStringLiteral("Сеанс завершён"), QStringLiteral("Сеанс тестирования закрыт."), 410);
    pages::Registration f{field(r, "fam"), field(r, "nam"), field(r, "otch"),
                          field(r, "pol"), field(r, "god"), 0};
    f.education = field(r, "obr").toInt();
    QString error;
    const int year = f.year.toInt();
    const int thisYear = QDate::currentDate().year();
    const auto educations = runs_->educations();
    if (f.surname.isEmpty() || f.name.isEmpty())
        error = QStringLiteral("Укажите фамилию и имя.");
    else if (f.surname.size() > 15 || f.name.size() > 15 || f.patronymic.size() > 20)
        error = QStringLiteral("Слишком длинная фамилия, имя или отчество.");
    else if (!f.sex.isEmpty() && f.sex != QStringLiteral("М") && f.sex != QStringLiteral("Ж"))
        error = QStringLiteral("Укажите пол: М или Ж.");
    else if (!f.year.isEmpty() && (year < 1900 || year > thisYear))
        error = QStringLiteral("Год рождения — число от 1900 до %1.").arg(thisYear);
    else if (f.education != 0 && std::none_of(educations.begin(), educations.end(),
                                              [&](const auto& e) { return e.first == f.education; }))
        error = QStringLiteral("Выберите образование из списка.");
    const QString mark = DeviceSigner::mark(*d);
    // A form sent again through another server is told from the first by the database.
    if (error.isEmpty() && !reused) reused = !sessions_->claimRegistration(s->id, s->org, mark);
    if (!error.isEmpty() || reused) {
        x.response.status = error.isEmpty() ? 409 : 422;
        if (reused) error = QStringLiteral("Анкета уже отправлена.");
        x.response.body =
            pages::registration(issueToken(dev, 0), runs_->outline(s->test).name, educations, f, error);
        return;
    }
    int number = 0;
    QString code;
    // The form may be sent again: a claim that did not end in a stored testee goes.
    const auto dropClaim = [&] {
        try {
            sessions_->settleRegistration(s->id, mark, 0);
        } catch (...) {
        }
    };
    try {
        number = runs_->registerTestee(
            s->org, {f.surname, f.name, f.patronymic, f.sex, f.year.isEmpty() ? 0 : year, f.education});
        code = sessions_->addCode(s->id, s->org, number);
        sessions_->settleRegistration(s->id, mark, number);
    } catch (const db::DatabaseError& e) {
        dropClaim();
        // A letter the tables cannot hold is the testee's to change, not a fault of the server.
        if (db::faultOf(e).fault != db::Fault::CharNotHeld) throw;
        x.response.status = 422;
        x.response.body = pages::registration(issueToken(dev, 0), runs_->outline(s->test).name, educations, f,
                                              db::userText(e));
        return;
    } catch (...) {
        dropClaim();
        throw;
    }
    codeCache_.erase(s->id);
    Run& run = runFor(s->id, s->org, number);
    run.code = code;
    run.state = RunState::Answering;
    run.last = QDateTime::currentDateTime();
    DeviceId registered = *d;
    registered.testee = number;
    x.response.headers.emplace_back("Set-Cookie", setCookie(signer_->cookie(registered)));
    x.response.body = pages::personalCode(code, run.current);
}

void TestServer::render(Exchange& x, const std::string& cookie, Run& run, int question, const QString& notice,
                        bool error, int status) {
    const services::TestOutline& o = runs_->outline(run.key.test);
    const services::ShownQuestion shown = runs_->look(run.key, question);
    shown_.emplace_back(run.key, question);
    run.current = question;
    pages::QuestionView v;
    v.number = question;
    v.last = o.last();
    v.place = shown.place;
    v.count = int(o.items.size());
    v.text = shown.item->text;
    v.options = shown.item->options;
    v.columns = shown.item->columns;
    v.chosen = shown.chosen;
    v.prev = shown.place > 1 ? o.items[size_t(shown.place - 2)].number : 0;
    v.next = shown.place < v.count ? o.items[size_t(shown.place)].number : 0;
    v.notice = notice;
    v.noticeIsError = error;
    v.answered = int(std::count(run.answered.begin(), run.answered.end(), true));
    v.large = largePrint(x.request);
    if (x.request.query.count("large")) x.response.headers.emplace_back("Set-Cookie", largeCookie(v.large));
    x.response.status = status;
    x.response.body = pages::question(issueToken(cookie, question), v);
    x.response.headers.emplace_back("X-Morv-Url", "/q?n=" + std::to_string(question));
}

TestServer::Run* TestServer::activeRun(Exchange& x, const std::string& cookie, const QString& lost) {
    const std::optional<DeviceId> d = device(cookie);
    Run* run = d && d->testee ? &runFor(d->session, d->org, d->testee) : nullptr;
    if (!run) {
        ended(x, QStringLiteral("Введите код"), QStringLiteral("Чтобы начать, введите свой код."), 403);
        return nullptr;
    }
    // As stored at this click, whichever server or program changed it a moment ago.
    if (!sessions_->openNow(d->session)) {
        ended(x, QStringLiteral("Сеанс завершён"), QStringLiteral("Сеанс тестирования закрыт.") + lost, 410);
        return nullptr;
    }
    const QString owner = sessions_->ownerNow(d->session, d->org, d->testee);
    if (owner.isEmpty())
        ended(x, QStringLiteral("Введите код"), QStringLiteral("Чтобы продолжить, введите свой код.") + lost,
              403);
    else if (owner != DeviceSigner::mark(*d))
        ended(x, QStringLiteral("Тестирование продолжено на другом устройстве"),
              QStringLiteral("Ваш код введён на другом устройстве; здесь тестирование закрыто.") + lost, 409);
    else if (run->state == RunState::Scored)
        ended(x, QStringLiteral("Тестирование завершено"), {}, 410);
    else
        return run;
    return nullptr;
}

void TestServer::showQuestion(Exchange& x) {
    const std::string dev = deviceOf(x.request);
    Run* run = activeRun(x, dev, {});
    if (!run) return;
    int n = run->current;
    if (auto it = x.request.query.find("n"); it != x.request.query.end() && !it->second.empty()) {
        if (!wholeNumber(it->second, n) || runs_->outline(run->key.test).indexOf(n) < 0) {
            x.response.status = 404;
            x.response.body = pages::notice(QStringLiteral("Нет такого вопроса"),
                                            QStringLiteral("В этом тесте нет вопроса с таким номером."));
            return;
        }
    }
    QString notice;
    int saved = 0;
    if (auto it = x.request.query.find("ok"); it != x.request.query.end() && wholeNumber(it->second, saved)) {
        const int i = runs_->outline(run->key.test).indexOf(saved);
        if (i >= 0 && run->answered[size_t(i)])
            notice = QStringLiteral("Ответ на вопрос № %1 сохранён.").arg(saved);
    }
    render(x, dev, *run, n, notice, false);
}

void TestServer::answer(Exchange& x, std::vector<services::PendingChoice>& choices,
                        std::vector<Deferred>& deferred) {
    const Request& r = x.request;
    const std::string dev = deviceOf(r);
    Run* run = activeRun(x, dev, QStringLiteral(" Этот ответ не сохранён."));
    if (!run) return;
    int q = 0, o = 0;
    const services::TestOutline& outline = runs_->outline(run->key.test);
    auto qi = r.form.find("q");
    auto oi = r.form.find("o");
    if (qi == r.form.end() || oi == r.form.end() || !wholeNumber(qi->second, q) ||
        !wholeNumber(oi->second, o) || outline.indexOf(q) < 0 ||
        o >= outline.items[size_t(outline.indexOf(q))].options.size()) {
        x.response.status = 400;
        x.response.body = pages::notice(QStringLiteral("Ошибка"),
                                        QStringLiteral("Такого ответа нет. Ничего не сохранено."));
        return;
    }
    bool reused = false;
    if (!takeToken(r, dev, q, reused)) {
        x.response.status = 403;
        x.response.body = pages::notice(QStringLiteral("Страница устарела"),
                                        QStringLiteral("Ответ не сохранён: откройте вопрос заново."));
        return;
    }
    if (reused) {
        // A second click or a resent form: the first one counts, nothing is written again.
        if (r.script) return render(x, dev, *run, run->current, {}, false);
        return redirect(x, "/q?n=" + std::to_string(run->current));
    }
    if (aimedBefore(r)) {
        // The question's page had not been read when the click was made: the click belonged to
        // the page before it (a double click), and this question stays unanswered.
        return render(x, dev, *run, q,
                      QStringLiteral("Вопрос № %1 показан только что, ответ на него не сохранён. "
                                     "Прочитайте вопрос и выберите ответ.")
                          .arg(q),
                      true, 409);
    }
    choices.push_back({run->key, q, o, {}});
    deferred.push_back({&x, dev, choices.size() - 1});
}

void TestServer::answered(const Deferred& d, const services::PendingChoice& c) {
    const std::optional<DeviceId> dev = device(d.device);
    if (!dev || !dev->testee) return ended(*d.x, QStringLiteral("Введите код"), {}, 403);
    Run* run = &runFor(dev->session, dev->org, dev->testee);
    const services::TestOutline& o = runs_->outline(run->key.test);
    const int i = o.indexOf(c.question);
    if (!c.error.isEmpty()) {
        // The page shows what is stored, never the refused choice; the reason, which names files
        // and tables, goes to the log.
        logFailure(d.x->request, c.error);
        render(*d.x, d.device, *run, c.question, answerNotStored(), true, 503);
        return;
    }
    run->answered[size_t(i)] = true;
    run->last = QDateTime::currentDateTime();
    run->state = run->complete() ? RunState::Finished : RunState::Answering;
    const int next = size_t(i) + 1 < o.items.size() ? o.items[size_t(i) + 1].number : c.question;
    const QString notice = QStringLiteral("Ответ на вопрос № %1 сохранён.").arg(c.question);
    if (d.x->request.script) return render(*d.x, d.device, *run, next, notice, false);
    run->current = next;
    redirect(*d.x, "/q?n=" + std::to_string(next) + "&ok=" + std::to_string(c.question));
}

void TestServer::finish(Exchange& x) {
    const std::string dev = deviceOf(x.request);
    Run* run = activeRun(x, dev, {});
    if (!run) return;
    bool reused = false;
    if (!takeToken(x.request, dev, 0, reused)) {
        // A page of another tab or a made-up form: refused, and the run goes on.
        x.response.status = 403;
        x.response.body =
            pages::notice(QStringLiteral("Страница устарела"), QStringLiteral("Откройте вопрос заново."));
        return;
    }
    const services::Completeness c = runs_->check(run->key);
    if (!c.complete()) {
        x.response.body = pages::incomplete(issueToken(dev, 0), c.missing, c.last);
        return;
    }
    const std::vector<int> scores = runs_->score(run->key);
    const services::Session* session = sessionOf(run->session);
    const bool showScore = session && session->showScore;
    run->state = RunState::Scored;
    run->last = QDateTime::currentDateTime();
    if (const std::optional<DeviceId> d = device(dev)) sessions_->setOwner(d->session, d->org, d->testee, {});
    x.response.headers.emplace_back("Set-Cookie", clearCookie());
    x.response.headers.emplace_back("Clear-Site-Data", "\"cache\", \"cookies\", \"storage\"");
    std::vector<pages::ShownScore> shown;
    if (showScore) {
        const std::vector<QString> levels = runs_->levelNames(run->key.test, scores);
        for (size_t k = 0; k < scores.size(); ++k)
            shown.push_back({scores[k], levels[k]});
    }
    x.response.body = pages::thanks(runs_->outline(run->key.test).name, shown);
}

void TestServer::leave(Exchange& x) {
    // Nothing of the device is kept by any server: its cookie goes, and with it the device.
    x.response.headers.emplace_back("Set-Cookie", clearCookie());
    redirect(x, "/");
}

} // namespace web
