#include "tests/fuzz/nicburnlog.h"

#include <sys/stat.h>

#include <cstdlib>

#include "tests/fuzz/fuzzutil.h"
#include "nicupdate/fwlog.h"

void freshNicburnLog() {
    static const bool ready = [] {
        bSilent = true;
        initLogFile((fuzzutil::privateDir() + "/").c_str());
        return true;
    }();
    (void)ready;
    struct stat st;
    if (stat(szFwuplog, &st) != 0) fuzzutil::fail(__FILE__, __LINE__, "log is gone");
    if (st.st_size > 0) fuzzutil::writeFileOrDie(szFwuplog, nullptr, 0);  // see writeFileOrDie
}
