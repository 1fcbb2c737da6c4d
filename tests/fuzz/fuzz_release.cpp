// Fuzz target: the system identification's text handling: a release file's text trimmed and
// its release and update levels read (both layouts, both distributions), the kernel text, and
// the description line into buffers of small sizes.
// Input: byte 0 chooses the release file (even: /etc/redhat-release and the key "release ",
// odd: /etc/SuSE-release and "VERSION = "); byte 1 the size of the description buffer
// (0 to 95); the rest is the file's text, also used (cut to 127 bytes) as "uname -r" output.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tests/fuzz/fuzzutil.h"
#include "launcher/sysident.h"

namespace {

// Release texts are read into a 2048-byte buffer, at most 2047 bytes of the file.
const size_t c_releaseTextMax = 2047;

// Trims a copy of data[0..n) into a buffer of exactly n + 1 bytes and checks the result: a
// prefix of the text, without trailing bytes of signed value 32 or less.
std::unique_ptr<char[]> trimmedCopy(const uint8_t* data, size_t n) {
    std::unique_ptr<char[]> text(new char[n + 1]);
    memcpy(text.get(), data, n);
    text[n] = '\0';
    size_t before = strlen(text.get());
    trimTrailingSpaces(text.get());
    size_t after = strlen(text.get());
    FUZZ_CHECK(after <= before);
    FUZZ_CHECK(after == 0 || static_cast<signed char>(text[after - 1]) > 32);
    FUZZ_CHECK(memcmp(text.get(), data, after) == 0);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    bool suse = data[0] & 1;
    int descSize = data[1] % 96;
    data += 2;
    size -= 2;

    static LauncherContext ctx;
    initContext(&ctx, "/tmp");
    SystemFacts* sys = &ctx.system;
    std::unique_ptr<char[]> text = trimmedCopy(data, std::min(size, c_releaseTextMax));
    if (suse) {
        snprintf(sys->name, sizeof(sys->name), "%s",
                 strncmp(text.get(), "Novell", 6) == 0 ? c_distroName_NLD : c_distroName_SUSE);
        getDistroLevel(sys, text.get(), "VERSION = ");
    } else {
        snprintf(sys->name, sizeof(sys->name), "%s", c_distroName_REDHAT);
        getDistroLevel(sys, text.get(), "release ");
    }
    FUZZ_CHECK(sys->level >= 0 && sys->update >= 0);
    getUpdateLevel(sys, text.get(), "Update ");
    FUZZ_CHECK(sys->update >= 0);

    std::unique_ptr<char[]> kernel = trimmedCopy(data, std::min<size_t>(size, KERNEL_LEVEL_SIZE - 1));
    snprintf(sys->kernel, sizeof(sys->kernel), "%s", kernel[0] ? kernel.get() : "Unknown");
    snprintf(sys->processor, sizeof(sys->processor), "%s", c_szCPU_X86_64);

    char full[512];
    getOsInfoDesc(&ctx, full, sizeof(full));
    // A buffer of exactly descSize bytes (one byte when the size is 0, which must stay untouched).
    std::unique_ptr<char[]> desc(new char[descSize > 0 ? descSize : 1]);
    desc[0] = 'x';
    FUZZ_CHECK(getOsInfoDesc(&ctx, desc.get(), descSize) == desc.get());
    if (descSize == 0) {
        FUZZ_CHECK(desc[0] == 'x');
    } else {
        size_t len = strlen(desc.get());
        FUZZ_CHECK(len < static_cast<size_t>(descSize));
        FUZZ_CHECK(strncmp(desc.get(), full, len) == 0);
    }
    return 0;
}
