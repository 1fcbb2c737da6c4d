#include "tools/fwsim/scenario.h"

#include <gtest/gtest.h>

#include "tools/fwsim/image.h"
#include "tools/fwsim/state.h"
#include "tests/support/testutil.h"

using namespace fwsim;

namespace {

Scenario parseOk(const std::string& text) {
    Scenario sc;
    std::string error;
    EXPECT_TRUE(parseScenario(text, "t.conf", &sc, &error)) << error;
    return sc;
}

std::string parseError(const std::string& text) {
    Scenario sc;
    std::string error;
    EXPECT_FALSE(parseScenario(text, "t.conf", &sc, &error)) << "accepted:\n" << text;
    return error;
}

const char c_adapter[] = "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\n";

}  // namespace

TEST(Scenario, ReadsEveryAdapterKey) {
    Scenario sc = parseOk(
        "# comment\n"
        "; another comment\r\n"
        "\n"
        "[adapter]\r\n"
        "  Family = netxtreme\n"
        "devid = 16a7\n"
        "mac = 00-10-18-aa-bb-02\n"
        "bc = 2.80\n"
        "asf = 5.2.0\n"
        "pxe = 7.0.1\n"
        "chip = none\n"
        "5703s = yes\n"
        "bus = 05:04.0\n"
        "name = Broadcom NetXtreme Gigabit Ethernet (5703S)\n"
        "dirline =   Note   raw text # kept\n"
        "dirline =\n"
        "fault.row = text  1  16A7  x\n"
        "fault.upgrade.pxe = exit 2\n"
        "fault.cfg = signal TERM\n"
        "fault.crc = exit 7\n"
        "[adapter]\n"
        "family = NetXtreme II\n"
        "devid = 163A\n"
        "mac = 001018aabb03\n"
        "iscsi = 2.1.1\n"
        "ncsi = 2.0.3\n"
        "fault.dir = signal 9\n"
        "fault.upgrade = delay 0.25\n"
        "[lnxfwnx2]\n"
        "version = 9.9\n"
        "fault.table = noend\n");
    ASSERT_EQ(sc.adapters.size(), 2u);
    const Adapter& a = sc.adapters[0];
    EXPECT_EQ(a.family, Family::NetXtreme);
    EXPECT_EQ(a.devId, "16a7");  // case kept: image names follow it
    EXPECT_EQ(a.mac, "001018AABB02");
    EXPECT_EQ(a.chip, "none");
    EXPECT_TRUE(a.has5703s);
    EXPECT_EQ(a.bus, "05:04.0");
    EXPECT_EQ(a.name, "Broadcom NetXtreme Gigabit Ethernet (5703S)");
    EXPECT_EQ(a.versions, (std::map<std::string, std::string>{{"bc", "2.80"}, {"asf", "5.2.0"}, {"mba", "7.0.1"}}));
    EXPECT_EQ(a.dirLines, (std::vector<std::string>{"  Note   raw text # kept", ""}));
    EXPECT_EQ(a.faults.at("row").kind, Fault::Text);
    EXPECT_EQ(a.faults.at("row").text, "1  16A7  x");
    EXPECT_EQ(a.faults.at("upgrade.mba").kind, Fault::Exit);
    EXPECT_EQ(a.faults.at("upgrade.mba").number, 2);
    EXPECT_EQ(a.faults.at("cfg").kind, Fault::Signal);
    EXPECT_EQ(a.faults.at("cfg").number, 15);
    EXPECT_EQ(a.faults.at("crc").number, 7);
    EXPECT_EQ(a.line, 4);
    const Adapter& b = sc.adapters[1];
    EXPECT_EQ(b.family, Family::NetXtremeII);
    EXPECT_EQ(b.versions, (std::map<std::string, std::string>{{"ib", "2.1.1"}, {"ncsi", "2.0.3"}}));
    EXPECT_EQ(b.faults.at("dir").kind, Fault::Signal);
    EXPECT_EQ(b.faults.at("upgrade").kind, Fault::Delay);
    EXPECT_DOUBLE_EQ(b.faults.at("upgrade").seconds, 0.25);
    EXPECT_EQ(sc.nx2.version, "9.9");
    EXPECT_EQ(sc.nx2.tableFault.kind, Fault::NoEnd);
    EXPECT_EQ(sc.nx.tableFault.kind, Fault::None);
}

TEST(Scenario, EmptyFileHasNoAdapters) {
    EXPECT_TRUE(parseOk("").adapters.empty());
    EXPECT_TRUE(parseOk("# nothing\n\n").adapters.empty());
}

