#include "tools/fwsim/utility.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tools/fwsim/image.h"
#include "tests/support/testutil.h"

using namespace fwsim;
using testutil::pathExists;
using testutil::readFile;
using testutil::writeFile;

namespace {

const char c_scenario[] =
    "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\n"
    "bc = 3.29\nipmi = 1.2.3\nmba = 8.3.11\nump = 1.1.9\n"
    "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 00:10:18:aa:bb:05\n"
    "bc = 3.61\nasf = 2.10\nmba = 8.3.11\n"
    "[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 00:10:18:aa:bb:03\n"
    "bc = 4.4.1\nipmi = 1.0.2\nump = 1.4\nmba = 4.2.0\nncsi = 2.0.3\n";

struct Outcome {
    int status;
    int signal;
    std::string out;
    std::string err;
};

class Utility : public ::testing::Test {
protected:
    testutil::TempDir dir;

    void SetUp() override { writeFile(dir.file("fwsim.conf"), c_scenario); }

    void scenario(const std::string& text) { writeFile(dir.file("fwsim.conf"), text); }

    Outcome run(Family family, const std::vector<std::string>& args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        UtilityIo io{&in, &out, &err, dir.file("fwsim.conf"), dir.file("trace")};
        UtilityResult r = runUtility(family, args, io);
        return {r.status, r.signal, out.str(), err.str()};
    }
    Outcome nx(const std::vector<std::string>& args, const std::string& input = "") {
        return run(Family::NetXtreme, args, input);
    }
    Outcome nx2(const std::vector<std::string>& args, const std::string& input = "") {
        return run(Family::NetXtremeII, args, input);
    }

    // The line of a "dir" listing that holds `region`, or "".
    std::string regionLine(Family family, const std::string& mac, const std::string& region) {
        std::istringstream in(run(family, {mac, "dir"}).out);
        std::string l;
        while (std::getline(in, l))
            if (l.find("  " + region + " ") != std::string::npos) return l;
        return "";
    }

    std::string image(const std::string& name, const std::string& component, const std::string& version,
                      const std::string& devId = "") {
        writeFile(dir.file(name), formatImage({component, version, devId}, "test image"));
        return dir.file(name);
    }

