// The browser's cookie and page tokens, signed with the key the servers of one database share:
// any such server takes them, nothing changed in them or made elsewhere is taken.
#include "web/Devices.h"

#include <gtest/gtest.h>

using web::DeviceId;
using web::DeviceSigner;

TEST(DeviceSigner, ACookieNamesItsRunOnlyAsAServerOfTheDatabaseMadeIt) {
    const DeviceSigner one("key of the database"), two("key of the database"), other("another database");
    const DeviceId d{7, 2, 41, 1765000000000, web::randomHex(16)};
    const std::string cookie = one.cookie(d);
    const auto read = two.parse(cookie);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->session, 7);
    EXPECT_EQ(read->org, 2);
    EXPECT_EQ(read->testee, 41);
    EXPECT_EQ(read->created, 1765000000000);
    EXPECT_EQ(DeviceSigner::mark(*read), DeviceSigner::mark(d));
    EXPECT_FALSE(other.parse(cookie)) << "made for another database";

    // Another testee's run named in a cookie of one's own.
    std::string forged = cookie;
    forged.replace(forged.find(".41."), 4, ".42.");
    EXPECT_FALSE(one.parse(forged));
    for (const std::string& bad : {std::string(), std::string("7.2.41"), cookie + ".", cookie.substr(1),
                                   std::string("-7.2.41.1.") + d.secret + ".00"})
        EXPECT_FALSE(one.parse(bad)) << bad;
    // The mark stored for the device tells it from another, and does not give its secret away.
    DeviceId same = d;
    same.secret = web::randomHex(16);
    EXPECT_NE(DeviceSigner::mark(same), DeviceSigner::mark(d));
    EXPECT_EQ(DeviceSigner::mark(d).toStdString().find(d.secret), std::string::npos);
}

TEST(DeviceSigner, APageTokenHoldsForItsBrowserItsQuestionAndItsTime) {
    const DeviceSigner one("key"), two("key");
    const std::string cookie = one.cookie({1, 1, 5, 0, web::randomHex(16)});
    const std::string token = one.token(cookie, 3, 2000);
    EXPECT_TRUE(two.check(token, cookie, 3, 1000));
    EXPECT_TRUE(two.check(token, cookie, 0, 1000)) << "a form without a question takes any page's";
    EXPECT_FALSE(two.check(token, cookie, 4, 1000)) << "another question";
    EXPECT_FALSE(two.check(token, cookie, 3, 2001)) << "expired";
    EXPECT_FALSE(two.check(token, one.cookie({1, 1, 5, 0, web::randomHex(16)}), 3, 1000))
        << "another browser";
    EXPECT_FALSE(two.check(token, {}, 3, 1000));
    std::string later = token;
    later.replace(later.find(".2000."), 6, ".9000.");
    EXPECT_FALSE(two.check(later, cookie, 3, 1000)) << "its time made longer";
    EXPECT_FALSE(DeviceSigner("other").check(token, cookie, 3, 1000));
    EXPECT_NE(one.token(cookie, 3, 2000), token) << "each page its own";
    EXPECT_TRUE(one.check(one.token({}, 0, 2000), {}, 0, 1000)) << "the code entry's, before any cookie";
}