// Each bad scenario names the file, the line and what is wrong.
TEST(Scenario, RejectsBadLinesWithFileLineAndReason) {
    const std::string a = c_adapter;  // four lines
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"family = NetXtreme\n", "t.conf:1: 'family' stands outside any block"},
        {"[adaptor]\n", "t.conf:1: unknown block [adaptor]"},
        {"[adapter\n", "t.conf:1: block header '[adapter' lacks its closing ']'"},
        {a + "bc 3.29\n", "t.conf:5: expected 'key = value'"},
        {a + "= 3.29\n", "t.conf:5: a key is missing"},
        {a + "bcc = 3.29\n", "t.conf:5: unknown key 'bcc' in [adapter]"},
        {a + "bc = 3.29\nbc = 3.30\n", "t.conf:6: 'bc' is set twice"},
        {a + "bc =\n", "t.conf:5: version of bc must be one word"},
        {a + "bc = " + std::string(65, '1') + "\n", "t.conf:5: version of bc must be one word of at most 64"},
        {"[adapter]\nfamily = NetXtreme III\n", "t.conf:2: family 'NetXtreme III' is neither"},
        {"[adapter]\ndevid = 164\n", "t.conf:2: devid '164' is not a PCI device id"},
        {"[adapter]\nmac = 00:10:18:aa:bb\n", "t.conf:2: mac '00:10:18:aa:bb' is not a MAC address"},
        {"[adapter]\nmac = 00:10:18-aa:bb:01\n", "t.conf:2: mac"},
        {a + "chip = 5704-v3\n", "t.conf:5: chip '5704-v3' must be one word without '-'"},
        {a + "5703s = maybe\n", "t.conf:5: 5703s must be yes or no"},
        {a + "fault.dir = explode\n",
         "t.conf:5: unknown fault 'explode' for fault.dir (expected one of: exit N, signal N, empty, overlong, delay "
         "S)"},
        {a + "fault.crc = delay 0\n", "t.conf:5: fault 'delay 0': delay needs seconds, more than 0 and at most 60"},
        {a + "fault.cfg = delay 1s\n", "delay needs seconds"},
        {a + "fault.row = delay 1\n", "unknown fault 'delay 1' for fault.row"},
        {a + "fault.dir = exit\n", "t.conf:5: fault 'exit': exit needs a status from 1 to 255"},
        {a + "fault.dir = exit 0\n", "exit needs a status from 1 to 255"},
        {a + "fault.dir = signal CHLD\n", "t.conf:5: fault 'signal CHLD': signal needs a signal that ends a process"},
        {a + "fault.dir = empty now\n", "'empty' takes no argument"},
        {a + "fault.row = exit 1\n", "unknown fault 'exit 1' for fault.row"},
        {a + "fault.row = text\n", "t.conf:5: fault.row: text needs the row to print"},
        {a + "fault.upgrade = notable\n", "unknown fault 'notable' for fault.upgrade"},
        {a + "fault.upgrade.bios = exit 1\n", "t.conf:5: fault.upgrade.bios: unknown component 'bios'"},
        {a + "fault.cfg.bc = exit 1\n", "cfg switches management firmware only"},
        {a + "fault.dir.bc = exit 1\n", "fault.dir.bc: dir takes no component"},
        {a + "fault.flash = exit 1\n", "unknown fault place 'fault.flash'"},
        {"[lnxfwupg]\nfault.row = hidden\n", "t.conf:2: unknown key 'fault.row' in [lnxfwupg]"},
        {"[lnxfwupg]\nfault.table = overlong\n", "unknown fault 'overlong' for fault.table"},
        {"[lnxfwupg]\n[lnxfwupg]\n", "t.conf:2: block [lnxfwupg] appears twice"},
        // Checks made when a block ends point at the block's first line.
        {"\n[adapter]\nfamily = NetXtreme\n", "t.conf:2: adapter block at line 2 lacks: devid mac"},
        {a + "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\n",
         "t.conf:5: adapter block at line 5: mac 001018AABB01 is already used by the adapter at line 1"},
        {"[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 001018AABB01\nasf = 1.0\n",
         "t.conf:1: adapter block at line 1: NetXtreme II adapters have no 'asf' firmware"},
        {a + "ncsi = 1.0\n", "NetXtreme adapters have no 'ncsi' firmware"},
        {a + "fault.upgrade.ib = exit 2\n", "fault.upgrade.ib: NetXtreme adapters have no 'ib' firmware"},
    };
    for (const auto& c : cases) {
        std::string error = parseError(c.text);
        EXPECT_NE(error.find(c.expected), std::string::npos) << "text:\n" << c.text << "error: " << error;
    }
}

