// Adapter discovery: the adapter table, which rows become adapters, and the list operations.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/fwlog.h"

using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;  // device id, MAC address

Pairs pairsOf(const DeviceHeadTail* list) {
    Pairs out;
    for (const Device* d = list->head; d; d = d->next) out.emplace_back(d->devId, d->macAddr);
    return out;
}

const char kTop[] =
    "Broadcom NetXtreme Firmware Upgrade Utility\n"
    "\n"
    "C  Dev   MAC Address    Name\n"
    "-  ----  -------------  ----\n";

std::string refused(const char* why, const char* row) {
    return std::string("\nWarning. Adapter table row refused (") + why + "): " + row + "\n";
}

struct TableCase {
    const char* what;
    std::string listing;
    const char* endMarker;
    Pairs adapters;
    std::string log;
};

const std::string kLongRow = "1 1648 00AA" + std::string(254 - 11, ' ') + "x 16A8 00BB\n";

const TableCase kTables[] = {
    {"two adapters in order", std::string(kTop) + "1  1648  001018A1B2C3  eth0\n2  16A7  001018A1B2C4  eth1\n\nQ=Quit 0>\n",
     "0>", {{"1648", "001018A1B2C3"}, {"16A7", "001018A1B2C4"}}, ""},
    {"header needs a blank before MAC", "MAC Address\n----\n1 1648 00AA\n0>\n", "0>", {}, ""},
    {"header needs a blank after MAC", "Address MAC\n----\n1 1648 00AA\n0>\n", "0>", {}, ""},
    {"no header at all", "1 1648 00AA\n2 1639 00BB\n", "0>", {}, ""},
    {"line under header is skipped", "C  Dev  MAC Address\n1 1648 00AA\n2 1639 00BB\n", "0>", {{"1639", "00BB"}}, ""},
    {"no row before the end marker", std::string(kTop) + "0>\n1 1648 00AA\n", "0>", {}, ""},
    {"two-word rows skipped", std::string(kTop) + "1 1648\n\n2 1639 00BB\n0>\n", "0>", {{"1639", "00BB"}}, ""},
    {"four-word rows use words two and three", std::string(kTop) + "1 1648 00AA eth0 more words\n", "0>",
     {{"1648", "00AA"}}, ""},
    {"marker row with three words ends the table", std::string(kTop) + "1 1648 00AA\n0> 1639 00BB\n2 1639 00CC\n",
     "0>", {{"1648", "00AA"}}, ""},
    {"marker anywhere in the line", std::string(kTop) + "1 1648 00AA\nchoose 1 to 9, 0> \n2 1639 00CC\n", "0>",
     {{"1648", "00AA"}}, ""},
    {"NetXtreme II ends at Quit and 0 is a row", std::string(kTop) + "0> 1639 00BB\n1 163A 00CC\nQuit\n2 1639 00DD\n",
     "Quit", {{"1639", "00BB"}, {"163A", "00CC"}}, ""},
    {"only the first table is read",
     std::string(kTop) + "1 1648 00AA\n0>\n" + kTop + "1 1639 00BB\n0>\n", "0>", {{"1648", "00AA"}}, ""},
    {"CR LF line ends", "C Dev MAC Addr\r\n--\r\n1 1648 00AA\r\n0>\r\n", "0>", {{"1648", "00AA"}}, ""},
    {"long row arrives in 254-character pieces", std::string(kTop) + kLongRow, "0>",
     {{"1648", "00AA"}, {"16A8", "00BB"}}, ""},
    {"fields at their limits", std::string(kTop) + "123456789012345 123456789 001018A1B2C3xyz\n", "0>",
     {{"123456789", "001018A1B2C3xyz"}}, ""},
    {"refused rows are logged and the rest kept",
     std::string(kTop) +
         "1 1648 00:10:18:A1:B2:C3\n"
         "2 1648 $(reboot)\n"
         "3 1234567890 00AA\n"
         "4 16A8 00BB\n"
         "5 1648 a>b\n"
         "6 1648 ../etc\n"
         "7 1648 q\n"
         "8 1648 -rf\n"
         "9 1648 ..\n"
         "10 1648 1648bc.bin\n"
         "11 16;ls 00CC\n"
         "1234567890123456 1648 00DD\r\n"
         "12 -1648 00EE\n"
         "13 1639 00FF\n",
     "0>", {{"16A8", "00BB"}, {"1639", "00FF"}},
     refused("a word is longer than 15 characters", "1 1648 00:10:18:A1:B2:C3") +
         refused("MAC address holds a character other than letters, digits, ':-._'", "2 1648 $(reboot)") +
         refused("device id longer than 9 characters", "3 1234567890 00AA") +
         refused("MAC address holds a character other than letters, digits, ':-._'", "5 1648 a>b") +
         refused("MAC address holds a character other than letters, digits, ':-._'", "6 1648 ../etc") +
         refused("MAC address names a file of the tool", "7 1648 q") +
         refused("MAC address starts with '-'", "8 1648 -rf") +
         refused("MAC address starts with '.'", "9 1648 ..") +
         refused("MAC address names a file of the tool", "10 1648 1648bc.bin") +
         refused("device id holds a character other than letters, digits, ':-._'", "11 16;ls 00CC") +
         refused("a word is longer than 15 characters", "1234567890123456 1648 00DD") +
         refused("device id starts with '-'", "12 -1648 00EE")},
};

