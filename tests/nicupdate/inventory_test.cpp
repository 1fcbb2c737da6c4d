// Firmware inventory: marker search, version and chip name rules, and the version table.
#include <string>
#include <vector>

#include "nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"
#include "nicupdate/inventory.h"

using testutil::writeFile;

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
    {"plain version with letter", " MBA 2.0.8b\n", "2.0.8b"},
    {"dash inside version", "BC1 5.2.0-beta\n", "beta"},
    {"trailing word wins", "BC1 4.4.1 extra\n", "extra"},
    {"tab after the cut", "ISCSI X\t3.1\n", "3.1"},
    {"CR LF ending", "UMP 1.1.9\r\n", "1.1.9"},
    {"no newline", "UMP 1.1.9", "1.1.9"},
    {"trailing blank leaves no word", "BC1 4.4.1 \n", "unknown"},
    {"trailing blank and tab leave no word", "BC1 4.4.1 \t\n", "unknown"},
    {"no cut character", "ASFIPMI\n", "unknown"},
    {"no word after the cut", "PXE -\n", "unknown"},
    {"nothing but blanks after marker", "BC1   \n", "unknown"},
    {"version of 19 characters kept", "UMP 1234567890123456789\n", "1234567890123456789"},
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

TEST(ParseForVersion, FullPieceOf254Characters) {
    char line[LINE_SIZE];
    std::string text = std::string(250, 'x') + " 9.9";
    snprintf(line, sizeof(line), "%s", text.c_str());
    parseForVersion(line);
    EXPECT_STREQ(line, "9.9");
}

TEST(ConvertDIDtoName, Table) {
    struct {
        const char* devId;
        const char* name;
    } cases[] = {
        {"1600", "5752"},   {"163a", "5709s"},  {"163A", "5709s"}, {"1639", "5709"},  {"164E", "57710"},
        {"16AC", "5708s"},  {"16A7", "unknown"}, {"16C7", "unknown"}, {"1234", "unknown"},
        {"16FF", "unknown"}, {"15FF", "unknown"}, {"16C8", "unknown"}, {"zz", "unknown"}, {"", "unknown"},
        {"1600zz", "5752"}, {"FFFFFFFFFFFFFFFFFF", "unknown"},
    };
    for (const auto& c : cases) {
        char name[CHIPNAME_SIZE] = "";
        convertDIDtoName(c.devId, name);
        EXPECT_STREQ(name, c.name) << c.devId;
    }
}

TEST(ChipNameFromBootLine, SixthWordBeforeDash) {
    struct {
        const char* line;
        bool found;
        const char* name;
    } cases[] = {
        {"1 BootCode BC 0x0 0x0 5704-v3.29\n", true, "5704"},
        {"1 BootCode BC 0x0 0x0 5721-v3.61 more\n", true, "5721"},
        {"1 BootCode BC 0x0 0x0 5703s-a-b\n", true, "5703s"},
        {"1 BootCode BC 0x0 0x0 v3.29\n", false, "table"},
        {"1 BootCode BC 0x0 5704-v3.29\n", false, "table"},
        {"1 BootCode BC 0x0 0x0 1234567890123456789012345678-v1\n", true, "1234567890123456789012345678"},
        {"1 BootCode BC 0x0 0x0 12345678901234567890123456789-v1\n", false, "table"},
    };
    for (const auto& c : cases) {
        char name[CHIPNAME_SIZE] = "table";
        EXPECT_EQ(chipNameFromBootLine(c.line, name), c.found) << c.line;
        EXPECT_STREQ(name, c.name) << c.line;
    }
}

