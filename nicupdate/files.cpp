#include "nicupdate/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "nicupdate/commands.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/workfiles.h"
#include "common/banned.h"

bool fileExist(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

void deleteFile(const RunContext& run, const char* path) {
    if (!fileExist(path)) return;
    // Once a run is interrupted it starts no further process.
    if (pendingSignal()) {
        unlink(path);
        return;
    }
    if (runRemoveCmd(run, path) == CMD_INTERRUPTED) unlink(path);
}

// Writes a two-byte answer file ("<letter>\n"), replacing an existing one.
static bool createAnswerFile(const RunLog& log, const char* name) {
    FILE* f = fopen(name, "w");
    bool ok = f && fprintf(f, "%s\n", name) == 2;
    if (f && fclose(f) != 0) ok = false;
    if (!ok) writetoLogf(log, true, "Error! Cannot create temporary file \"%s\".\n", name);
    return ok;
}

bool createQuitFile(const RunLog& log) { return createAnswerFile(log, c_szQuitFile); }

bool create_yes_response_file(const RunLog& log) { return createAnswerFile(log, c_szYesFile); }
