#include "web/Takeover.h"

#include "web/WebClient.h"

#include <gtest/gtest.h>

namespace {

void enter(WebClient& b, const std::string& code) {
    ASSERT_EQ(b.get("/").status, 200);
    const HttpReply confirm = b.post("/code", {{"t", b.token()}, {"kod", code}});
    ASSERT_EQ(confirm.status, 200) << confirm.body;
    ASSERT_EQ(b.post("/start", {{"t", b.token()}}).status, 303);
}

int answer(WebClient& b, int question, int option) {
    b.get("/q?n=" + std::to_string(question));
    return b
        .post("/answer", {{"t", b.token()}, {"q", std::to_string(question)}, {"o", std::to_string(option)}})
        .status;
}

} // namespace

void takeoverAndClose(uint16_t a, uint16_t b, const std::string& code, const std::function<int(int)>& stored,
                      const std::function<void()>& close) {
    WebClient first(a, false);
    first.alternate(b);
    enter(first, code);
    EXPECT_EQ(answer(first, 1, 1), 303);
    EXPECT_EQ(answer(first, 2, 2), 303);
    EXPECT_EQ(stored(1), 1);
    EXPECT_EQ(stored(2), 2);
    first.get("/q?n=3");
    const std::string oldPage = first.token(), oldCookie = first.cookies()["mv"];

    // The same code on another device takes over, through whichever server.
    WebClient second(b, false);
    second.alternate(a);
    enter(second, code);
    // Clicks choose another option than the one stored, so that a stored click shows.
    const auto other = [](int stored) { return std::to_string(stored == 1 ? 0 : 1); };
    const int before3 = stored(3);
    for (uint16_t port : {a, b}) {
        WebClient old(port, false);
        old.cookies()["mv"] = oldCookie;
        const HttpReply refused = old.post("/answer", {{"t", oldPage}, {"q", "3"}, {"o", other(before3)}});
        EXPECT_EQ(refused.status, 409) << "port " << port << ": " << refused.body;
    }
    EXPECT_EQ(stored(3), before3) << "the earlier device's click is not stored";
    EXPECT_EQ(answer(second, 3, 2), 303);
    EXPECT_EQ(stored(3), 2);

    // Both servers read the session as open a moment ago; the close counts at once.
    second.get("/q?n=4");
    const std::string page4 = second.token(), cookie = second.cookies()["mv"];
    const int before4 = stored(4);
    close();
    for (uint16_t port : {a, b}) {
        WebClient late(port, false);
        late.cookies()["mv"] = cookie;
        const HttpReply closed = late.post("/answer", {{"t", page4}, {"q", "4"}, {"o", other(before4)}});
        EXPECT_EQ(closed.status, 410) << "port " << port << ": " << closed.body;
    }
    EXPECT_EQ(stored(4), before4) << "no click is stored after the close returned";
}
