#include "group/Addresses.h"

#include <QNetworkInterface>

namespace group {

bool isLocalNetwork(const QHostAddress& a) {
    if (a.protocol() != QAbstractSocket::IPv4Protocol) return false;
    const quint32 v = a.toIPv4Address();
    return (v >> 24) == 10 || (v >> 20) == ((172u << 4) | 1u) || (v >> 16) == ((192u << 8) | 168u);
}

QStringList listenAddresses(const QList<QHostAddress>& all) {
    QStringList local, other;
    for (const QHostAddress& a : all) {
        if (a.protocol() != QAbstractSocket::IPv4Protocol || a.isLoopback() || a.isNull() ||
            a == QHostAddress(QHostAddress::AnyIPv4) || a.isLinkLocal())
            continue;
        QStringList& to = isLocalNetwork(a) ? local : other;
        const QString text = a.toString();
        if (!local.contains(text) && !other.contains(text)) to << text;
    }
    return local + other + QStringList{QStringLiteral("127.0.0.1")};
}

QStringList listenAddresses() {
    // Only interfaces that are up: a switched-off wireless card's address reaches no one.
    QList<QHostAddress> all;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
        if (i.flags().testFlags(QNetworkInterface::IsUp | QNetworkInterface::IsRunning))
            for (const QNetworkAddressEntry& e : i.addressEntries())
                all << e.ip();
    return listenAddresses(all);
}

QString addressUrl(const QString& address, quint16 port) {
    return QStringLiteral("http://%1:%2/").arg(address).arg(port);
}

} // namespace group
