// pkgunzip: the unzip utility carried in packages; run by the launcher as "./miniunz image.zip"
// in its working directory. Silent on success; one line on standard error and exit 1 on a fault.
#include <csignal>
#include <cstdio>
#include <string>

#include "tools/pkgunzip/extract.h"
#include "common/banned.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: pkgunzip ARCHIVE.zip  (extracts every entry below the current folder)\n");
        return 2;
    }
    // A write past a file size limit then fails with EFBIG and is reported like a full disk.
    signal(SIGXFSZ, SIG_IGN);
    std::string error;
    if (!pkgunzip::extractAll(argv[1], &error)) {
        fprintf(stderr, "pkgunzip: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
