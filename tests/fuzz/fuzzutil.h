// Shared by the fuzz targets: the private temporary directory every file goes into, and the
// check that turns a broken property into a crash the fuzzer reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzutil {

// The process's own directory, made with mkdtemp under $TMPDIR (or /tmp) on first use and
// removed with its contents when the process exits normally. A crash leaves it behind, so the
// fuzz runner points TMPDIR into the build tree.
const std::string& privateDir();

// privateDir() + "/" + name.
std::string pathIn(const char* name);

// Replaces path by a new file holding exactly data[0..size). Aborts when that fails: a target that
// cannot set up its input must not pass silently.
void writeFileOrDie(const std::string& path, const uint8_t* data, size_t size);

// The whole content of path; aborts when it cannot be read.
std::string readFileOrDie(const std::string& path);

// Reports a broken property and aborts, which the fuzzer records as a crash with its input.
[[noreturn]] void fail(const char* file, int line, const char* what);

}  // namespace fuzzutil

#define FUZZ_CHECK(cond)                                        \
    do {                                                        \
        if (!(cond)) fuzzutil::fail(__FILE__, __LINE__, #cond); \
    } while (0)