    std::vector<std::string> upgradeArgs(const std::string& mac, const std::string& comp, const std::string& img) {
        return {mac, "upgrade", "-noreset", "-F", "-" + comp, img, dir.file("nv.bak")};
    }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(Utility, InteractiveListsThenQuitsOnQ) {
    Outcome r = nx({}, "q\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Broadcom NetXtreme Firmware Upgrade Utility for Linux, v7.3.2 (simulated by fwsim)\n\n"
              " C  Dev   MAC           Bus      Description\n"
              "--  ----  ------------  -------  ----------------------------------------\n"
              " 1  1648  001018AABB01  02:00.0  Broadcom NetXtreme Gigabit Ethernet\n"
              " 2  1659  001018AABB05  03:00.0  Broadcom NetXtreme Gigabit Ethernet\n"
              "\n"
              "0> ");
    Outcome r2 = nx2({}, "q\n");
    EXPECT_EQ(r2.status, 0);
    EXPECT_TRUE(contains(r2.out,
                         " 1  164C  001018AABB03  02:00.0  Broadcom NetXtreme II Gigabit Ethernet\n\n"
                         "Commands: dir  upgrade  cfg  crc  help  Quit\n> "))
        << r2.out;
    EXPECT_FALSE(contains(r2.out, "001018AABB01"));
}

TEST_F(Utility, InteractiveAnswersCommandsUntilQuitOrEnd) {
    const struct {
        std::string input;
        int prompts;
        const char* shows;
    } cases[] = {
        {"", 1, ""},  // end of input quits
        {"help\nq\n", 2, "Commands: list"},
        {"list\n\nquit\n", 3, "\n C  Dev   MAC"},
        {"frobnicate\nq\nhelp\n", 2, "Unknown command 'frobnicate'"},  // nothing is read after q
        {"q\r\n", 1, ""},
    };
    for (const auto& c : cases) {
        Outcome r = nx({}, c.input);
        EXPECT_EQ(r.status, 0);
        size_t prompts = 0;
        for (size_t p = r.out.find("0> "); p != std::string::npos; p = r.out.find("0> ", p + 1)) ++prompts;
        EXPECT_EQ(prompts, static_cast<size_t>(c.prompts)) << c.input << "\n" << r.out;
        EXPECT_TRUE(contains(r.out, c.shows)) << r.out;
    }
}

TEST_F(Utility, TableFaults) {
    const std::string adapters = c_scenario;
    const struct {
        const char* fault;
        int status;
        int signal;
        bool banner, header, prompt;
    } cases[] = {
        {"empty", 0, 0, false, false, false},   {"notable", 0, 0, true, false, true},
        {"noend", 0, 0, true, true, false},     {"exit 4", 4, 0, true, true, true},
        {"signal 9", 0, 9, true, false, false},
    };
    for (const auto& c : cases) {
        scenario(adapters + "[lnxfwupg]\nfault.table = " + c.fault + "\n");
        Outcome r = nx({}, "q\n");
        EXPECT_EQ(r.status, c.status) << c.fault;
        EXPECT_EQ(r.signal, c.signal) << c.fault;
        EXPECT_EQ(contains(r.out, "Upgrade Utility"), c.banner) << c.fault;
        EXPECT_EQ(contains(r.out, " MAC "), c.header) << c.fault;
        EXPECT_EQ(contains(r.out, "0>"), c.prompt) << c.fault;
        // The other utility is not affected.
        EXPECT_TRUE(contains(nx2({}, "q\n").out, "Quit")) << c.fault;
    }
}

TEST_F(Utility, DirAcceptsEveryMacFormAndOnlyItsFamily) {
    for (const char* mac : {"001018AABB01", "001018aabb01", "00:10:18:aa:bb:01", "00-10-18-AA-BB-01"}) {
        Outcome r = nx({mac, "dir"});
        EXPECT_EQ(r.status, 0) << mac << r.err;
        EXPECT_TRUE(contains(r.out, "BootCode    0x00000200  0x00003c00  valid  5704-v3.29\n")) << r.out;
    }
    Outcome other = nx2({"001018AABB01", "dir"});
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.out, "");
    EXPECT_TRUE(contains(other.err,
                         "lnxfwnx2: no NetXtreme II adapter has MAC address 001018AABB01; run lnxfwnx2 "
                         "without arguments to list them"))
        << other.err;
}

TEST_F(Utility, WrongCommandLinesGiveUsageAndStatus2) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"001018AABB01"}, "a command must follow the MAC address"},
        {{"nomac", "dir"}, "'nomac' is not a MAC address"},
        {{"001018AABB01", "dir", "-x"}, "dir takes no options"},
        {{"001018AABB01", "flash"}, "unknown command 'flash'"},
        {{"001018AABB01", "crc", "-y"}, "crc takes no options"},
        {{"001018AABB01", "upgrade", "-F", "a.bin", "nv.bak"}, "upgrade needs a component option"},
        {{"001018AABB01", "upgrade", "-bc", "-mba", "a.bin"}, "upgrade takes one component, got -bc and -mba"},
        {{"001018AABB01", "upgrade", "-pxe", "a.bin"}, "unknown upgrade option '-pxe'"},
        {{"001018AABB01", "upgrade", "-bc"}, "upgrade needs an image file and at most one save file"},
        {{"001018AABB01", "upgrade", "-bc", "a", "b", "c"}, "upgrade needs an image file and at most one save file"},
        {{"001018AABB01", "upgrade", "-ncsi", "a.bin"}, "NetXtreme adapters have no ncsi firmware (-ncsi)"},
        {{"001018AABB01", "cfg", "-ump"}, "cfg needs one setting and its value"},
        {{"001018AABB01", "cfg", "-bc", "0"}, "unknown cfg setting '-bc'"},
        {{"001018AABB01", "cfg", "-ump", "off"}, "cfg -ump takes 0 (off) or 1 (on), not 'off'"},
        {{"001018AABB01", "cfg", "-ncsi", "0"}, "NetXtreme adapters have no ncsi firmware (-ncsi)"},
    };
    for (const auto& c : cases) {
        Outcome r = nx(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_TRUE(contains(r.err, std::string("lnxfwupg: ") + c.message)) << r.err;
        EXPECT_EQ(r.out, "") << c.message;
    }
    EXPECT_TRUE(contains(nx2({"001018AABB03", "cfg", "-asf", "0"}).err, "NetXtreme II adapters have no asf firmware"));
}

