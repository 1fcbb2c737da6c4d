#include "pkgformat/startcmd.h"

#include <cstdio>
#include <cstring>

#include "common/banned.h"

const ArgsControlWord c_argsControlWords[4] = {
    {"append", ARGS_APPEND},
    {"prepend", ARGS_PREPEND},
    {"override", ARGS_OVERRIDE},
    {"discard", ARGS_DISCARD},
};

int copyCommandLength(const char* src, const char* dst) { return snprintf(nullptr, 0, c_copyFileFormat, src, dst); }

namespace {

const ArgsControlWord* findArgsControlWord(const char* argsControl) {
    for (const ArgsControlWord& w : c_argsControlWords)
        if (strncmp(argsControl, w.word, strlen(w.word)) == 0) return &w;
    return nullptr;
}

// Appends " piece" at out + *used; false when it would not fit.
bool appendPiece(char* out, size_t outSize, size_t* used, const char* piece) {
    size_t len = strlen(piece);
    if (*used + 1 + len >= outSize) return false;
    out[(*used)++] = ' ';
    memcpy(out + *used, piece, len + 1);
    *used += len;
    return true;
}

}  // namespace

bool knownArgsControl(const char* argsControl) { return findArgsControlWord(argsControl) != nullptr; }

ArgsMode decideArgsMode(const char* argsControl) {
    const ArgsControlWord* w = findArgsControlWord(argsControl);
    return w ? w->mode : ARGS_APPEND;
}

int composeStartupCmd(char* out, size_t outSize, const char* startupCmd, const char* defaultArgs, ArgsMode mode,
                      int argc, char** argv) {
    if (outSize == 0) return -1;
    size_t used = strlen(startupCmd);
    bool ok = used < outSize;
    if (ok) memcpy(out, startupCmd, used + 1);

    bool withDefaults = (mode == ARGS_APPEND || mode == ARGS_DISCARD) && defaultArgs[0] != '\0';
    bool withUserArgs = mode != ARGS_DISCARD;
    if (ok && withDefaults) ok = appendPiece(out, outSize, &used, defaultArgs);
    for (int i = 1; ok && withUserArgs && i < argc; ++i) ok = appendPiece(out, outSize, &used, argv[i]);
    if (!ok) {
        out[0] = '\0';
        return -1;
    }
    return 0;
}