TEST(Scenario, MacAddressForms) {
    const struct {
        const char* text;
        const char* mac;
    } cases[] = {
        {"001018AABB01", "001018AABB01"},
        {"001018aabb01", "001018AABB01"},
        {"00:10:18:aa:bb:01", "001018AABB01"},
        {"00-10-18-AA-BB-01", "001018AABB01"},
        {"00:10:18:aa:bb:0", ""},
        {"00:10:18:aa:bb:011", ""},
        {"00:10-18:aa:bb:01", ""},
        {"001018AABB0", ""},
        {"001018AABB012", ""},
        {"00101 8AABB01", ""},
        {"", ""},
        {"0010.18aa.bb01", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(normaliseMac(c.text), c.mac) << c.text;
}

TEST(Scenario, LoadNamesTheMissingFileAndTheWayOut) {
    Scenario sc;
    std::string error;
    EXPECT_FALSE(loadScenario("/nonexistent/fwsim.conf", &sc, &error));
    EXPECT_NE(error.find("cannot read scenario '/nonexistent/fwsim.conf': No such file or directory"),
              std::string::npos);
    EXPECT_NE(error.find("FWSIM_CONF"), std::string::npos);
}

TEST(Image, ParsesFirstLineAndRejectsOthers) {
    Image img;
    std::string error;
    ASSERT_TRUE(parseImage("FWSIM-IMAGE version=3.38 component=bc devid=1648\r\nanything\n", "i.bin", &img, &error))
        << error;
    EXPECT_EQ(img.component, "bc");
    EXPECT_EQ(img.version, "3.38");
    EXPECT_EQ(img.devId, "1648");
    ASSERT_TRUE(parseImage("FWSIM-IMAGE component=pxe version=8.3.11", "i.bin", &img, &error)) << error;
    EXPECT_EQ(img.component, "mba");

    const struct {
        const char* text;
        const char* expected;
    } bad[] = {
        {"", "'i.bin' is not a firmware image"},
        {"\x7f"
         "ELF binary",
         "is not a firmware image"},
        {"FWSIM-IMAGE component=bc\n", "needs component= and version="},
        {"FWSIM-IMAGE version=1\n", "needs component= and version="},
        {"FWSIM-IMAGE component=bios version=1\n", "unknown component 'bios'"},
        {"FWSIM-IMAGE component=bc version=\n", "field 'version=' has no value"},
        {"FWSIM-IMAGE component=bc version=1 size=2\n", "unknown field 'size'"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(parseImage(b.text, "i.bin", &img, &error)) << b.text;
        EXPECT_NE(error.find(b.expected), std::string::npos) << error;
    }
}

TEST(State, SavesLoadsAndAppliesOverTheScenario) {
    testutil::TempDir dir;
    std::string path = statePath(dir.file("fwsim.conf"));
    EXPECT_EQ(path, dir.file("fwsim.state"));
    EXPECT_EQ(statePath("fwsim.conf"), "fwsim.state");

    State st, back;
    std::string error;
    ASSERT_TRUE(loadState(path, &back, &error)) << "a missing state file is an empty state: " << error;
    EXPECT_TRUE(back.versions.empty());

    st.versions["001018AABB01"]["bc"] = "3.38";
    st.versions["001018AABB09"]["bc"] = "9.9";  // adapter no longer in the scenario
    st.disabled["001018AABB01"].insert("ump");
    ASSERT_TRUE(saveState(path, st, &error)) << error;
    EXPECT_FALSE(testutil::pathExists(path + ".tmp"));
    ASSERT_TRUE(loadState(path, &back, &error)) << error;
    EXPECT_EQ(back.versions, st.versions);
    EXPECT_EQ(back.disabled, st.disabled);

    Scenario sc = parseOk(std::string(c_adapter) + "bc = 3.29\nump = 1.1.9\nmba = 8.3.11\n");
    applyState(back, &sc);
    EXPECT_EQ(sc.adapters[0].versions, (std::map<std::string, std::string>{{"bc", "3.38"}, {"mba", "8.3.11"}}));
}

TEST(State, RejectsGarbledLinesWithTheWayOut) {
    testutil::TempDir dir;
    std::string path = dir.file("fwsim.state");
    State st;
    std::string error;
    for (const char* text :
         {"version 001018AABB01 bc\n", "version 001018aabb01 bc 1\n", "disabled 001018AABB01\n",
          "version 001018AABB01 bios 1\n", "upgraded 001018AABB01 bc 1\n", "disabled 001018AABB01 ump extra\n"}) {
        testutil::writeFile(path, std::string("# header\n") + text);
        EXPECT_FALSE(loadState(path, &st, &error)) << text;
        EXPECT_NE(error.find(path + ":2: not a state line"), std::string::npos) << error;
        EXPECT_NE(error.find("fwsim reset"), std::string::npos) << error;
    }
}