TEST_F(Utility, UpgradeWritesBackupAndTheNewVersionPersists) {
    std::string img = image("1648bc.bin", "bc", "3.38", "1648");
    Outcome r = nx(upgradeArgs("001018AABB01", "bc", img));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Upgrading BootCode of adapter 1 (00:10:18:AA:BB:01) from 3.29 to 3.38 with " + img))
        << r.out;
    EXPECT_TRUE(contains(r.out, "Upgrade successful; the new firmware runs after the next reset.\n"));

    // The backup is an image of the old firmware.
    Image old;
    std::string error;
    ASSERT_TRUE(readImage(dir.file("nv.bak"), &old, &error)) << error;
    EXPECT_EQ(old.component, "bc");
    EXPECT_EQ(old.version, "3.29");
    EXPECT_TRUE(pathExists(dir.file("fwsim.state")));

    // Later runs see the new version; other adapters and components keep theirs.
    EXPECT_TRUE(contains(regionLine(Family::NetXtreme, "001018AABB01", "BootCode"), "5704-v3.38"));
    EXPECT_TRUE(contains(regionLine(Family::NetXtreme, "001018AABB01", "PXE"), "v8.3.11"));
    EXPECT_TRUE(contains(regionLine(Family::NetXtreme, "001018AABB05", "BootCode"), "5721-v3.61"));

    // Without -reset the adapter is reset; without a save file none is written.
    std::string mba = image("1659mba.bin", "mba", "8.4.0");
    Outcome r2 = nx({"001018AABB05", "upgrade", "-F", "-mba", mba});
    EXPECT_EQ(r2.status, 0) << r2.err;
    EXPECT_TRUE(contains(r2.out, "Resetting the adapter ... done\nUpgrade successful.\n")) << r2.out;
    EXPECT_FALSE(contains(r2.out, "Saving"));
    EXPECT_TRUE(contains(regionLine(Family::NetXtreme, "001018AABB05", "PXE"), "v8.4.0"));
}

TEST_F(Utility, UpgradeRefusalsChangeNothing) {
    image("bc.bin", "bc", "3.38");
    image("ipmi.bin", "ipmi", "1.3");
    image("1659bc.bin", "bc", "3.38", "1659");
    writeFile(dir.file("junk.bin"),
              "\x7f"
              "ELF...");
    const struct {
        std::string mac, comp, file;
        int status;
        std::string message;
    } cases[] = {
        {"001018AABB01", "bc", "missing.bin", 1,
         "cannot open image file '" + dir.file("missing.bin") + "': No such file or directory; nothing was written"},
        {"001018AABB01", "bc", "junk.bin", 1, "is not a firmware image"},
        {"001018AABB01", "bc", "ipmi.bin", 1, "holds ipmi firmware, not bc; nothing was written"},
        {"001018AABB01", "bc", "1659bc.bin", 1,
         "is made for device 1659, adapter 1 (00:10:18:AA:BB:01) is device 1648; nothing was written"},
        {"001018AABB01", "asf", "bc.bin", 1, "adapter 1 (00:10:18:AA:BB:01) has no BRCM ASF firmware to upgrade"},
        {"001018AABB09", "bc", "bc.bin", 1, "no NetXtreme adapter has MAC address 001018AABB09"},
    };
    for (const auto& c : cases) {
        Outcome r = nx(upgradeArgs(c.mac, c.comp, dir.file(c.file)));
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_EQ(r.err.find("lnxfwupg: "), 0u) << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_FALSE(pathExists(dir.file("nv.bak"))) << c.message;
        EXPECT_FALSE(pathExists(dir.file("fwsim.state"))) << c.message;
    }
    // The same version again is written only with -F.
    Outcome same =
        nx({"001018AABB01", "upgrade", "-noreset", "-bc", image("same.bin", "bc", "3.29"), dir.file("nv.bak")});
    EXPECT_EQ(same.status, 0);
    EXPECT_TRUE(contains(same.out, "already runs version 3.29; nothing written (-F writes it anyway)"));
    EXPECT_FALSE(pathExists(dir.file("nv.bak")));
}

