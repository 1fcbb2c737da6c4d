// pkgstub: runs the package appended to its own executable file.
#include <cstdlib>

#include "launcher/context.h"
#include "launcher/driver.h"
#include "launcher/examine.h"
#include "launcher/os/paths.h"
#include "common/banned.h"

int main(int argc, char** argv) {
    // Before anything is written there: the uname capture files go there too.
    static LauncherContext ctx;
    warnIgnoredTempDir(getenv("TMPDIR"));
    initContext(&ctx, chooseTempDir(getenv("TMPDIR")));
    // ++check, ++list, ++info, ++extract: only as the first argument.
    if (argc > 1 && parseInspectOption(argv[1]) != INSPECT_NONE) return runInspection(&ctx, argc, argv);
    return launcherMain(&ctx, argc, argv);
}