// Adapters with fake "dir" listings: the fake utility prints the file "dir.<mac>".
class Inventory : public NicTest {
protected:
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        writeScript("lnxfwupg", "[ \"$2\" = dir ] && [ -f \"dir.$1\" ] && cat \"dir.$1\"\nexit 0\n");
    }
    Device* take(const char* family, const char* devId, const char* mac, const std::string& listing) {
        writeFile(tmp.file(std::string("dir.") + mac), listing);
        addDevicetoList(&list, devId, mac);
        StdoutCapture capture;
        getFwVersions(&list, "./lnxfwupg", family);
        out = capture.stop();
        return list.tail;
    }
    void TearDown() override {
        emptyList(&list);
        NicTest::TearDown();
    }
    static std::vector<std::string> versions(const Device* d) {
        return {d->chipName, d->bootVer, d->ipmiVer, d->asfVer, d->pxeVer, d->umpVer, d->ncsiVer, d->iscsiVer};
    }
    DeviceHeadTail list{nullptr, nullptr};
    std::string out;
};

using V = std::vector<std::string>;

TEST_F(Inventory, NetXtremeComponents) {
    Device* d = take("NetXtreme", "1659", "00AA",
                     "C  Component  Type  Offset      Length  Version\n"
                     "1  BootCode   BC    0x08003800  0x0000  5721-v3.61\n"
                     "2  ASFIPMI    IPMI  0x0000      0x0000  v6.2.1\n"
                     "3  UMP        UMP   0x0000      0x0000  1.1.9\n"
                     "4  BRCM ASF   ASF   0x0000      0x0000  v2.1\n"
                     "5  PXE        MBA   0x0000      0x0000  v8.3.11\n"
                     "6  NCSI_X     NCSI  2.0.3\n"
                     "7  ISCSI      IB    v3.1\n");
    EXPECT_EQ(versions(d), (V{"5721", "3.61", "6.2.1", "2.1", "8.3.11", "1.1.9", "NA", "NA"}));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(testutil::pathExists(tmp.file("00AA")));
}

TEST_F(Inventory, NetXtremeFamilyNameIgnoresCase) {
    Device* d = take("NETXTREME", "1648", "00AA", "1 BootCode BC 0 0 5704-v3.29\n");
    EXPECT_EQ(versions(d), (V{"5704", "3.29", "NA", "NA", "NA", "NA", "NA", "NA"}));
}

TEST_F(Inventory, NoGateMarkerLeavesEverythingNA) {
    Device* d = take("NetXtreme", "1648", "00AA", "2 ASFIPMI IPMI v6.2.1\n5 PXE MBA v8.3.11\n");
    EXPECT_EQ(versions(d), (V{"5704", "NA", "NA", "NA", "NA", "NA", "NA", "NA"}));
    Device* e = take("NetXtreme II", "1639", "00BB", " ipmi 1.0\n mba 2.0\n");
    EXPECT_EQ(versions(e), (V{"5709", "NA", "NA", "NA", "NA", "NA", "NA", "NA"}));
}

TEST_F(Inventory, ChipNameFromTableWithoutUsableSixthWord) {
    EXPECT_EQ(take("NetXtreme", "1648", "00AA", "1 BootCode BC 0 0 v3.29\n")->chipName, std::string("5704"));
    EXPECT_EQ(take("NetXtreme", "16A7", "00BB", "1 BootCode v3.29\n")->chipName, std::string("unknown"));
    EXPECT_EQ(take("NetXtreme", "16C7", "00CC", "1 BootCode BC 0 0 5703-v3.29\n")->chipName, std::string("5703"));
}

TEST_F(Inventory, UmpIsABareSubstringForNetXtreme) {
    Device* d = take("NetXtreme", "1648", "00AA", "1 BootCode BC 0 0 5704-v3.29\nDUMPED v9.9\n3 UMP 1.1.9\n");
    EXPECT_STREQ(d->umpVer, "9.9");
}

TEST_F(Inventory, NetXtremeIIMarkerPrecedence) {
    Device* d = take("NetXtreme II", "163A", "00AA",
                     "BC1 4.4.1\n"
                     "  IPMI 2.0\n"
                     "  ipmi 1.0\n"
                     "  MBA 3.0\n"
                     "  mba 4.0\n"
                     "  UMP 1.5\n"
                     "  BRCM ASF v2.1\n"
                     "  NCSI_X 2.0.3\n"
                     "  ISCSI v3.1\n");
    EXPECT_EQ(versions(d), (V{"5709s", "4.4.1", "1.0", "NA", "4.0", "1.5", "2.0.3", "3.1"}));
}