TEST_F(Utility, UpgradeFaultsKeepTheOldVersion) {
    const std::string adapter =
        "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\nmba = 8.3.11\n";
    const struct {
        std::string fault;
        std::string comp;
        int status, signal;
    } cases[] = {
        {"fault.upgrade.bc = exit 2", "bc", 2, 0},
        {"fault.upgrade = exit 5", "bc", 5, 0},
        {"fault.upgrade.bc = signal SEGV", "bc", 0, 11},
        {"fault.upgrade.pxe = exit 3", "mba", 3, 0},
        {"fault.upgrade.mba = exit 3", "bc", 0, 0},                         // another component's fault does not strike
        {"fault.upgrade.bc = exit 6\nfault.upgrade = exit 7", "bc", 6, 0},  // the component's own wins
    };
    for (const auto& c : cases) {
        scenario(adapter + c.fault + "\n");
        remove(dir.file("fwsim.state").c_str());
        remove(dir.file("nv.bak").c_str());
        Outcome r = nx(upgradeArgs("001018AABB01", c.comp, image(c.comp + ".bin", c.comp, "9.9")));
        EXPECT_EQ(r.status, c.status) << c.fault;
        EXPECT_EQ(r.signal, c.signal) << c.fault;
        // The backup is written before the flash write fails.
        EXPECT_TRUE(pathExists(dir.file("nv.bak"))) << c.fault;
        bool failed = c.status || c.signal;
        std::string region = c.comp == "bc" ? "BootCode" : "PXE";
        EXPECT_EQ(contains(regionLine(Family::NetXtreme, "001018AABB01", region), "9.9"), !failed) << c.fault;
        if (c.status) {
            EXPECT_TRUE(contains(r.out, "Upgrade failed; adapter 1 (00:10:18:AA:BB:01) keeps")) << r.out;
        }
    }
}

