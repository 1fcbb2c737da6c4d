#include "nicupdate/driver.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>

#include "nicupdate/devlist.h"
#include "nicupdate/discovery.h"
#include "nicupdate/files.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/interrupt.h"
#include "nicupdate/inventory.h"
#include "nicupdate/mgmt.h"
#include "nicupdate/runlock.h"
#include "nicupdate/update.h"
#include "common/signals.h"
#include "common/banned.h"

const char* pVer = NICBURN_VERSION;

static const char c_szProgramName[] = "./nicburn";
static const char c_szErrorsOccurred[] =
    "\n\nOne or more errors occurred during the firmware update process. See %s for more "
    "information.\n";
static const char c_szUpdateComplete[] = "\n\nUpdate complete. The firmware update log has been saved in %s.\n";
// The same closings, and the warning of the other modes, when the log misses part of the run;
// %s is logLossText.
static const char c_szErrorsIncomplete[] =
    "\n\nOne or more errors occurred during the firmware update process, and the firmware update log "
    "is incomplete: %s\n";
static const char c_szCompleteIncomplete[] = "\n\nUpdate complete, but the firmware update log is incomplete: %s\n";
static const char c_szLogIncomplete[] = "\nWarning. The firmware update log is incomplete: %s\n";

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

DeviceHeadTail* discoverNetXtremeII(const RunContext& run, char* toolPath, int* refusedRows) {
    return getDevices(run, "NetXtreme II", toolPath, refusedRows);
}

DeviceHeadTail* skipNetXtremeII(const RunContext& run, char* toolPath, int* refusedRows) {
    (void)toolPath;
    (void)refusedRows;
    writetoLog(run.log, "\nWarning. No Broadcom NetXtreme II adapters found.\n", true);
    return nullptr;
}

// A closing message naming the log (savedFormat, one %s for its path) is true only once it is in
// the log itself: it goes there first, and is shown only when the log is still whole; otherwise
// incompleteFormat is shown and logged with why the log misses part of the run. True when it
// said the log is incomplete.
static bool closeWithLog(const RunLog& log, const char* savedFormat, const char* incompleteFormat) {
    char text[LOG_PATH_SIZE + 160];
    if (!log.incomplete) {
        snprintf(text, sizeof(text), savedFormat, log.path);
        writetoLog(log, text, false);
        if (!log.incomplete) {
            if (!log.silent) fputs(text, stdout);
            return false;
        }
    }
    char loss[LOG_PATH_SIZE + 80];
    writetoLogf(log, true, incompleteFormat, logLossText(log, loss, sizeof(loss)));
    return true;
}

// The update run: table, updates of each family, rediscovery, table, closing message (*told
// says whether it called the log incomplete). Returns 1 when an update failed or a table row was
// refused, else 0; the lists hold the rediscovered adapters after it.
static int updateRun(const RunContext& run, DeviceHeadTail** first, DeviceHeadTail** second, char* firstTool,
                     char* secondTool, SecondFamilyDiscovery discoverSecond, int refusedRows, bool* told) {
    int result = refusedRows > 0 ? 1 : 0;
    displayFwVersions(run.log, *first, *second);
    perform_crc_check(run, *first, *second, firstTool, secondTool);
    if (pendingSignal()) return result;
    if (*first) {
        if (!updateDevices(run, *first, firstTool, "NetXtreme")) result = 1;
        releaseList(run, first);
    }
    if (*second && !pendingSignal()) {
        if (!updateDevices(run, *second, secondTool, "NetXtreme II")) result = 1;
        releaseList(run, second);
    }
    if (pendingSignal()) return result;
    *first = getDevices(run, "NetXtreme", firstTool, &refusedRows);
    *second = pendingSignal() ? nullptr : discoverSecond(run, secondTool, &refusedRows);
    if (pendingSignal()) return result;
    displayFwVersions(run.log, *first, *second);
    if (result == 0)
        *told = closeWithLog(run.log, c_szUpdateComplete, c_szCompleteIncomplete);
    else
        *told = closeWithLog(run.log, c_szErrorsOccurred, c_szErrorsIncomplete);
    return result;
}

// The line that ends an interrupted run, by what the mode may have changed.
static void reportInterrupt(const RunLog& log, NicburnMode mode, int sig) {
    const char* what = "\nInterrupted by signal %d (%s): no firmware was changed.\n";
    if (mode == MODE_UPDATE || mode == MODE_SILENT)
        what = "\nUpdate interrupted by signal %d (%s): the components not yet updated were left unchanged.\n";
    else if (mode == MODE_NOMFW)
        what =
            "\nManagement firmware disabling interrupted by signal %d (%s): the components not yet disabled "
            "were left unchanged.\n";
    writetoLogf(log, true, what, sig, runSignalName(sig));
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

int runNicburn(int argc, char** argv, SecondFamilyDiscovery discoverSecond, const char* lockDir, const char* logDir,
               RunContext& run) {
    int result = 0;
    char szFirstTool[TOOL_PATH_SIZE] = "";
    char szSecondTool[TOOL_PATH_SIZE] = "";

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
    DeviceHeadTail* first = getDevices(run, "NetXtreme", szFirstTool, &refusedRows);
    DeviceHeadTail* second = pendingSignal() ? nullptr : discoverSecond(run, szSecondTool, &refusedRows);
    if (pendingSignal()) {
        // reported below
    } else if (!first && !second) {
        told = closeWithLog(run.log, c_szErrorsOccurred, c_szErrorsIncomplete);
        result = refusedRows > 0 ? 1 : EXIT_NO_ADAPTERS;
    } else if (mode == MODE_VERSIONS) {
        displayFwVersions(run.log, first, second);
        if (refusedRows > 0) result = 1;
    } else if (mode == MODE_NOMFW) {
        if (!disableManagementFirmware(run, first, second, szFirstTool, szSecondTool) || refusedRows > 0) result = 1;
    } else if (mode == MODE_CRC) {
        if (!perform_crc_check(run, first, second, szFirstTool, szSecondTool) || refusedRows > 0) result = 1;
    } else {
        result = updateRun(run, &first, &second, szFirstTool, szSecondTool, discoverSecond, refusedRows, &told);
    }
    int sig = pendingSignal();
    if (sig) {
        reportInterrupt(run.log, mode, sig);
        result = 128 + sig;
    }
    releaseList(run, &first);
    releaseList(run, &second);
    deleteFile(run, "q");
    if (lockFd >= 0) close(lockFd);
    if (run.log.incomplete) {
        if (!told) {
            char loss[LOG_PATH_SIZE + 80];
            writetoLogf(run.log, true, c_szLogIncomplete, logLossText(run.log, loss, sizeof(loss)));
        }
        // A run that changed or checked firmware and lost part of its record is not a success;
        // -v only showed what is installed.
        if (result == 0 && mode != MODE_VERSIONS) result = 1;
    }
    return result;
}
