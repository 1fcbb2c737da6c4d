// Decimal numbers in outside text (debug level, clause count, update and release levels).
#pragma once

#include <cstddef>

// Reads a number as atoi does: leading white space, an optional sign, then decimal digits up
// to the first other character; 0 without digits. Looks at no more than len bytes and stops at
// a NUL. Values beyond the range of int are clamped to it.
int readDecimal(const char* text, size_t len);
int readDecimal(const char* text);
