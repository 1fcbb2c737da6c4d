// Firmware inventory: version and chip name rules, marker search and precedence.
#include "tests/nicupdate/nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/family.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/inventory.h"

namespace {

struct VersionCase {
    const char* what;
    const char* line;
    const char* version;
};

const VersionCase kVersions[] = {
    {"dash then v", "1  BootCode  BC  0x08003800  0x0000  5704-v3.29\n", "3.29"},
    {"blank before version", "3  UMP  1.1.9\n", "1.1.9"},
    {"blank after X", "NCSI_X 2.0.3\n", "2.0.3"},
    {"v before version", "PXE v8.3.11\n", "8.3.11"},
    {"plain version", " MBA 2.0.8b\r\n", "2.0.8b"},
    {"dash inside version", "BC1 5.2.0-beta\n", "beta"},
    {"trailing word wins", "BC1 4.4.1 extra\n", "extra"},
    {"tab after the cut", "ISCSI X\t3.1\n", "3.1"},
    {"trailing blank leaves no word", "BC1 4.4.1 \n", "unknown"},
    {"no cut character", "ASFIPMI\n", "unknown"},
    {"nothing after the cut", "PXE -\n", "unknown"},
    {"19 characters kept", "UMP 1234567890123456789\n", "1234567890123456789"},
    {"longer version cut to 19", "UMP 1.2.3.4.5.6.7.8.9.10.11\n", "1.2.3.4.5.6.7.8.9.1"},
};

class ParseForVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(ParseForVersion, CutsVersion) {
    char line[LINE_SIZE];
    snprintf(line, sizeof(line), "%s", GetParam().line);
    EXPECT_EQ(parseForVersion(line), 1);
    EXPECT_STREQ(line, GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseForVersion, ::testing::ValuesIn(kVersions), CaseName());

TEST(ConvertDIDtoName, Table) {
    const char* cases[][2] = {{"1600", "5752"},    {"163a", "5709s"},   {"164E", "57710"},   {"16AC", "5708s"},
                              {"16A7", "unknown"}, {"16C7", "unknown"}, {"1234", "unknown"}, {"16FF", "unknown"},
                              {"15FF", "unknown"}, {"zz", "unknown"},   {"1600zz", "5752"}};
    for (const auto& c : cases) {
        char name[CHIPNAME_SIZE] = "";
        convertDIDtoName(c[0], name);
        EXPECT_STREQ(name, c[1]) << c[0];
    }
}

TEST(ChipNameFromBootLine, SixthWordBeforeDash) {
    const char* cases[][2] = {
        {"1 BootCode BC 0x0 0x0 5704-v3.29 more\n", "5704"},
        {"1 BootCode BC 0x0 0x0 5703s-a-b\n", "5703s"},
        {"1 BootCode BC 0x0 0x0 v3.29\n", "table"},   // no dash
        {"1 BootCode BC 0x0 5704-v3.29\n", "table"},  // five words
        {"1 BootCode BC 0 0 1234567890123456789012345678-v1\n", "1234567890123456789012345678"},
        {"1 BootCode BC 0 0 12345678901234567890123456789-v1\n", "table"},  // 32 characters
    };
    for (const auto& c : cases) {
        char name[CHIPNAME_SIZE] = "table";
        chipNameFromBootLine(c[0], name);
        EXPECT_STREQ(name, c[1]) << c[0];
    }
}

// The fake utility's "dir" prints the file dir.<mac>.
class Inventory : public NicTest {
protected:
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        writeScript("lnxfwupg", "[ \"$2\" = dir ] && [ -f \"dir.$1\" ] && cat \"dir.$1\"\nexit 0\n");
    }
    // chip name and the seven versions found in listing
    std::vector<std::string> take(const Family& family, const char* devId, const char* mac,
                                  const std::string& listing) {
        write(std::string("dir.") + mac, listing);
        DeviceHeadTail one{nullptr, nullptr};
        addDevicetoList(log, &one, devId, mac);
        StdoutCapture capture;
        getFwVersions(shell(), &one, "./lnxfwupg", family);
        out = capture.stop();
        const Device* d = one.head;
        std::vector<std::string> v{d->chipName, d->bootVer, d->ipmiVer, d->asfVer,
                                   d->pxeVer,   d->umpVer,  d->ncsiVer, d->iscsiVer};
        emptyList(shell(), &one);
        return v;
    }
    std::string out;
};

using V = std::vector<std::string>;

TEST_F(Inventory, NetXtremeMarkers) {
    std::string listing =
        "1  BootCode   BC    0x08003800  0x0000  5721-v3.61\n"
        "2  ASFIPMI    IPMI  v6.2.1\n"
        "3  UMP        UMP   1.1.9\n"
        "4  BRCM ASF   ASF   v2.1\n"
        "5  PXE        MBA   v8.3.11\n"
        "6  NCSI_X     NCSI  2.0.3\n";
    EXPECT_EQ(take(c_netXtreme, "1659", "00AA", listing),
              (V{"5721", "3.61", "6.2.1", "2.1", "8.3.11", "1.1.9", "NA", "NA"}));
    EXPECT_EQ(out, "");
    EXPECT_EQ(take(c_netXtreme, "16A7", "00AA", "BootCode 3.1\n")[0], "unknown");
    EXPECT_EQ(take(c_netXtreme, "1648", "00AA", "PXE v8.3.11\nASFIPMI 1.0\n"),
              (V{"5704", "NA", "NA", "NA", "NA", "NA", "NA", "NA"}));
}

TEST_F(Inventory, NetXtremeIIMarkersAndPrecedence) {
    std::string listing =
        "BC1 4.4.1\n  IPMI 2.0\n  ipmi 1.0\n  MBA 3.0\n  mba 4.0\n  UMP 1.5\n  BRCM ASF v2.1\n  NCSI_X 2.0.3\n  ISCSI "
        "v3.1\n";
    EXPECT_EQ(take(c_netXtremeII, "163A", "00AA", listing),
              (V{"5709s", "4.4.1", "1.0", "NA", "4.0", "1.5", "2.0.3", "3.1"}));
    EXPECT_EQ(take(c_netXtremeII, "1639", "00AA", "BC1 4.4.1\n  IPMI 2.0\n  MBA 3.0\nUMP 1\n"),
              (V{"5709", "4.4.1", "2.0", "NA", "3.0", "NA", "NA", "NA"}));
    EXPECT_EQ(take(c_netXtremeII, "1639", "00AA", " ipmi 1.0\n"),
              (V{"5709", "NA", "NA", "NA", "NA", "NA", "NA", "NA"}));
}

TEST_F(Inventory, MarkerLineWithoutVersionIsPresentButUnknown) {
    EXPECT_EQ(take(c_netXtremeII, "1639", "00AA", "BC1\n ipmi \nNCSI_X\n"),
              (V{"5709", "unknown", "unknown", "NA", "NA", "NA", "unknown", "NA"}));
}

// Listing lines are searched in 254-character pieces: a marker across the border is missed.
TEST_F(Inventory, MarkerSplitAcrossPiecesIsNotFound) {
    EXPECT_EQ(take(c_netXtremeII, "1639", "00AA", std::string(252, 'x') + "BC1 4.4.1\n")[1], "NA");
    EXPECT_EQ(take(c_netXtremeII, "1639", "00AA", std::string(254, 'x') + "BC1 4.4.1\n")[1], "4.4.1");
}

TEST_F(Inventory, MissingListingIsReportedOncePerAdapter) {
    writeScript("lnxfwupg", "rm -f \"$1\"\n");
    EXPECT_EQ(take(c_netXtreme, "1648", "00AA", "")[1], "NA");
    EXPECT_EQ(out, "Error 9: Cannot access 00AA information file.\n");
    EXPECT_EQ(logBody(), out);
}

}  // namespace
