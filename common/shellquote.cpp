#include "common/shellquote.h"

#include <cstdio>

#include "common/banned.h"

int quoteForShell(char* dst, size_t size, const char* text) {
    size_t n = 0;
    auto put = [&](char c) {
        if (n + 1 >= size) return false;
        dst[n++] = c;
        return true;
    };
    bool ok = size > 0 && put('\'');
    for (const char* p = text; ok && *p; ++p) {
        if (*p == '\'')
            ok = put('\'') && put('\\') && put('\'') && put('\'');
        else
            ok = put(*p);
    }
    ok = ok && put('\'');
    if (!ok) {
        if (size > 0) dst[0] = '\0';
        return -1;
    }
    dst[n] = '\0';
    return 0;
}

// Spelled out rather than isalnum: the locale must not widen the set.
static bool isPlainChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
           c == '_' || c == '-';
}

bool isPlainShellWord(const char* text) {
    if (text[0] == '\0') return false;
    for (const char* p = text; *p; ++p)
        if (!isPlainChar(*p)) return false;
    return true;
}

int shellWord(char* dst, size_t size, const char* text) {
    if (!isPlainShellWord(text)) return quoteForShell(dst, size, text);
    int n = snprintf(dst, size, "%s", text);
    if (n >= 0 && static_cast<size_t>(n) < size) return 0;
    if (size > 0) dst[0] = '\0';
    return -1;
}
