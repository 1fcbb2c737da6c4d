#include "nicupdate/driver.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "nicupdate/devlist.h"
#include "nicupdate/crc.h"
#include "nicupdate/discovery.h"
#include "nicupdate/family.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/inventory.h"
#include "nicupdate/mgmt.h"
#include "nicupdate/runlock.h"
#include "nicupdate/update.h"
#include "nicupdate/workfiles.h"
#include "common/signals.h"
#include "common/banned.h"

const char* pVer = NICBURN_VERSION;

static const char c_szProgramName[] = "./nicburn";
// Options in the order they are compared, with the mode each selects.
struct OptionEntry {
    const char* text;
    NicburnMode mode;
};
static const OptionEntry c_options[] = {
    {"-s", MODE_SILENT}, {"-v", MODE_VERSIONS}, {"-?", MODE_USAGE}, {"-nomfw", MODE_NOMFW}, {"-crc", MODE_CRC},
};

NicburnMode processCmdLine(int argc, char** argv) {
    if (argc == 1) return MODE_UPDATE;
    if (argc != 2) return MODE_BAD_USAGE;
    for (const OptionEntry& option : c_options)
        if (strcasecmp(argv[1], option.text) == 0) return option.mode;
    return MODE_BAD_USAGE;
}

void displayUsage() {
    printf("Usage:\n\n");
    printf("   %s [OPTION]\n\n\n", c_szProgramName);
    printf("The options are:\n\n");
    printf("   -v     (Display currently installed firmware versions.)\n");
    printf("   -s     (Perform silent firmware update.)\n");
    printf("   -nomfw (Disable Management Firmware.)\n");
    printf("   -crc   (Perform CRC check.)\n");
    printf("   -?     (Display this usage information.)\n");
}

static const BuildFamily c_bothFamilies[] = {{&c_netXtreme, false}, {&c_netXtremeII, false}};
static const BuildFamily c_netXtremeOnly[] = {{&c_netXtreme, false}, {&c_netXtremeII, true}};
const NicburnBuild c_x86Build = {c_bothFamilies, sizeof(c_bothFamilies) / sizeof(c_bothFamilies[0])};
const NicburnBuild c_ppcBuild = {c_netXtremeOnly, sizeof(c_netXtremeOnly) / sizeof(c_netXtremeOnly[0])};

// Discovers each family of the build whose list is null, in order, until a signal is noted.
static void discoverFamilies(const RunContext& run, const NicburnBuild& build, std::vector<FamilyRun>& families,
                             int* refusedRows) {
    for (size_t i = 0; i < build.count && !pendingSignal(); ++i) {
        FamilyRun& f = families[i];
        if (build.families[i].leftOut)
            writetoLogf(run.log, true, "\nWarning. No Broadcom %s adapters found.\n", f.family->name);
        else
            f.list = getDevices(run, *f.family, f.toolPath, refusedRows);
    }
}

static bool anyAdapters(const std::vector<FamilyRun>& families) {
    for (const FamilyRun& f : families)
        if (f.list) return true;
    return false;
}

// The closing message naming the log (errors: the one of a run with errors) is true only once it
// is in the log itself: it goes there first, and is shown only when the log is still whole;
// otherwise its incomplete form is shown and logged with why the log misses part of the run.
// True when it said the log is incomplete.
static bool closeWithLog(const RunLog& log, bool errors) {
    char text[LOG_PATH_SIZE + 160];
    if (!log.incomplete) {
        if (errors)
            snprintf(text, sizeof(text),
                     "\n\nOne or more errors occurred during the firmware update process. See %s for more "
                     "information.\n",
                     log.path);
        else
            snprintf(text, sizeof(text), "\n\nUpdate complete. The firmware update log has been saved in %s.\n",
                     log.path);
        writetoLog(log, text, false);
        if (!log.incomplete) {
            if (!log.silent) fputs(text, stdout);
            return false;
        }
    }
    char loss[LOG_PATH_SIZE + 80];
    const char* why = logLossText(log, loss, sizeof(loss));
    if (errors)
        writetoLogf(log, true,
                    "\n\nOne or more errors occurred during the firmware update process, and the firmware update "
                    "log is incomplete: %s\n",
                    why);
    else
        writetoLogf(log, true, "\n\nUpdate complete, but the firmware update log is incomplete: %s\n", why);
    return true;
}

// The update run: table, updates of each family, rediscovery, table, closing message (*told
// says whether it called the log incomplete). Returns 1 when an update failed or a table row was
// refused, else 0; the lists hold the rediscovered adapters after it.
static int updateRun(const RunContext& run, const NicburnBuild& build, std::vector<FamilyRun>& families,
                     int refusedRows, bool* told) {
    int result = refusedRows > 0 ? 1 : 0;
    displayFwVersions(run.log, families.data(), families.size());
    perform_crc_check(run, families.data(), families.size());
    if (pendingSignal()) return result;
    for (FamilyRun& f : families) {
        if (!f.list || pendingSignal()) continue;
        if (!updateDevices(run, f.list, f.toolPath, f.family->name)) result = 1;
        releaseList(run, &f.list);
    }
    if (pendingSignal()) return result;
    discoverFamilies(run, build, families, &refusedRows);
    if (pendingSignal()) return result;
    displayFwVersions(run.log, families.data(), families.size());
    *told = closeWithLog(run.log, result != 0);
    return result;
}

