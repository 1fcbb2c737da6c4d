#include "launcher/osclass.h"

#include <cstdio>
#include <cstring>

#include "launcher/console.h"
#include "launcher/decimal.h"
#include "launcher/sysident.h"

namespace {

// Copies the field at *p (up to a TAB or the end) into field and moves *p to its end.
// false when it would not fit OSCLASS_FIELD_SIZE.
bool takeField(const char** p, char* field) {
    size_t len = strcspn(*p, "\t");
    if (len >= OSCLASS_FIELD_SIZE) return false;
    memcpy(field, *p, len);
    field[len] = '\0';
    *p += len;
    return true;
}

bool fitsDistribution(const char* field) {
    const char* name = s_distroName ? s_distroName : c_distroName_UNKNOWN;
    if (strcmp(name, c_distroName_REDHAT) == 0) {
        if (!strstr(field, "RHEL")) return false;
        if (strstr(field, "RHEL3") && s_distroLevel != 3) return false;
        if (strstr(field, "RHEL4") && s_distroLevel != 4) return false;
        if (strstr(field, "RHEL5") && s_distroLevel != 5) return false;
        return true;
    }
    if (strcmp(name, c_distroName_NLD) == 0 || strcmp(name, c_distroName_SUSE) == 0) {
        if (!strstr(field, "SLES")) return false;
        if (strstr(field, "SLES9") && s_distroLevel != 9) return false;
        if (strstr(field, "SLES10") && s_distroLevel != 10) return false;
        return true;
    }
    return true;  // an unidentified distribution meets every requirement
}

bool fitsProcessor(const char* field) {
    const char* cpu = s_szCPU ? s_szCPU : c_szCPU_UNKNOWN;
    if (strstr(field, "x86") && !strstr(cpu, "86")) return false;
    if (strstr(field, "x64") && !strstr(cpu, "64")) return false;
    return true;
}

}  // namespace

const char* matchOsClass(const char* clause) {
    char field[OSCLASS_FIELD_SIZE];
    const char* p = clause;
    if (g_OpModeDEBUG) printf("++     os-class cfg clause:'%s'\n", clause);

    if (*p == '*') {
        ++p;
    } else {
        if (!takeField(&p, field)) return nullptr;
        if (g_OpModeDEBUG) printf("++     <verName><verRelease> = '%s'\n", field);
        if (!fitsDistribution(field)) return nullptr;
    }
    if (*p == '\t') ++p;

    if (!takeField(&p, field)) return nullptr;
    if (g_OpModeDEBUG) printf("++     <UP #> = '%s'\n", field);
    if (readDecimal(field) > s_updateLevel) return nullptr;
    if (*p == '\t') ++p;

    if (!takeField(&p, field)) return nullptr;
    if (g_OpModeDEBUG) printf("++     processor = '%s'\n", field);
    if (!fitsProcessor(field)) return nullptr;

    if (*p == '\t') ++p;
    if (*p == '\t') ++p;
    return p;
}
