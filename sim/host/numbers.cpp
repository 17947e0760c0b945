// Number and name parsing of board files and of tlmsimctl's command lines.
#include "simhost.h"

static char Upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 32) : c; }

bool SameText(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (Upper(*a) != Upper(*b)) return false;
    return *a == *b;
}

bool SameTextN(const char* a, const char* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (Upper(a[i]) != Upper(b[i])) return false;
        if (a[i] == 0) return true;
    }
    return true;
}

bool ParseInt64(const char* text, int64_t min, int64_t max, int64_t* value) {
    const char* p = text;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (*p == 0) return false;
    uint64_t v = 0;
    for (; *p; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            digit = *p - 'A' + 10;
        else
            return false;
        if (v > (UINT64_MAX - digit) / base) return false;
        v = v * base + digit;
    }
    if (v > (uint64_t)INT64_MAX + (negative ? 1 : 0)) return false;
    int64_t s = negative ? (int64_t)(0 - v) : (int64_t)v;
    if (s < min || s > max) return false;
    *value = s;
    return true;
}

bool ParseInt32(const char* text, int32_t min, int32_t max, int32_t* value) {
    int64_t v;
    if (!ParseInt64(text, min, max, &v)) return false;
    *value = (int32_t)v;
    return true;
}

bool ParseClockScale(const char* text, uint32_t* scale) {
    uint64_t thousandths = 0;
    int digits = 0, decimals = -1;
    for (const char* p = text; *p != 0; ++p) {
        if (*p == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (*p < '0' || *p > '9' || decimals == 3) return false;  // finer than a thousandth: refused
        thousandths = thousandths * 10 + (uint64_t)(*p - '0');
        if (thousandths > TLMSIM_SCALE_MAX * 1000ull) return false;
        ++digits;
        if (decimals >= 0) ++decimals;
    }
    if (digits == 0) return false;
    for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d) thousandths *= 10;
    if (thousandths < TLMSIM_SCALE_MIN || thousandths > TLMSIM_SCALE_MAX) return false;
    *scale = (uint32_t)thousandths;
    return true;
}

bool ParseClockSetting(const char* text, uint32_t* op, uint32_t* scale) {
    *scale = TLMSIM_SCALE_ONE;
    if (SameText(text, "real")) return *op = TLMSIM_CLOCK_RUN, true;
    if (SameText(text, "virtual")) return *op = TLMSIM_CLOCK_VIRTUAL, true;
    *op = TLMSIM_CLOCK_SCALE;
    return (text[0] == 'x' || text[0] == 'X') && ParseClockScale(text + 1, scale);
}
