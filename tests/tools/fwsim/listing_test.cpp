// The listings must read back the way the update tool reads them: markers as bare substrings, the
// first matching line wins, the version is the word after the last of " -vX" on the line.
#include "tools/fwsim/listing.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace fwsim;

namespace {

Scenario parse(const std::string& text) {
    Scenario sc;
    std::string error;
    EXPECT_TRUE(parseScenario(text, "t.conf", &sc, &error)) << error;
    return sc;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// The update tool's reading of a listing: first line holding `marker`, or "" when none does.
std::string firstLineWith(const std::string& listing, const std::string& marker) {
    for (const auto& l : lines(listing))
        if (l.find(marker) != std::string::npos) return l;
    return "";
}

// The version the update tool cuts out of a marker line.
std::string versionOf(const std::string& line) {
    size_t cut = line.find_last_of(" -vX");
    std::vector<std::string> w = words(cut == std::string::npos ? line : line.substr(cut + 1));
    return w.empty() ? "" : w[0];
}

// Rows of the adapter table as the update tool reads them: after the " MAC " header and the line
// under it, up to the line holding the end marker; rows of three words or more give (devid, mac).
std::vector<std::pair<std::string, std::string>> tableRows(const std::string& out, const std::string& endMarker) {
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<std::string> ls = lines(out);
    size_t i = 0;
    while (i < ls.size() && ls[i].find(" MAC ") == std::string::npos) ++i;
    for (i += 2; i < ls.size(); ++i) {
        if (ls[i].find(endMarker) != std::string::npos) break;
        std::vector<std::string> w = words(ls[i]);
        if (w.size() >= 3) rows.emplace_back(w[1], w[2]);
    }
    return rows;
}

const char c_scenario[] =
    "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 00:10:18:aa:bb:01\n"
    "bc = 3.29\nipmi = 1.2.3\nasf = 2.10\nmba = 8.3.11\nump = 1.1.9\n"
    "[adapter]\nfamily = NetXtreme II\ndevid = 163A\nmac = 00:10:18:aa:bb:03\n"
    "bc = 4.4.1\nipmi = 1.0.2\nump = 1.4\nmba = 2.0.8b\nncsi = 2.0.3\nib = 2.1.1\n"
    "[adapter]\nfamily = NetXtreme\ndevid = 16A7\nmac = 00:10:18:aa:bb:02\n"
    "bc = 2.80\nmba = 7.0.1\n5703s = yes\n";

}  // namespace

TEST(Listing, TablesReadBackPerFamily) {
    Scenario sc = parse(c_scenario);
    std::string nx = banner(sc, Family::NetXtreme) + adapterTable(sc, Family::NetXtreme) + prompt(Family::NetXtreme);
    std::string nx2 =
        banner(sc, Family::NetXtremeII) + adapterTable(sc, Family::NetXtremeII) + prompt(Family::NetXtremeII);
    using Rows = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(tableRows(nx, "0>"), (Rows{{"1648", "001018AABB01"}, {"16A7", "001018AABB02"}}));
    EXPECT_EQ(tableRows(nx2, "Quit"), (Rows{{"163A", "001018AABB03"}}));
    // The end markers stand after the rows only, and the prompt ends the output.
    EXPECT_EQ(nx.substr(nx.size() - 4), "\n0> ");
    EXPECT_EQ(nx.find("0>"), nx.size() - 3);
    EXPECT_EQ(nx2.find("Quit"), nx2.rfind("Quit"));
    EXPECT_GT(nx2.find("Quit"), nx2.find("001018AABB03"));
    // Every MAC of a row fits the update tool's 16-byte word buffer.
    for (const auto& r : tableRows(nx, "0>")) EXPECT_LE(r.second.size(), 15u);
}

TEST(Listing, TableWithoutAdaptersHasHeaderAndNoRows) {
    Scenario sc = parse("");
    std::string nx = adapterTable(sc, Family::NetXtreme) + prompt(Family::NetXtreme);
    EXPECT_NE(nx.find(" MAC "), std::string::npos);
    EXPECT_TRUE(tableRows(nx, "0>").empty());
}

TEST(Listing, RowFaults) {
    std::string base = "[adapter]\nfamily = NetXtreme\ndevid = 1648\nmac = 001018AABB01\n";
    std::string second = "[adapter]\nfamily = NetXtreme\ndevid = 1659\nmac = 001018AABB05\n";
    using Rows = std::vector<std::pair<std::string, std::string>>;
    const struct {
        std::string fault;
        Rows rows;
    } cases[] = {
        {"malformed", Rows{{"1659", "001018AABB05"}}},
        {"hidden", Rows{{"1659", "001018AABB05"}}},
        {"overlong", Rows{{"1648", "001018AABB01"}, {"1659", "001018AABB05"}}},
        {"text 9 ;rm 0>", Rows{}},  // a row with the end marker ends the table
        {"text 1 1648 00:10:18:aa:bb:01:ff:ee:dd",
         Rows{{"1648", "00:10:18:aa:bb:01:ff:ee:dd"}, {"1659", "001018AABB05"}}},
    };
    for (const auto& c : cases) {
        Scenario sc = parse(base + "fault.row = " + c.fault + "\n" + second);
        std::string out = adapterTable(sc, Family::NetXtreme) + prompt(Family::NetXtreme);
        EXPECT_EQ(tableRows(out, "0>"), c.rows) << c.fault << "\n" << out;
        if (c.fault == "overlong") {
            std::string row = firstLineWith(out, "001018AABB01");
            EXPECT_GT(row.size(), 254u);
            // What lies past the first 254 characters is a single word: no extra row appears.
            EXPECT_EQ(words(row.substr(254)).size(), 1u);
        }
        if (c.fault == "malformed") {
            EXPECT_EQ(words(firstLineWith(out, " 1648")).size(), 2u);
        }
    }
}

TEST(Listing, NetXtremeMarkersGiveTheScenarioVersions) {
    Scenario sc = parse(c_scenario);
    std::string dir = banner(sc, Family::NetXtreme) + dirListing(sc.adapters[0]);
    const struct {
        const char* marker;
        const char* version;
    } cases[] = {{"BootCode", "3.29"}, {"ASFIPMI", "1.2.3"}, {"UMP", "1.1.9"}, {"BRCM ASF", "2.10"}, {"PXE", "8.3.11"}};
    for (const auto& c : cases)
        EXPECT_EQ(versionOf(firstLineWith(dir, c.marker)), c.version) << c.marker << "\n" << dir;
    // Chip from the BootCode line's sixth word.
    std::vector<std::string> boot = words(firstLineWith(dir, "BootCode"));
    ASSERT_GE(boot.size(), 6u);
    EXPECT_EQ(boot[5], "5704-v3.29");
    EXPECT_EQ(firstLineWith(dir, "5703s"), "");
}

TEST(Listing, NetXtremeIIMarkersGiveTheScenarioVersions) {
    Scenario sc = parse(c_scenario);
    std::string dir = banner(sc, Family::NetXtremeII) + dirListing(sc.adapters[1]);
    const struct {
        const char* marker;
        const char* version;
    } cases[] = {{"BC1", "4.4.1"},    {" IPMI ", "1.0.2"}, {" UMP ", "1.4"},
                 {" MBA ", "2.0.8b"}, {"NCSI_X", "2.0.3"}, {"ISCSI", "2.1.1"}};
    for (const auto& c : cases)
        EXPECT_EQ(versionOf(firstLineWith(dir, c.marker)), c.version) << c.marker << "\n" << dir;
    EXPECT_EQ(firstLineWith(dir, " ipmi "), "");
    EXPECT_EQ(firstLineWith(dir, " mba "), "");
}

// Only region lines of a "dir" listing may carry a marker, whatever the adapter: its banner,
// headers and adapter line are searched too. A MAC full of marker letters must not form one.
TEST(Listing, NoMarkerOutsideItsRegionLine) {
    const char* markers[] = {"BootCode", "ASFIPMI", "UMP",   "BRCM ASF", "PXE",    "BC1",   " ipmi ",
                             " IPMI ",   " UMP ",   " mba ", " MBA ",    "NCSI_X", "ISCSI", "5703s"};
    for (const char* family : {"NetXtreme", "NetXtreme II"}) {
        Scenario sc = parse(std::string("[adapter]\nfamily = ") + family + "\ndevid = 16BC\nmac = 0BC1BC1BC1BC\n");
        Family f = sc.adapters[0].family;
        std::string text = banner(sc, f) + dirListing(sc.adapters[0]);
        for (const char* m : markers) EXPECT_EQ(firstLineWith(text, m), "") << family << ": " << m << "\n" << text;
    }
}

TEST(Listing, BootCodeChipWord) {
    const struct {
        std::string extra;
        std::string devId;
        std::string sixth;
    } cases[] = {
        {"", "1659", "5721-v3.61"},  // chip of the device id
        {"chip = 5705\n", "1659", "5705-v3.61"},
        {"chip = none\n", "1659", "v3.61"},  // no '-': the update tool keeps its own chip name
        {"", "16A7", "v3.61"},               // no single chip for 16A7
        {"", "16c7", "v3.61"},
        {"chip = 5703s\n", "16A7", "5703s-v3.61"},
    };
    for (const auto& c : cases) {
        Scenario sc =
            parse("[adapter]\nfamily = NetXtreme\ndevid = " + c.devId + "\nmac = 001018AABB01\nbc = 3.61\n" + c.extra);
        std::string line = firstLineWith(dirListing(sc.adapters[0]), "BootCode");
        std::vector<std::string> w = words(line);
        ASSERT_GE(w.size(), 6u) << line;
        EXPECT_EQ(w[5], c.sixth) << c.devId << " " << c.extra;
        EXPECT_EQ(versionOf(line), "3.61");
    }
}

TEST(Listing, OptionalLinesAndDirFaults) {
    std::string base = "[adapter]\nfamily = NetXtreme\ndevid = 16A7\nmac = 001018AABB02\nbc = 2.80\nump = 1.0\n";
    Scenario sc = parse(base + "5703s = yes\ndirline = UMP  extra 9.9\n");
    std::string dir = dirListing(sc.adapters[0]);
    EXPECT_NE(firstLineWith(dir, "5703s"), "");
    EXPECT_LT(dir.find("  UMP  "), dir.find("UMP  extra 9.9"));  // raw lines come last
    EXPECT_EQ(dir.substr(dir.size() - 15), "UMP  extra 9.9\n");

    EXPECT_EQ(dirListing(parse(base + "fault.dir = empty\n").adapters[0]), "");
    std::string longDir = dirListing(parse(base + "fault.dir = overlong\n").adapters[0]);
    std::string boot = firstLineWith(longDir, "BootCode");
    EXPECT_GT(boot.size(), 300u);
    EXPECT_NE(boot.find("v2.80  ...."), std::string::npos);

    // A component without a region on this family never shows.
    Scenario nx2 = parse("[adapter]\nfamily = NetXtreme II\ndevid = 164C\nmac = 001018AABB03\nbc = 4.4\n");
    EXPECT_EQ(firstLineWith(dirListing(nx2.adapters[0]), "ASF"), "");
}
