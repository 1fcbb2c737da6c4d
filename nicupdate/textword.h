// Splitting a line into white-space separated words without copying it.
#pragma once

#include <cstddef>

// Finds word number index (0 is the first) of text; words are runs of characters other than
// white space (isspace). Returns true and sets *start and *len, or false when text has fewer
// words.
bool findWord(const char* text, int index, const char** start, size_t* len);
