// Adapter discovery: which table rows become adapters, the listing in the log, list release.
#include "tests/nicupdate/nictest.h"
#include "nicupdate/devlist.h"
#include "nicupdate/discovery.h"
#include "nicupdate/family.h"
#include "nicupdate/fwlog.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;  // device id, MAC address

Pairs pairsOf(const DeviceHeadTail* list) {
    Pairs out;
    for (const Device* d = list ? list->head : nullptr; d; d = d->next) out.emplace_back(d->devId, d->macAddr);
    return out;
}

const std::string kTop =
    "Broadcom NetXtreme Firmware Upgrade Utility\n\nC  Dev   MAC Address    Name\n-  ----  -----\n";

std::string refused(const char* why, const char* row) {
    return std::string("\nWarning. Adapter table row refused (") + why + "): " + row + "\n";
}
const char kBadChar[] = "MAC address holds a character other than hexadecimal digits, ':-.'";

struct TableCase {
    const char* what;
    std::string listing;
    const char* endMarker;
    Pairs adapters;
    std::string log;
};

const TableCase kTables[] = {
    {"rows in order",
     kTop + "1  1648  001018A1B2C3  eth0\n2  16A7  001018A1B2C4  eth1\n\nQ=Quit 0>\n",
     "0>",
     {{"1648", "001018A1B2C3"}, {"16A7", "001018A1B2C4"}},
     ""},
    {"header needs a blank before MAC", "MAC Address\n----\n1 1648 00AA\n", "0>", {}, ""},
    {"header needs a blank after MAC", "Address MAC\n----\n1 1648 00AA\n", "0>", {}, ""},
    {"line under header is skipped", " MAC \n1 1648 00AA\n2 1639 00BB\n", "0>", {{"1639", "00BB"}}, ""},
    {"end marker before any row", kTop + "0>\n1 1648 00AA\n", "0>", {}, ""},
    {"two-word rows skipped", kTop + "1 1648\n\n2 1639 00BB\n", "0>", {{"1639", "00BB"}}, ""},
    {"four words use the second and third", kTop + "1 1648 00AA eth0 more\n", "0>", {{"1648", "00AA"}}, ""},
    {"marker row with three words ends the table", kTop + "1 1648 00AA\n0> 1639 00BB\n", "0>", {{"1648", "00AA"}}, ""},
    {"NetXtreme II ends at Quit only", kTop + "0> 1639 00BB\nQuit\n2 1639 00DD\n", "Quit", {{"1639", "00BB"}}, ""},
    {"only the first table", kTop + "1 1648 00AA\n0>\n" + kTop + "1 1639 00BB\n", "0>", {{"1648", "00AA"}}, ""},
    {"CR LF", " MAC \r\n--\r\n1 1648 00AA\r\n", "0>", {{"1648", "00AA"}}, ""},
    {"a long row is read from its first 254-character piece only",
     kTop + "1 1648 00AA" + std::string(243, ' ') + "x 16A8 00BB\n2 1639 00CC\n",
     "0>",
     {{"1648", "00AA"}, {"1639", "00CC"}},
     ""},
    {"the end marker in a later piece still ends the table",
     kTop + "1 1648 00AA\n2 1639 00BB" + std::string(250, ' ') + "0>\n3 16A8 00CC\n",
     "0>",
     {{"1648", "00AA"}, {"1639", "00BB"}},
     ""},
    {"fields at their limits, the unused first word of any length",
     kTop + std::string(200, 'x') + " 123456789 00:10:18:AA:BB:01.2\n",
     "0>",
     {{"123456789", "00:10:18:AA:BB:01.2"}},
     ""},
    {"MAC addresses with separators",
     kTop + "1 1648 00:10:18:AA:BB:01 eth0\n2 16A7 00-10-18-aa-bb-02 eth1\n3 1659 0010.18AA.BB03\n",
     "0>",
     {{"1648", "00:10:18:AA:BB:01"}, {"16A7", "00-10-18-aa-bb-02"}, {"1659", "0010.18AA.BB03"}},
     ""},
    {"one past the limits",
     kTop + "1 1234567890 00AA\n2 1648 00:10:18:AA:BB:01.23\n3 1648 00BB\n",
     "0>",
     {{"1648", "00BB"}},
     refused("device id longer than 9 characters", "1 1234567890 00AA") +
         refused("MAC address longer than 19 characters", "2 1648 00:10:18:AA:BB:01.23")},
    {"unsafe rows refused and shown",
     kTop + "2 1648 $(reboot)\n4 16A8 00BB\n5 1648 a>b\n"
            "6 1648 ../etc\n7 1648 q\n7a 1659 install.sh\n7b 1659 fwsim\n8 1648 -0AB\n9 1648 ..\n10 1648 "
            "1648bc.bin\n11 16;ls 00CC\n"
            "12 -1648 00EE\r\n13 1639 00FF\n",
     "0>",
     {{"16A8", "00BB"}, {"1639", "00FF"}},
     refused(kBadChar, "2 1648 $(reboot)") + refused(kBadChar, "5 1648 a>b") + refused(kBadChar, "6 1648 ../etc") +
         refused(kBadChar, "7 1648 q") + refused(kBadChar, "7a 1659 install.sh") + refused(kBadChar, "7b 1659 fwsim") +
         refused("MAC address starts with '-'", "8 1648 -0AB") + refused("MAC address starts with '.'", "9 1648 ..") +
         refused(kBadChar, "10 1648 1648bc.bin") +
         refused("device id holds a character other than letters, digits, ':-._'", "11 16;ls 00CC") +
         refused("device id starts with '-'", "12 -1648 00EE")},
};

