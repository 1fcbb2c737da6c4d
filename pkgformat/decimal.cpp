#include "pkgformat/decimal.h"

#include <climits>
#include <cstdint>

#include "common/banned.h"

int readDecimal(const char* text, size_t len) {
    size_t i = 0;
    auto at = [&](size_t k) { return k < len ? text[k] : '\0'; };
    while (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r')) ++i;
    bool negative = false;
    if (at(i) == '+' || at(i) == '-') {
        negative = at(i) == '-';
        ++i;
    }
    long long value = 0;
    for (; at(i) >= '0' && at(i) <= '9'; ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (at(i) - '0');
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

int readDecimal(const char* text) { return readDecimal(text, SIZE_MAX); }