class AdapterTable : public NicTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(AdapterTable, ReadsRows) {
    const TableCase& c = GetParam();
    freshLog();
    writeFile(tmp.file("listing"), c.listing);
    FILE* f = fopen("listing", "r");
    ASSERT_NE(f, nullptr);
    DeviceHeadTail list{nullptr, nullptr};
    readAdapterTable(f, c.endMarker, &list);
    fclose(f);
    EXPECT_EQ(pairsOf(&list), c.adapters);
    EXPECT_EQ(getDeviceCount(&list), static_cast<int>(c.adapters.size()));
    EXPECT_EQ(logBody(), c.log);
    emptyList(&list);
}

INSTANTIATE_TEST_SUITE_P(Cases, AdapterTable, ::testing::ValuesIn(kTables), CaseName());

TEST(AdapterRowProblem, AcceptsOrdinaryTextsAndEveryAllowedCharacter) {
    EXPECT_EQ(adapterRowProblem("16a7", "0010.18a1.b2c3"), nullptr);
    EXPECT_EQ(adapterRowProblem("1648", "00:10:18:a1:b2"), nullptr);
    EXPECT_EQ(adapterRowProblem("Az09_:.-", "zZ_9-:.x"), nullptr);
    EXPECT_NE(adapterRowProblem("", "00AA"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", ""), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "00 AA"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "00'AA"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "ethflash.log"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "devices"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "nv.bak"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "lnxfwupg"), nullptr);
    EXPECT_NE(adapterRowProblem("1648", "12345678901234567890"), nullptr);
}

TEST_F(NicTest, AddDevicetoListRefusesTextsThatDoNotFit) {
    freshLog();
    DeviceHeadTail list{nullptr, nullptr};
    EXPECT_FALSE(addDevicetoList(&list, "1234567890", "00AA"));
    EXPECT_FALSE(addDevicetoList(&list, "1648", "12345678901234567890"));
    EXPECT_TRUE(addDevicetoList(&list, "1648", "1234567890123456789"));
    EXPECT_EQ(getDeviceCount(&list), 1);
    EXPECT_EQ(list.head, list.tail);
    EXPECT_EQ(logBody(), "");
    emptyList(&list);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(getDeviceCount(nullptr), 0);
    emptyList(nullptr);
}

TEST_F(NicTest, EmptyListRemovesListingFilesThatExist) {
    freshLog();
    DeviceHeadTail list{nullptr, nullptr};
    addDevicetoList(&list, "1648", "00AA");
    addDevicetoList(&list, "1639", "00BB");
    writeFile(tmp.file("00AA"), "listing");
    writeFile(tmp.file("keep"), "other");
    emptyList(&list);
    EXPECT_EQ(testutil::listDir(tmp.path()), (std::vector<std::string>{"keep", "log"}));
    EXPECT_EQ(getDeviceCount(&list), 0);
}

class Discovery : public NicTest {
protected:
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        writeFile(tmp.file("q"), "q\n");
    }
    DeviceHeadTail* discover(const char* family) {
        StdoutCapture capture;
        DeviceHeadTail* list = getDevices(family, tool);
        out = capture.stop();
        return list;
    }
    // A fake utility: without arguments it records its answer and prints listing; "dir"
    // prints nothing.
    void fakeTool(const char* name, const std::string& listing) {
        writeFile(tmp.file("listing.txt"), listing);
        writeScript(name, "if [ $# -eq 0 ]; then read answer; echo \"$answer\" >>answers; cat listing.txt; fi\n");
    }
    char tool[TOOL_PATH_SIZE] = "";
    std::string out;
};

TEST_F(Discovery, MissingUtilityGivesNull) {
    EXPECT_EQ(discover("NetXtreme"), nullptr);
    EXPECT_STREQ(tool, "./lnxfwupg");
    EXPECT_EQ(out, "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n");
    EXPECT_EQ(logBody(), out);
    EXPECT_EQ(discover("NetXtreme II"), nullptr);
    EXPECT_EQ(out, "\nError! Unable to locate Broadcom NetXtreme II tool (./lnxfwnx2).\n");
}

TEST_F(Discovery, ListingGoesToLogAndAdaptersToList) {
    std::string listing = std::string(kTop) + "1 1639 00AA\n2 163A 00BB\nQuit\n";
    fakeTool("lnxfwnx2", listing);
    DeviceHeadTail* list = discover("NetXtreme II");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(tool, "./lnxfwnx2");
    EXPECT_EQ(pairsOf(list), (Pairs{{"1639", "00AA"}, {"163A", "00BB"}}));
    EXPECT_EQ(out, "");
    EXPECT_EQ(logBody(), "\n" + listing + "\n");
    EXPECT_EQ(readFile(tmp.file("answers")), "q\n");
    EXPECT_FALSE(pathExists(tmp.file("devices")));
    EXPECT_TRUE(pathExists(tmp.file("00AA")));  // listing files live until the list is emptied
    EXPECT_STREQ(list->head->bootVer, "NA");
    EXPECT_STREQ(list->head->chipName, "5709");
    releaseList(&list);
    EXPECT_EQ(list, nullptr);
    EXPECT_FALSE(pathExists(tmp.file("00AA")));
    EXPECT_FALSE(pathExists(tmp.file("00BB")));
}

TEST_F(Discovery, NoAdaptersGivesWarning) {
    for (const std::string& listing : {std::string(kTop) + "0>\n", std::string("nothing here\n"), std::string()}) {
        fakeTool("lnxfwupg", listing);
        freshLog();
        EXPECT_EQ(discover("NetXtreme"), nullptr);
        EXPECT_EQ(out, "\nWarning. No Broadcom NetXtreme adapters found.\n");
        EXPECT_EQ(logBody(), "\n" + listing + "\n" + out);
        EXPECT_FALSE(pathExists(tmp.file("devices")));
    }
}

TEST_F(Discovery, OnlyRefusedRowsGiveWarning) {
    fakeTool("lnxfwupg", std::string(kTop) + "1 1648 `reboot`\n0>\n");
    EXPECT_EQ(discover("NetXtreme"), nullptr);
    EXPECT_EQ(out, "\nWarning. No Broadcom NetXtreme adapters found.\n");
    EXPECT_NE(logBody().find(refused("MAC address holds a character other than letters, digits, ':-._'",
                                     "1 1648 `reboot`")),
              std::string::npos);
}

TEST_F(Discovery, UnreadableListingGoesToLogInstead) {
    testutil::writeFile(tmp.file("lnxfwupg"), "#!/bin/sh\nrm -f devices\necho \"listing $(cat)\"\n", 0755);
    EXPECT_EQ(discover("NetXtreme"), nullptr);
    EXPECT_EQ(out, "Error! Cannot create temporary file for NetXtreme devices.\n");
    EXPECT_EQ(logBody(), "listing q\nError! Cannot create temporary file for NetXtreme devices.\n");
}

}  // namespace
