#include "nicupdate/mgmt.h"

#include <cstdio>
#include <cstring>

#include "nicupdate/commands.h"
#include "nicupdate/family.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "common/banned.h"

static bool disableList(const RunContext& run, const FamilyRun& familyRun) {
    const Family& family = *familyRun.family;
    bool allDone = true;
    for (const Device* d = familyRun.list ? familyRun.list->head : nullptr; d; d = d->next) {
        for (size_t i = 0; i < family.mgmtCount; ++i) {
            if (pendingSignal()) return allDone;
            const MgmtEntry& entry = family.mgmt[i];
            const Component* c = componentOf(entry.field);
            if (!c || !c->mgmtOption || strcmp(d->*c->field, c_szNotPresent) == 0) continue;
            writetoLogf(run.log, true, "Disabling management firmware (%s) %s %s", c->mgmtName, c->mgmtFor, d->macAddr);
            writetoLog(run.log, "\n", false);
            fflush(stdout);
            int status = runCfgCmd(run, familyRun.toolPath, d->macAddr, c->mgmtOption, logOutputPath(run.log));
            if (status == CMD_INTERRUPTED) return allDone;
            if (status != 0) {
                fputs("\t---> failed\n", stdout);
                writetoLogf(run.log, false, " !!! Error disabling management firmware (%s) on device %s !!!\n\n",
                            entry.errorName ? entry.errorName : c->mgmtName, d->macAddr);
                allDone = false;
            } else {
                writetoLogf(run.log, false, "*** Successfully disabled management firmware (%s) on device %s ***\n\n",
                            c->mgmtName, d->macAddr);
                fputs("\t---> successful\n", stdout);
            }
        }
    }
    return allDone;
}

bool disableManagementFirmware(const RunContext& run, const FamilyRun* families, size_t count) {
    bool allDone = true;
    for (size_t i = 0; i < count; ++i)
        if (!disableList(run, families[i])) allDone = false;
    return allDone;
}
