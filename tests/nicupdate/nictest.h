// Shared fixture of the nicburn unit tests: each test runs in a fresh temporary current
// directory with the log directory inside it, can capture standard output, write fake
// vendor utilities (shell scripts) and record the command lines the tool runs.
#pragma once

#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "nicupdate/commands.h"
#include "tests/support/testutil.h"

struct DeviceHeadTail;

// Redirects descriptor 1 (and stdio's stdout) into a file until stop().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture() { stop(); }
    std::string stop();

private:
    int saved_ = -1;
    testutil::TempDir dir_;
};

// A CommandRunner that records each command line, then runs it with runCommand.
struct CommandLog {
    std::vector<std::string> lines;
    CommandRunner runner() { return CommandRunner{record, this}; }
    static int record(void* self, const char* cmd);
};

class NicTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string logDir() const { return tmp.path() + "/log/"; }
    // The test's log without its header (which it checks).
    std::string logBody() const;
    // An executable "#!/bin/sh" script in the current directory.
    void writeScript(const std::string& name, const std::string& body) const;
    void write(const std::string& name, const std::string& content) const {
        testutil::writeFile(tmp.file(name), content);
    }
    bool exists(const std::string& name) const { return testutil::pathExists(tmp.file(name)); }
    std::string read(const std::string& name) const { return testutil::readFile(tmp.file(name)); }
    // A fresh log (initLogFile into log) in dir, logDir() when empty.
    void freshLog(const std::string& dir = "");
    // The test's log with runner; shell() runs the commands for real.
    RunContext with(const CommandRunner& runner) const { return RunContext{log, runner}; }
    RunContext shell() const { return with(c_shellRunner); }
    // Appends an adapter; versions in table order BOOT IPMI ASF PXE UMP NCSI iSCSI ("NA" when
    // not given).
    void adapter(DeviceHeadTail* list, const char* devId, const char* mac, std::initializer_list<const char*> versions);

    testutil::TempDir tmp;
    RunLog log;  // what the code under test logs into; freshLog chooses the file

private:
    std::string oldCwd_;
};

// Test name from a case's `what` (letters and digits kept, the rest '_').
struct CaseName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P>& info) const {
        std::string name;
        for (const char* p = info.param.what; *p; ++p) name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    }
};

extern const std::string kLogHeader;
