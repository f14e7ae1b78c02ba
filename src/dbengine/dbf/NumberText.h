#pragma once
#include <cstdint>
#include <cstring>

// Number texts of dBASE fields. Every scan parses them, so the common forms are parsed inline
// where the scan reads them.
namespace dbf::number {

inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

inline uint64_t load8(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Index of the first byte of w (in text order) that is not an ASCII digit; 8 when all are.
inline int digitRun(uint64_t w) {
    uint64_t notThree = (w & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull;
    uint64_t overNine = ((w & 0x0F0F0F0F0F0F0F0Full) + 0x0606060606060606ull) & 0x1010101010101010ull;
    uint64_t bad = notThree | overNine;
    return bad ? __builtin_ctzll(bad) >> 3 : 8;
}

// Value of the first k (0..8) digits of w, eight at a time.
inline uint64_t digitsValue(uint64_t w, int k) {
    if (k == 0) return 0;
    uint64_t v = w << (8 * (8 - k)); // the digits to the end, leading zeros before them
    v = (v & 0x0F0F0F0F0F0F0F0Full) * 2561 >> 8;
    v = (v & 0x00FF00FF00FF00FFull) * 6553601 >> 16;
    return (v & 0x0000FFFF0000FFFFull) * 42949672960001ull >> 32;
}

// The bytes of a field of at most 8 bytes that are not blanks, as set bytes of the 8 bytes that
// end at e (which must be readable); 0 for a blank field.
inline uint64_t nonBlanks(const char* p, const char* e) {
    return (load8(e - 8) ^ 0x2020202020202020ull) & (~0ull << (8 * (8 - (e - p))));
}

// Number text of at most 8 bytes without inner blanks, as nearly every stored value is.
// Reads the 8 bytes that end at e, so they must be readable. 1 = parsed, 0 = take the long way.
[[gnu::always_inline]] inline int parseShort(const char* p, const char* e, double& out) {
    int n = int(e - p);
    uint64_t w = load8(e - 8) >> (8 * (8 - n)); // the text in the low n bytes, zeros above
    char first = char(w);
    bool neg = first == '-';
    if (neg || first == '+') {
        w >>= 8;
        --n;
    }
    int k = digitRun(w); // the zeros above the text stop the run
    if (k == n) {
        if (k == 0) return 0;
        double v = double(digitsValue(w, k));
        out = neg ? -v : v;
        return 1;
    }
    char sep = char(w >> (8 * k));
    if (sep != '.' && sep != ',') return 0;
    int m = n - k - 1;
    if (k + m == 0) return 0;
    // A whole number in a float column ("12.0000"): no fraction to convert, no division.
    uint64_t fracBytes = k + 1 < 8 ? w >> (8 * (k + 1)) : 0;
    uint64_t fracMask = m ? ~0ull >> (64 - 8 * m) : 0;
    if (((fracBytes ^ 0x3030303030303030ull) & fracMask) == 0) {
        double v = double(digitsValue(w, k));
        out = neg ? -v : v;
        return 1;
    }
    // Drop the separator so the digits on both sides are one run, converted in one go.
    uint64_t before = k ? w & (~0ull >> (8 * (8 - k))) : 0;
    uint64_t joined = before | ((w >> 8) & (~0ull << (8 * k)));
    if (digitRun(joined) != k + m) return 0;
    double v = double(digitsValue(joined, k + m));
    if (m) v /= kPow10[m]; // exact operands, one rounding
    out = neg ? -v : v;
    return 1;
}

// A whole number of at most 8 bytes ("   123", "-5"), as whole-number columns hold: its value
// without a detour through floating point. False for anything else (blank too), which
// parseNumberAt takes. The 8 bytes before e must be readable.
[[gnu::always_inline]] inline bool parseShortWhole(const char* p, const char* e, int64_t& out) {
    if (p >= e || e - p > 8) return false;
    const uint64_t other = nonBlanks(p, e);
    if (!other) return false;
    const int skip = __builtin_ctzll(other) >> 3; // the first non-blank
    uint64_t t = load8(e - 8) >> (8 * skip);
    int n = 8 - skip;
    const bool neg = char(t) == '-';
    if (neg) {
        t >>= 8;
        --n;
    }
    if (n == 0 || digitRun(t) != n) return false;
    const auto v = int64_t(digitsValue(t, n));
    out = neg ? -v : v;
    return true;
}

// Texts the 8-byte path does not take: long digit strings, inner blanks, exponents. p is at
// the first non-blank.
bool parseNumberLong(const char* p, const char* e, double& out);

// Hot path of every scan and filter: right-aligned text such as "     12.5000".
// The 8 bytes before e must be readable: a field of a record always has the header before it.
[[gnu::always_inline]] inline bool parseNumberAt(const char* p, const char* e, double& out) {
    if (p == e) return false;
    if (e - p <= 8) {
        // The whole field lies in the 8 bytes before e: find its first non-blank at once.
        const uint64_t other = nonBlanks(p, e);
        if (!other) return false;
        p = e - 8 + (__builtin_ctzll(other) >> 3);
    } else {
        while (e - p >= 8) {
            uint64_t other = load8(p) ^ 0x2020202020202020ull; // nonzero bytes are not blanks
            if (other) {
                p += __builtin_ctzll(other) / 8;
                break;
            }
            p += 8;
        }
        while (p < e && *p == ' ')
            ++p;
        if (p == e) return false;
    }
    if (e - p <= 8 && parseShort(p, e, out)) return true;
    return parseNumberLong(p, e, out);
}

} // namespace dbf::number
