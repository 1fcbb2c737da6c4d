// pkgstub: runs the package appended to its own executable file.
#include "launcher/driver.h"

int main(int argc, char** argv) { return launcherMain(argc, argv); }
