#include "tests/launcher/launcher_test.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

#include "launcher/sysident.h"

void LauncherTest::SetUp() {
    char cwd[PATH_MAX];
    savedCwd_ = getcwd(cwd, sizeof(cwd)) ? cwd : "/";
    const char* path = getenv("PATH");
    savedPath_ = path ? path : "/usr/bin:/bin";
    initContext(&ctx, tmp.path().c_str());
}

void LauncherTest::TearDown() {
    if (chdir(savedCwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << savedCwd_;
    setenv("PATH", savedPath_.c_str(), 1);
}

void LauncherTest::fakeProgram(const std::string& name, const std::string& body) {
    std::string bin = tmp.file("bin");
    mkdir(bin.c_str(), 0755);
    testutil::writeFile(bin + "/" + name, "#!/bin/sh\n" + body + "\n", 0755);
    if (!binOnPath_) setenv("PATH", (bin + ":" + savedPath_).c_str(), 1);
    binOnPath_ = true;
}

void LauncherTest::setSystem(const char* distro, int level, int update, const char* cpu, const char* kernel) {
    SystemFacts* sys = &ctx.system;
    ctx.distroKnown = distro != nullptr;
    ctx.processorKnown = cpu != nullptr;
    snprintf(sys->name, sizeof(sys->name), "%s", distro ? distro : c_distroName_UNKNOWN);
    sys->level = level;
    sys->update = update;
    snprintf(sys->processor, sizeof(sys->processor), "%s", cpu ? cpu : c_szCPU_UNKNOWN);
    snprintf(sys->kernel, sizeof(sys->kernel), "%s", kernel);
}

void LauncherTest::recordCommands(std::function<int(const std::string&)> answer) {
    commandsRun.clear();
    answer_ = std::move(answer);
    ctx.commands = CommandRunner{&LauncherTest::record, this};
}

int LauncherTest::record(void* self, CommandKind /*kind*/, const char* cmd) {
    auto* test = static_cast<LauncherTest*>(self);
    test->commandsRun.push_back(cmd);
    return test->answer_ ? test->answer_(cmd) : 0;
}
