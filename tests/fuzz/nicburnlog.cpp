#include "tests/fuzz/nicburnlog.h"

#include <sys/stat.h>

#include <cstdlib>

#include "tests/fuzz/fuzzutil.h"
#include "nicupdate/fwlog.h"

const RunLog& freshNicburnLog() {
    static const RunLog log = [] {
        RunLog made;
        made.silent = true;
        initLogFile(made, (fuzzutil::privateDir() + "/").c_str());
        return made;
    }();
    struct stat st;
    if (stat(log.path, &st) != 0) fuzzutil::fail(__FILE__, __LINE__, "log is gone");
    if (st.st_size > 0) fuzzutil::writeFileOrDie(log.path, nullptr, 0);  // see writeFileOrDie
    return log;
}
