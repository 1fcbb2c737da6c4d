#include "nictest.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "nicupdate/fwlog.h"

const std::string kLogHeader = "Broadcom Firmware Update Log.\n\n";

StdoutCapture::StdoutCapture() {
    path_ = dir_.file("stdout");
    fflush(stdout);
    saved_ = dup(1);
    int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
}

StdoutCapture::~StdoutCapture() { stop(); }

std::string StdoutCapture::stop() {
    if (saved_ < 0) return testutil::readFile(path_);
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    saved_ = -1;
    return testutil::readFile(path_);
}

void NicTest::SetUp() {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    oldCwd_ = cwd;
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
    ASSERT_EQ(setLogDirectory(logDir().c_str()), 0);
    bSilent = false;
    snprintf(szFwuplog, sizeof(szFwuplog), "%s", "ethflash.log");
}

void NicTest::TearDown() {
    bSilent = false;
    setLogDirectory("/var/log/ZAV_Support/");
    snprintf(szFwuplog, sizeof(szFwuplog), "%s", "ethflash.log");
    if (chdir(oldCwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << oldCwd_;
}

std::string NicTest::logText() const { return testutil::readFile(szFwuplog); }

std::string NicTest::logBody() const {
    std::string text = logText();
    EXPECT_EQ(text.substr(0, kLogHeader.size()), kLogHeader);
    return text.size() < kLogHeader.size() ? "" : text.substr(kLogHeader.size());
}

void NicTest::writeScript(const std::string& name, const std::string& body) const {
    testutil::writeFile(tmp.file(name), "#!/bin/sh\n" + body, 0755);
}

void NicTest::freshLog() const {
    StdoutCapture quiet;
    initLogFile();
    EXPECT_EQ(quiet.stop(), "");
}