TEST_F(Inventory, NetXtremeIIUpperCaseAlternatives) {
    Device* d = take("NetXtreme II", "1639", "00AA", "BC1 4.4.1\n  IPMI 2.0\n  MBA 3.0\nUMPX 1\n");
    EXPECT_EQ(versions(d), (V{"5709", "4.4.1", "2.0", "NA", "3.0", "NA", "NA", "NA"}));
}

TEST_F(Inventory, MarkerLineWithoutVersionIsPresentButUnknown) {
    Device* d = take("NetXtreme II", "1639", "00AA", "BC1\n ipmi \nNCSI_X\n");
    EXPECT_EQ(versions(d), (V{"5709", "unknown", "unknown", "NA", "NA", "NA", "unknown", "NA"}));
}

// Lines are searched in pieces of 254 characters: a marker across the border is missed, one
// wholly inside the second piece is found.
TEST_F(Inventory, MarkerSplitAcrossPiecesIsNotFound) {
    Device* d = take("NetXtreme II", "1639", "00AA", std::string(252, 'x') + "BC1 4.4.1\n");
    EXPECT_STREQ(d->bootVer, "NA");
    Device* e = take("NetXtreme II", "1639", "00BB", std::string(254, 'x') + "BC1 4.4.1\n");
    EXPECT_STREQ(e->bootVer, "4.4.1");
}

TEST_F(Inventory, MissingListingIsReportedOncePerAdapter) {
    writeScript("lnxfwupg", "rm -f \"$1\"\n");
    Device* d = take("NetXtreme", "1648", "00AA", "");
    EXPECT_EQ(out, "Error 9: Cannot access 00AA information file.\n");
    EXPECT_EQ(logBody(), out);
    EXPECT_EQ(versions(d), (V{"5704", "NA", "NA", "NA", "NA", "NA", "NA", "NA"}));
}

TEST_F(Inventory, IsFwTypePresentReturnsWholeLine) {
    Device* d = take("NetXtreme", "1648", "00AA", "first\nsecond 5703s line\r\nthird 5703s\n");
    char line[LINE_SIZE] = "untouched";
    EXPECT_EQ(IsFwTypePresent(d, "5703s", line), 1);
    EXPECT_STREQ(line, "second 5703s line\r\n");
    char none[LINE_SIZE] = "untouched";
    EXPECT_EQ(IsFwTypePresent(d, "5703S", none), 0);
    EXPECT_STREQ(none, "untouched");
}

TEST_F(Inventory, VersionTable) {
    take("NetXtreme", "1659", "00AA", "1 BootCode BC 0 0 5721-v3.61\n4 BRCM ASF v2.1\n");
    DeviceHeadTail second{nullptr, nullptr};
    addDevicetoList(&second, "163A", "00BB");
    getFwVersions(&second, "./lnxfwupg", "NetXtreme II");
    freshLog();
    StdoutCapture capture;
    displayFwVersions(&list, &second);
    std::string expected =
        "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
        "-------------------\t----\t----\t---\t---\t---\t---\t---\n"
        "00AA (5721)\t3.61\tNA\t2.1\tNA\tNA\tNA\tNA\n"
        "00BB (5709s)\tNA\tNA\tNA\tNA\tNA\tNA\tNA\n";
    EXPECT_EQ(capture.stop(), expected);
    EXPECT_EQ(logBody(), expected);
    emptyList(&second);
}

TEST_F(NicTest, VersionTableOfNoListsIsTheHeadings) {
    freshLog();
    bSilent = true;
    DeviceHeadTail empty{nullptr, nullptr};
    StdoutCapture capture;
    displayFwVersions(nullptr, &empty);
    EXPECT_EQ(capture.stop(), "");
    EXPECT_EQ(logBody(),
              "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
              "-------------------\t----\t----\t---\t---\t---\t---\t---\n");
}

}  // namespace