TEST_F(Utility, CfgSwitchesManagementFirmwareAndPersists) {
    Outcome off = nx({"001018AABB01", "cfg", "-ump", "0"});
    EXPECT_EQ(off.status, 0) << off.err;
    EXPECT_TRUE(contains(off.out, "UMP firmware disabled on adapter 1 (00:10:18:AA:BB:01).\n"));
    EXPECT_EQ(regionLine(Family::NetXtreme, "001018AABB01", "UMP"), "");
    EXPECT_NE(regionLine(Family::NetXtreme, "001018AABB01", "ASFIPMI"), "");

    Outcome again = nx({"001018AABB01", "cfg", "-ump", "0"});
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(contains(again.out, "UMP firmware of adapter 1 (00:10:18:AA:BB:01) is already disabled.\n"));

    // A disabled component cannot be upgraded; switched on again it shows its version.
    std::string img = image("ump.bin", "ump", "1.2.0");
    EXPECT_EQ(nx(upgradeArgs("001018AABB01", "ump", img)).status, 1);
    EXPECT_EQ(nx({"001018AABB01", "cfg", "-ump", "1"}).status, 0);
    EXPECT_TRUE(contains(regionLine(Family::NetXtreme, "001018AABB01", "UMP"), "1.1.9"));

    // The NetXtreme II utility switches its own adapters' NCSI.
    EXPECT_EQ(nx2({"001018AABB03", "cfg", "-ncsi", "0"}).status, 0);
    EXPECT_EQ(regionLine(Family::NetXtremeII, "001018AABB03", "NCSI_X"), "");
    EXPECT_NE(regionLine(Family::NetXtremeII, "001018AABB03", "UMP"), "");

    Outcome absent = nx({"001018AABB01", "cfg", "-asf", "0"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_TRUE(contains(absent.err, "lnxfwupg: adapter 1 (00:10:18:AA:BB:01) has no BRCM ASF firmware")) << absent.err;
}

TEST_F(Utility, CfgFaultsChangeNothing) {
    const std::string adapter =
        "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\nasf = 2.10\nipmi = 1.0\n";
    const struct {
        std::string fault;
        int status, signal;
    } cases[] = {{"fault.cfg.asf = exit 3", 3, 0},
                 {"fault.cfg = exit 4", 4, 0},
                 {"fault.cfg.asf = signal 15", 0, 15},
                 {"fault.cfg.ipmi = exit 3", 0, 0}};
    for (const auto& c : cases) {
        scenario(adapter + c.fault + "\n");
        remove(dir.file("fwsim.state").c_str());
        Outcome r = nx({"001018AABB05", "cfg", "-asf", "0"});
        EXPECT_EQ(r.status, c.status) << c.fault;
        EXPECT_EQ(r.signal, c.signal) << c.fault;
        EXPECT_EQ(regionLine(Family::NetXtreme, "001018AABB05", "BRCM ASF") != "", c.status || c.signal) << c.fault;
    }
}

TEST_F(Utility, CrcNeedsExactlyY) {
    const struct {
        const char* input;
        int status;
    } cases[] = {{"y\n", 0},   {"y", 0},  {"y\r\n", 0}, {"n\n", 1}, {"Y\n", 1},
                 {"yes\n", 1}, {"\n", 1}, {"", 1},      {" y\n", 1}};
    for (const auto& c : cases) {
        Outcome r = nx2({"001018AABB03", "crc"}, c.input);
        EXPECT_EQ(r.status, c.status) << "answer '" << c.input << "'";
        EXPECT_TRUE(contains(r.out, "Check the CRC of every NVRAM region of adapter 1 (00:10:18:AA:BB:03)? (y/n) \n"));
        EXPECT_TRUE(
            contains(r.out, c.status ? "CRC check not confirmed; nothing was checked.\n" : "CRC check passed.\n"))
            << r.out;
    }
}

TEST_F(Utility, CrcFaultsStrikeAfterTheAnswer) {
    const std::string adapter = "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\n";
    scenario(adapter + "fault.crc = exit 9\n");
    Outcome r = nx({"001018AABB01", "crc"}, "y\n");
    EXPECT_EQ(r.status, 9);
    EXPECT_TRUE(contains(r.out, "MISMATCH")) << r.out;
    EXPECT_TRUE(contains(r.out, "CRC check failed.\n"));
    EXPECT_EQ(nx({"001018AABB01", "crc"}, "n\n").status, 1);  // not confirmed: nothing checked, no fault

    scenario(adapter + "fault.crc = signal ABRT\n");
    Outcome s = nx({"001018AABB01", "crc"}, "y\n");
    EXPECT_EQ(s.signal, 6);
    EXPECT_FALSE(contains(s.out, "CRC check"));
}

TEST_F(Utility, DirFaults) {
    const std::string adapter = "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\nbc = 3.29\n";
    const struct {
        const char* fault;
        int status, signal;
        bool listing;
    } cases[] = {{"exit 3", 3, 0, true}, {"signal 9", 0, 9, false}, {"empty", 0, 0, false}, {"overlong", 0, 0, true}};
    for (const auto& c : cases) {
        scenario(adapter + "fault.dir = " + c.fault + "\n");
        Outcome r = nx({"001018AABB01", "dir"});
        EXPECT_EQ(r.status, c.status) << c.fault;
        EXPECT_EQ(r.signal, c.signal) << c.fault;
        EXPECT_EQ(contains(r.out, "BootCode"), c.listing) << c.fault;
        if (!c.listing) {
            EXPECT_EQ(r.out, "") << c.fault;
        }
    }
}

TEST_F(Utility, TraceRecordsEveryRunAndBadSetupsExitWith3) {
    nx({}, "q\n");
    nx2({"001018AABB03", "crc"}, "y\n");
    nx({"bad"});
    EXPECT_EQ(readFile(dir.file("trace")), "lnxfwupg\nlnxfwnx2 001018AABB03 crc\nlnxfwupg bad\n");

    scenario("[adapter]\nfamily = NetXtreme\nbogus = 1\n");
    Outcome r = nx({}, "q\n");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "lnxfwupg: " + dir.file("fwsim.conf") +
                  ":3: unknown key 'bogus' in [adapter] (expected family, "
                  "devid, mac, bc, ipmi, asf, mba, ump, ncsi, ib, chip, 5703s, bus, name, dirline or fault.PLACE)\n");

    scenario(c_scenario);
    writeFile(dir.file("fwsim.state"), "version 001018AABB01 bc\n");
    Outcome s = nx({"001018AABB01", "dir"});
    EXPECT_EQ(s.status, 3);
    EXPECT_TRUE(contains(s.err, dir.file("fwsim.state") + ":1: not a state line")) << s.err;
}
