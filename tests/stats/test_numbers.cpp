// The statistics windows' arithmetic: 6-byte real stores, the four-decimal text and the readings.
#include "stats/Numbers.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace stats;

namespace {
Real two(int e) {
    return std::ldexp(Real(1), e);
}
} // namespace

TEST(Numbers, StoreKeepsFortyBitsAndRoundsTiesToEven) {
    EXPECT_EQ(store(1 + two(-39)), 1 + two(-39));            // the last bit kept
    EXPECT_EQ(store(1 + two(-40)), Real(1));                 // a tie goes down to the even neighbour
    EXPECT_EQ(store(1 + 3 * two(-40)), 1 + two(-38));        // and up when the even one is above
    EXPECT_EQ(store(1 + two(-40) + two(-60)), 1 + two(-39)); // above the tie rounds up
    EXPECT_EQ(store(-(1 + 3 * two(-40))), -(1 + two(-38)));
    EXPECT_EQ(store(Real(12.5)), Real(12.5));
    // 0.1 is not kept to 64 bits but to 40: about 12 significant digits.
    const Real tenth = store(Real(1) / 10);
    EXPECT_NE(tenth, Real(1) / 10);
    EXPECT_LT(std::fabs(tenth - Real(1) / 10), two(-44));
    EXPECT_EQ(store(tenth), tenth);
}

TEST(Numbers, StoreRefusesWhatA6ByteRealCannotHold) {
    EXPECT_EQ(store(two(-128)), two(-128));
    EXPECT_EQ(store(two(-129)), Real(0));
    EXPECT_EQ(store(two(126) * (2 - two(-39))), two(126) * (2 - two(-39))); // about 1.7e38
    EXPECT_THROW(store(two(127)), NumberError);
    EXPECT_THROW(store(two(126) * (2 - two(-41))), NumberError); // rounds up past the largest
    EXPECT_THROW(store(INFINITY), NumberError);
    EXPECT_THROW(store(NAN), NumberError);
}

TEST(Numbers, FourDecimalsWithoutMinusZero) {
    EXPECT_EQ(fixed4(12.5), "12.5000");
    EXPECT_EQ(fixed4(Real(-1) / 3), "-0.3333");
    EXPECT_EQ(fixed4(1234567.0), "1234567.0000");
    EXPECT_EQ(fixed4(Real(2) / 3), "0.6667");
    EXPECT_EQ(fixed4(-0.0), "0.0000");
    EXPECT_EQ(fixed4(-0.00001), "0.0000");
    EXPECT_EQ(fixed4(-0.00006), "-0.0001");
    EXPECT_THROW(fixed4(NAN), NumberError);
}

TEST(Numbers, DegreesOfFreedomTakeTwoCharacters) {
    EXPECT_EQ(width2(1), " 1");
    EXPECT_EQ(width2(0), " 0");
    EXPECT_EQ(width2(-0.0), " 0");
    EXPECT_EQ(width2(12), "12");
    EXPECT_EQ(width2(100), "100");
    EXPECT_EQ(width2(-1), "-1");
}

TEST(Numbers, DecimalReading) {
    EXPECT_EQ(readDecimal("  12.5"), Real(12.5));
    EXPECT_EQ(readDecimal("12.5 "), Real(12.5));
    EXPECT_EQ(readDecimal("-0.3333"), Real(-3333) / 10000);
    EXPECT_EQ(readDecimal("+3"), Real(3));
    EXPECT_EQ(readDecimal("1e2"), Real(100));
    EXPECT_EQ(readDecimal("0"), Real(0));
    for (const char* bad : {"", "   ", "12,5", "abc", "1 2", "12a", "--1", "+-1", "inf", "nan", "1e", "."})
        EXPECT_FALSE(readDecimal(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(Numbers, WholeReading) {
    EXPECT_EQ(readWhole(" 13", 7), 13);
    EXPECT_EQ(readWhole("-3", 7), -3);
    EXPECT_EQ(readWhole("+4", 7), 4);
    EXPECT_EQ(readWhole("2147483647", 7), 2147483647);
    for (const char* bad : {"", "2.5", "abc", "1e2", "2147483648", "٣", "+-1", "-+1", "++1"})
        EXPECT_EQ(readWhole(QString::fromUtf8(bad), 7), 7) << bad;
    EXPECT_EQ(readWhole64("214748364800"), 214748364800LL);
    EXPECT_FALSE(readWhole64("99999999999999999999").has_value());
}
