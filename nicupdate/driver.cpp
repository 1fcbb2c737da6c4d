#include "nicupdate/driver.h"

#include <strings.h>

#include <cstdio>

#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/inventory.h"

const char* pVer = "1.0.9";

static const char c_szProgramName[] = "./nicburn";
static const char c_szErrorsOccurred[] =
    "\n\nOne or more errors occurred during the firmware update process. See %s for more "
    "information.\n";

// Options in the order they are compared, with the mode each selects.
struct OptionEntry {
    const char* text;
    int mode;
};
static const OptionEntry c_options[] = {
    {"-s", MODE_SILENT}, {"-v", MODE_VERSIONS}, {"-?", MODE_USAGE},
    {"-nomfw", MODE_NOMFW}, {"-crc", MODE_CRC},
};

int processCmdLine(int argc, char** argv) {
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

// Writes a two-byte answer file ("<letter>\n"), replacing an existing one.
static bool createAnswerFile(const char* name) {
    FILE* f = fopen(name, "w");
    bool ok = f && fprintf(f, "%s\n", name) == 2;
    if (f && fclose(f) != 0) ok = false;
    if (!ok) writetoLogf(true, "Error! Cannot create temporary file \"%s\".\n", name);
    return ok;
}

bool createQuitFile() { return createAnswerFile("q"); }

bool create_yes_response_file() { return createAnswerFile("y"); }

DeviceHeadTail* discoverNetXtremeII(char* toolPath) { return getDevices("NetXtreme II", toolPath); }

DeviceHeadTail* skipNetXtremeII(char* toolPath) {
    (void)toolPath;
    writetoLog("\nWarning. No Broadcom NetXtreme II adapters found.\n", true);
    return nullptr;
}

int runNicburn(int argc, char** argv, SecondFamilyDiscovery discoverSecond) {
    int result = 0;
    char szMsg[512];
    char szFirstTool[TOOL_PATH_SIZE] = "";
    char szSecondTool[TOOL_PATH_SIZE] = "";

    initLogFile();

    int mode = processCmdLine(argc, argv);
    bSilent = mode == MODE_SILENT;
    if (mode == MODE_USAGE) {
        displayUsage();
        return 0;
    }
    snprintf(szMsg, sizeof(szMsg), "ZAV Ethernet Firmware Update Tool, Version %s\n\n", pVer);
    writetoLog(szMsg, true);
    if (mode == MODE_BAD_USAGE) {
        writetoLog("Error! Incorrect usage of command line parameters.\n", true);
        return 1;
    }
    if (!createQuitFile()) return 1;

    DeviceHeadTail* first = getDevices("NetXtreme", szFirstTool);
    DeviceHeadTail* second = discoverSecond(szSecondTool);
    if (!first && !second) {
        snprintf(szMsg, sizeof(szMsg), c_szErrorsOccurred, szFwuplog);
        writetoLog(szMsg, true);
        result = EXIT_NO_ADAPTERS;
    } else if (mode == MODE_VERSIONS) {
        displayFwVersions(first, second);
    }
    releaseList(&first);
    releaseList(&second);
    deleteFile("q");
    return result;
}