// The line that ends an interrupted run, by what the mode may have changed.
static void reportInterrupt(const RunLog& log, NicburnMode mode, int sig) {
    if (mode == MODE_UPDATE || mode == MODE_SILENT)
        writetoLogf(log, true,
                    "\nUpdate interrupted by signal %d (%s): the components not yet updated were left unchanged.\n",
                    sig, runSignalName(sig));
    else if (mode == MODE_NOMFW)
        writetoLogf(log, true,
                    "\nManagement firmware disabling interrupted by signal %d (%s): the components not yet disabled "
                    "were left unchanged.\n",
                    sig, runSignalName(sig));
    else
        writetoLogf(log, true, "\nInterrupted by signal %d (%s): no firmware was changed.\n", sig, runSignalName(sig));
}

// Takes the one-update-per-host lock. False (after saying so) when another run holds it or the
// lock's folder or file is not the tool's own (a warning there would let any user switch the
// lock off); a system where no lock can be had at all is warned about and the run goes on.
// 0 when the run may go on, else its exit status: EXIT_BUSY while another run holds the lock, 1
// for a lock folder or file that is not the tool's own.
static int lockRun(const RunLog& log, const char* lockDir, int* lockFd) {
    int holder = 0;
    char why[320];
    int taken = takeRunLock(lockDir, lockFd, &holder, why, sizeof(why));
    if (taken == RUNLOCK_BUSY) {
        writetoLogf(log, true, "Error! Another firmware update is running (process %d).\n", holder);
        return EXIT_BUSY;
    }
    if (taken == RUNLOCK_REFUSED) {
        writetoLogf(log, true, "Error! Cannot take the firmware update lock: %s.\n", why);
        return 1;
    }
    if (taken == RUNLOCK_NONE)
        writetoLogf(log, true,
                    "\nWarning. Cannot take the firmware update lock (%s); another update could run at the "
                    "same time.\n",
                    why);
    return 0;
}

int runNicburn(int argc, char** argv, const NicburnBuild& build, const char* lockDir, const char* logDir,
               RunContext& run) {
    int result = 0;

    // The log comes first, so that every run leaves one, even "-?" and incorrect usage.
    run.log = RunLog();
    initLogFile(run.log, logDir);

    NicburnMode mode = processCmdLine(argc, argv);
    run.log.silent = mode == MODE_SILENT;
    if (mode == MODE_USAGE) {
        displayUsage();
        return 0;
    }
    writetoLogf(run.log, true, "ZAV Ethernet Firmware Update Tool, Version %s\n\n", pVer);
    if (mode == MODE_BAD_USAGE) {
        writetoLog(run.log, "Error! Incorrect usage of command line parameters.\n", true);
        return 1;
    }
    installInterruptHandlers();
    int lockFd = -1;
    if (int refused = lockRun(run.log, lockDir, &lockFd)) return refused;
    if (!createQuitFile(run.log)) {
        if (lockFd >= 0) close(lockFd);
        return 1;
    }

    // A refused table row is an adapter left alone: the run fails, whatever the mode.
    int refusedRows = 0;
    bool told = false;  // a closing message has said that the log is incomplete
    std::vector<FamilyRun> families(build.count);
    for (size_t i = 0; i < build.count; ++i) families[i] = FamilyRun{build.families[i].family, "", nullptr};
    discoverFamilies(run, build, families, &refusedRows);
    FamilyRun* all = families.data();
    if (pendingSignal()) {
        // reported below
    } else if (!anyAdapters(families)) {
        told = closeWithLog(run.log, true);
        result = refusedRows > 0 ? 1 : EXIT_NO_ADAPTERS;
    } else if (mode == MODE_VERSIONS) {
        displayFwVersions(run.log, all, families.size());
        if (refusedRows > 0) result = 1;
    } else if (mode == MODE_NOMFW) {
        if (!disableManagementFirmware(run, all, families.size()) || refusedRows > 0) result = 1;
    } else if (mode == MODE_CRC) {
        if (!perform_crc_check(run, all, families.size()) || refusedRows > 0) result = 1;
    } else {
        result = updateRun(run, build, families, refusedRows, &told);
    }
    int sig = pendingSignal();
    if (sig) {
        reportInterrupt(run.log, mode, sig);
        result = 128 + sig;
    }
    for (FamilyRun& f : families) releaseList(run, &f.list);
    deleteFile(run, c_szQuitFile);
    if (lockFd >= 0) close(lockFd);
    if (run.log.incomplete) {
        if (!told) {
            char loss[LOG_PATH_SIZE + 80];
            writetoLogf(run.log, true, "\nWarning. The firmware update log is incomplete: %s\n",
                        logLossText(run.log, loss, sizeof(loss)));
        }
        // A run that changed or checked firmware and lost part of its record is not a success;
        // -v only showed what is installed.
        if (result == 0 && mode != MODE_VERSIONS) result = 1;
    }
    return result;
}