class AdapterTable : public NicTest, public ::testing::WithParamInterface<TableCase> {};

TEST_P(AdapterTable, ReadsRows) {
    freshLog();
    write("listing", GetParam().listing);
    FILE* f = fopen("listing", "r");
    ASSERT_NE(f, nullptr);
    DeviceHeadTail list{nullptr, nullptr};
    StdoutCapture capture;
    int refusedRows = readAdapterTable(log, f, GetParam().endMarker, &list);
    std::string out = capture.stop();
    fclose(f);
    EXPECT_EQ(pairsOf(&list), GetParam().adapters);
    EXPECT_EQ(getDeviceCount(&list), static_cast<int>(GetParam().adapters.size()));
    EXPECT_EQ(logBody(), GetParam().log);
    EXPECT_EQ(out, GetParam().log);  // a refused row is never silent
    size_t warnings = 0;
    for (size_t at = 0; (at = out.find("Warning.", at)) != std::string::npos; ++at) ++warnings;
    EXPECT_EQ(refusedRows, static_cast<int>(warnings));
    emptyList(shell(), &list);
}

INSTANTIATE_TEST_SUITE_P(Cases, AdapterTable, ::testing::ValuesIn(kTables), CaseName());

class Discovery : public NicTest {
protected:
    void SetUp() override {
        NicTest::SetUp();
        freshLog();
        write("q", "q\n");
    }
    DeviceHeadTail* discover(const Family& family) {
        StdoutCapture capture;
        int refusedRows = 0;
        DeviceHeadTail* list = getDevices(shell(), family, tool, &refusedRows);
        out = capture.stop();
        return list;
    }
    // Without arguments the fake utility records its answer and prints the listing.
    void fakeTool(const char* name, const std::string& listing) {
        write("listing.txt", listing);
        writeScript(name, "if [ $# -eq 0 ]; then read answer; echo \"$answer\" >>answers; cat listing.txt; fi\n");
    }
    char tool[TOOL_PATH_SIZE] = "";
    std::string out;
};

TEST_F(Discovery, MissingUtility) {
    EXPECT_EQ(discover(c_netXtreme), nullptr);
    EXPECT_EQ(out, "\nError! Unable to locate Broadcom NetXtreme tool (./lnxfwupg).\n");
    EXPECT_EQ(discover(c_netXtremeII), nullptr);
    EXPECT_EQ(out, "\nError! Unable to locate Broadcom NetXtreme II tool (./lnxfwnx2).\n");
}

TEST_F(Discovery, ListingGoesToLogAndListingFilesLiveWithTheList) {
    std::string listing = kTop + "1 1639 00AA\n2 163A 00BB\nQuit\n";
    fakeTool("lnxfwnx2", listing);
    DeviceHeadTail* list = discover(c_netXtremeII);
    EXPECT_STREQ(tool, "./lnxfwnx2");
    EXPECT_EQ(pairsOf(list), (Pairs{{"1639", "00AA"}, {"163A", "00BB"}}));
    EXPECT_EQ(out, "");
    EXPECT_EQ(logBody(), "\n" + listing + "\n");
    EXPECT_EQ(read("answers"), "q\n");
    EXPECT_FALSE(exists("devices"));
    EXPECT_TRUE(exists("00AA"));
    remove("00BB");  // a listing already gone is simply skipped
    releaseList(shell(), &list);
    EXPECT_EQ(list, nullptr);
    EXPECT_FALSE(exists("00AA"));
}

TEST_F(Discovery, NoAdaptersGivesWarning) {
    for (const std::string& listing : {kTop + "0>\n", std::string("no table\n")}) {
        fakeTool("lnxfwupg", listing);
        freshLog();
        EXPECT_EQ(discover(c_netXtreme), nullptr);
        EXPECT_EQ(out, "\nWarning. No Broadcom NetXtreme adapters found.\n");
        EXPECT_EQ(logBody().substr(0, listing.size() + 2), "\n" + listing + "\n");
        EXPECT_FALSE(exists("devices"));
    }
}

TEST_F(Discovery, UnreadableListingGoesToLogInstead) {
    writeScript("lnxfwupg", "rm -f devices\necho \"listing $(cat)\"\n");
    EXPECT_EQ(discover(c_netXtreme), nullptr);
    EXPECT_EQ(out, "Error! Cannot create temporary file for NetXtreme devices.\n");
    EXPECT_EQ(logBody(), "listing q\n" + out);
}

}  // namespace
