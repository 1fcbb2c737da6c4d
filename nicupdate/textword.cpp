#include "nicupdate/textword.h"

#include <cctype>

#include "common/banned.h"

static bool isBlank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

bool findWord(const char* text, int index, const char** start, size_t* len) {
    const char* p = text;
    for (int i = 0;; ++i) {
        while (*p && isBlank(*p)) ++p;
        if (!*p) return false;
        const char* begin = p;
        while (*p && !isBlank(*p)) ++p;
        if (i == index) {
            *start = begin;
            *len = static_cast<size_t>(p - begin);
            return true;
        }
    }
}
