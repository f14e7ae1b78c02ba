// The listen addresses the group window offers.
#include "group/Addresses.h"

#include <gtest/gtest.h>

TEST(GroupAddresses, LocalNetworkFirstThenOthersAndLoopbackAlwaysLast) {
    const QList<QHostAddress> all = {
        QHostAddress(QStringLiteral("127.0.0.1")),    QHostAddress(QStringLiteral("203.0.113.7")),
        QHostAddress(QStringLiteral("169.254.10.1")), QHostAddress(QStringLiteral("192.168.1.10")),
        QHostAddress(QStringLiteral("fe80::1")),      QHostAddress(QStringLiteral("172.20.0.5")),
        QHostAddress(QStringLiteral("172.32.0.5")),   QHostAddress(QStringLiteral("10.0.0.2")),
        QHostAddress(QStringLiteral("192.168.1.10")), QHostAddress(QStringLiteral("0.0.0.0")),
        QHostAddress(QStringLiteral("192.169.0.1")),
    };
    // 172.32/16 and 192.169/16 lie just outside the private ranges; link-local, IPv6 and the
    // unspecified address reach no one; a second interface with the same address shows once.
    EXPECT_EQ(group::listenAddresses(all),
              (QStringList{"192.168.1.10", "172.20.0.5", "10.0.0.2", "203.0.113.7", "172.32.0.5",
                           "192.169.0.1", "127.0.0.1"}));
    EXPECT_EQ(group::listenAddresses(QList<QHostAddress>{}), QStringList{"127.0.0.1"});
    for (const char* edge : {"10.255.255.255", "172.16.0.0", "172.31.255.255", "192.168.0.0"})
        EXPECT_TRUE(group::isLocalNetwork(QHostAddress(QLatin1String(edge)))) << edge;
    for (const char* outside : {"11.0.0.1", "172.15.255.255", "172.32.0.0", "192.167.255.255", "8.8.8.8"})
        EXPECT_FALSE(group::isLocalNetwork(QHostAddress(QLatin1String(outside)))) << outside;
}
