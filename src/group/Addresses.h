#pragma once
#include <QHostAddress>
#include <QList>
#include <QStringList>

namespace group {

// A private local-network IPv4 address (10/8, 172.16/12, 192.168/16): where a class's phones
// and the school's computers reach this one.
bool isLocalNetwork(const QHostAddress& a);

// The IPv4 addresses to offer for listening, best first: local-network ones, then other routable
// ones, then 127.0.0.1 (always offered, for this computer alone). Link-local (169.254/16) and
// unspecified addresses reach no one and are left out; each address appears once.
QStringList listenAddresses(const QList<QHostAddress>& all);
// The same for this computer's network interfaces.
QStringList listenAddresses();

// The address testees type: "http://ADDR:PORT/".
QString addressUrl(const QString& address, quint16 port);

} // namespace group
