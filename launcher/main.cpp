// pkgstub: runs the package appended to its own executable file.
#include <cstdlib>

#include "launcher/context.h"
#include "launcher/driver.h"
#include "launcher/os/paths.h"
#include "common/banned.h"

int main(int argc, char** argv) {
    // Before anything is written there: the uname capture files go there too.
    static LauncherContext ctx;
    initContext(&ctx, chooseTempDir(getenv("TMPDIR")));
    return launcherMain(&ctx, argc, argv);
}
