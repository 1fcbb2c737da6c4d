// Putting text into a shell command line as exactly one word, with nothing in it expanded.
// pkgstub and nicburn both quote through this.
#pragma once

#include <cstddef>

// Writes text as one shell word in single quotes ('\'' for each '). 0, or -1 with dst "" when
// it does not fit size.
int quoteForShell(char* dst, size_t size, const char* text);

// True when text is not empty and holds only ASCII letters, digits and "/._-": the shell reads
// such a text as one word and expands nothing in it (no blank, quote, '$', '`', '~', '*', ';',
// '<', '>', '|', '&', '=' ...), so it may stand in a command line unquoted.
bool isPlainShellWord(const char* text);

// text as it is when isPlainShellWord, else as quoteForShell writes it: a command line keeps its
// usual form for plain texts and stays one word for any other. 0, or -1 with dst "" when it
// does not fit size.
int shellWord(char* dst, size_t size, const char* text);
