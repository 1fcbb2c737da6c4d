#include "tests/nicupdate/nictest.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"

const std::string kLogHeader = "Broadcom Firmware Update Log.\n\n";

StdoutCapture::StdoutCapture() {
    fflush(stdout);
    saved_ = dup(1);
    int fd = open(dir_.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
}

std::string StdoutCapture::stop() {
    if (saved_ >= 0) {
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
    }
    return testutil::readFile(dir_.file("out"));
}

void NicTest::SetUp() {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    oldCwd_ = cwd;
    ASSERT_EQ(chdir(tmp.path().c_str()), 0);
}

void NicTest::TearDown() {
    if (chdir(oldCwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << oldCwd_;
}

std::string NicTest::logBody() const {
    std::string text = testutil::readFile(log.path);
    EXPECT_EQ(text.substr(0, kLogHeader.size()), kLogHeader);
    return text.size() < kLogHeader.size() ? "" : text.substr(kLogHeader.size());
}

void NicTest::writeScript(const std::string& name, const std::string& body) const {
    testutil::writeFile(tmp.file(name), "#!/bin/sh\n" + body, 0755);
}

int CommandLog::record(void* self, const char* cmd) {
    static_cast<CommandLog*>(self)->lines.push_back(cmd);
    return runCommand(cmd);
}

void NicTest::freshLog(const std::string& dir) {
    StdoutCapture quiet;
    initLogFile(log, dir.empty() ? logDir().c_str() : dir.c_str());
    EXPECT_EQ(quiet.stop(), "");
}

void NicTest::adapter(DeviceHeadTail* list, const char* devId, const char* mac,
                      std::initializer_list<const char*> versions) {
    ASSERT_TRUE(addDevicetoList(log, list, devId, mac));
    Device* d = list->tail;
    const VersionField fields[] = {&Device::bootVer, &Device::ipmiVer, &Device::asfVer,  &Device::pxeVer,
                                   &Device::umpVer,  &Device::ncsiVer, &Device::iscsiVer};
    auto v = versions.begin();
    for (VersionField f : fields) snprintf(d->*f, VERSION_SIZE, "%s", v != versions.end() ? *v++ : "NA");
}
