// Shared fixture of the nicburn unit tests: every test runs in a fresh temporary current
// directory with the log directory pointed inside it, and can capture standard output and
// write fake vendor utilities (small shell scripts).
#pragma once

#include <cctype>
#include <string>

#include <gtest/gtest.h>

#include "testutil.h"

// Redirects descriptor 1 (and stdio's stdout) into a file until stop().
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string stop();

private:
    int saved_ = -1;
    std::string path_;
    testutil::TempDir dir_;
};

class NicTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The log directory used by the test ("<tmp>/log/").
    std::string logDir() const { return tmp.path() + "/log/"; }
    // Contents of this run's log (szFwuplog).
    std::string logText() const;
    // The log without its 31-byte header.
    std::string logBody() const;
    // Writes an executable "#!/bin/sh" script named name in the current directory.
    void writeScript(const std::string& name, const std::string& body) const;
    // Starts a fresh log (initLogFile) in logDir().
    void freshLog() const;

    testutil::TempDir tmp;

private:
    std::string oldCwd_;
};

// Test name from a case's `what` text (letters and digits kept, everything else '_'), for
// INSTANTIATE_TEST_SUITE_P.
struct CaseName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P>& info) const {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    }
};

// The log header every new log starts with.
extern const std::string kLogHeader;
