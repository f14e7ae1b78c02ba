#include "PgNotify.h"

#include "PgConnection.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <libpq-fe.h>
#include <map>
#include <memory>

namespace pg {

namespace {

struct Watch {
    QString url, table;
    QPointer<QObject> context;
    std::function<void()> fn;
};

// One listening connection of a database, living on the thread that first watched it.
class Listener : public QObject {
public:
    explicit Listener(QString url) : url_(std::move(url)) { open(); }

    void tell(const QSet<QString>* tables); // null: every watcher

private:
    void open();
    void readable();
    void broken();

    QString url_;
    std::unique_ptr<Connection> conn_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int retryMs_ = 1000;
};

std::map<int, Watch>& watches() {
    static std::map<int, Watch> map;
    return map;
}
QHash<QString, Listener*>& listeners() {
    static QHash<QString, Listener*> map;
    return map;
}

void Listener::open() {
    try {
        conn_ = std::make_unique<Connection>(url_);
        conn_->exec(QStringLiteral("LISTEN %1").arg(QLatin1String(kChangesChannel)));
    } catch (const db::DatabaseError&) {
        conn_.reset();
        broken();
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(PQsocket(conn_->handle()), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readable(); });
    if (retryMs_ > 1000) tell(nullptr); // made again: what happened meanwhile is unknown
    retryMs_ = 1000;
}

void Listener::broken() {
    notifier_.reset();
    conn_.reset();
    // Tried again later, each time waiting longer, up to half a minute.
    QTimer::singleShot(retryMs_, this, [this] { open(); });
    retryMs_ = std::min(retryMs_ * 2, 30000);
}

void Listener::readable() {
    pg_conn* c = conn_->handle();
    if (!PQconsumeInput(c) || PQstatus(c) != CONNECTION_OK) {
        retryMs_ = std::max(retryMs_, 2000); // the watchers hear of it once it is back
        broken();
        return;
    }
    QSet<QString> tables;
    while (PGnotify* n = PQnotifies(c)) {
        if (!Connection::ownBackend(n->be_pid)) tables.insert(QString::fromUtf8(n->extra));
        PQfreemem(n);
    }
    if (!tables.isEmpty()) tell(&tables);
}

void Listener::tell(const QSet<QString>* tables) {
    for (const auto& [id, w] : watches()) {
        if (w.url != url_ || !w.context || (tables && !tables->contains(w.table))) continue;
        QMetaObject::invokeMethod(w.context.data(), w.fn, Qt::QueuedConnection);
    }
}

int nextId = 0;

} // namespace

int watchTable(const QString& url, const QString& table, QObject* context, std::function<void()> fn) {
    const int id = ++nextId;
    watches()[id] = Watch{url, table.toLower(), context, std::move(fn)};
    if (!listeners().contains(url)) listeners().insert(url, new Listener(url));
    return id;
}

void unwatch(int id) {
    const auto it = watches().find(id);
    if (it == watches().end()) return;
    const QString url = it->second.url;
    watches().erase(it);
    // The listening connection goes with the last watch of its database.
    for (const auto& [other, w] : watches())
        if (w.url == url) return;
    delete listeners().take(url);
}

} // namespace pg
