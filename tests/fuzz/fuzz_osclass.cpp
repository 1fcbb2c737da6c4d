// Fuzz target: one per-os-class clause against a system chosen by the input's first bytes.
// Input: a facts header (sysfacts.h), then the clause text (it ends at the first 0x00, as the
// boot configuration reader hands it over).
#include <cstring>
#include <memory>

#include "tests/fuzz/fuzzutil.h"
#include "pkgformat/osclass.h"
#include "tests/fuzz/sysfacts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LauncherContext ctx;
    size_t used = takeSystemFacts(&ctx, data, size);
    data += used;
    size -= used;
    // Exactly the clause and its terminator: reading past it is caught.
    std::unique_ptr<char[]> clause(new char[size + 1]);
    memcpy(clause.get(), data, size);
    clause[size] = '\0';

    const char* file = matchOsClassFor(&ctx.system, clause.get(), nullptr, ctx.debug);
    if (file) FUZZ_CHECK(file >= clause.get() && file <= clause.get() + strlen(clause.get()));
    return 0;
}
