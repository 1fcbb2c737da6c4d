#include "launcher_test.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "launcher/console.h"
#include "launcher/driver.h"
#include "launcher/os/paths.h"
#include "launcher/sysident.h"

void LauncherTest::SetUp() {
    char cwd[PATH_MAX];
    savedCwd_ = getcwd(cwd, sizeof(cwd)) ? cwd : "/";
    const char* path = getenv("PATH");
    savedPath_ = path ? path : "/usr/bin:/bin";
    savedTempDir_ = s_szTempDir;
    s_szTempDir = tmp.path().c_str();
    g_OpModeDEBUG = 0;
    wrkDir[0] = '\0';
    setSystem(nullptr, 0, 0, nullptr);
}

void LauncherTest::TearDown() {
    if (chdir(savedCwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << savedCwd_;
    setenv("PATH", savedPath_.c_str(), 1);
    s_szTempDir = savedTempDir_;
    g_OpModeDEBUG = 0;
    wrkDir[0] = '\0';
    setSystem(nullptr, 0, 0, nullptr);
}

void LauncherTest::fakeProgram(const std::string& name, const std::string& body) {
    std::string bin = tmp.file("bin");
    mkdir(bin.c_str(), 0755);
    testutil::writeFile(bin + "/" + name, "#!/bin/sh\n" + body + "\n", 0755);
    if (!binOnPath_) setenv("PATH", (bin + ":" + savedPath_).c_str(), 1);
    binOnPath_ = true;
}

void LauncherTest::setSystem(const char* distro, int level, int update, const char* cpu, const char* kernel) {
    s_distroName = distro;
    s_distroLevel = level;
    s_updateLevel = update;
    s_szCPU = cpu;
    snprintf(s_szKernelLevel, sizeof(s_szKernelLevel), "%s", kernel);
}
