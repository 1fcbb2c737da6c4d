// Fuzz target: a device id text as the vendor utility lists it, turned into a chip name.
#include <cstring>
#include <memory>

#include "tests/fuzz/fuzzutil.h"
#include "nicupdate/devlist.h"
#include "nicupdate/inventory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> devId(new char[size + 1]);
    memcpy(devId.get(), data, size);
    devId[size] = '\0';
    std::unique_ptr<char[]> name(new char[CHIPNAME_SIZE]);
    convertDIDtoName(devId.get(), name.get());

    // One of the table's names, or "unknown".
    static const char* const names[] = {"5752",  "5709", "5709s", "5700",  "5704",  "5706",   "5708",
                                        "57710", "5721", "5722",  "5714s", "5780",  "5780s",  "5715",
                                        "5715s", "5702", "5704s", "5706s", "5708s", "unknown"};
    bool known = false;
    for (const char* n : names) known = known || strcmp(n, name.get()) == 0;
    FUZZ_CHECK(known);
    return 0;
}
