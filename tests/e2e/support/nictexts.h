// Screen and log texts of nicburn that several end-to-end tests expect, and two text checks.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace nictexts {

// NICBURN_VERSION: the project version, given by the build.
inline const char c_banner[] = "ZAV Ethernet Firmware Update Tool, Version " NICBURN_VERSION "\n\n";
inline const char c_header[] = "Broadcom Firmware Update Log.\n\n";
inline const char c_tableHead[] =
    "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
    "-------------------\t----\t----\t---\t---\t---\t---\t---\n";
inline const char c_logPath[] = "/var/log/ZAV_Support/ethflash.log";

// The demo package's adapters before and after its update run (demo/scenarios/default.conf).
inline const char c_demoTableBefore[] =
    "0010180A0101 (5704)\t3.29\t1.2.3\tNA\t8.3.11\tNA\tNA\tNA\n"
    "0010180A0102 (5721)\t3.61\t1.2.3\t6.03\t8.3.11\tNA\tNA\tNA\n"
    "0010180A0103 (unknown)\t2.80\tNA\tNA\t7.0.1\tNA\tNA\tNA\n"
    "0010180B0201 (5709)\t4.6.4\t1.2.0\tNA\t4.4.1\tNA\tNA\tNA\n"
    "0010180B0202 (5709s)\t4.6.4\t1.2.0\tNA\t4.4.1\tNA\t2.0.3\t2.7.1\n"
    "0010180B0203 (5708)\t4.4.1\t1.0.2\tNA\t4.2.0\t1.4.0\tNA\tNA\n";
inline const char c_demoTableAfter[] =
    "0010180A0101 (5704)\t3.38\t1.3.4\tNA\t8.3.15\tNA\tNA\tNA\n"
    "0010180A0102 (5721)\t3.66\t1.3.4\t6.08\t8.3.15\tNA\tNA\tNA\n"
    "0010180A0103 (unknown)\t2.95\tNA\tNA\t7.2.4\tNA\tNA\tNA\n"
    "0010180B0201 (5709)\t5.2.3\t1.3.4\tNA\t4.6.4\tNA\tNA\tNA\n"
    "0010180B0202 (5709s)\t5.2.3\t1.3.4\tNA\t4.6.4\tNA\t2.1.7\t2.9.3\n"
    "0010180B0203 (5708)\t5.2.3\t1.3.4\tNA\t4.6.4\t1.5.6\tNA\tNA\n";

inline std::string errorsOccurred(const std::string& log = c_logPath) {
    return "\n\nOne or more errors occurred during the firmware update process. See " + log +
           " for more information.\n";
}

inline std::string updateComplete(const std::string& log = c_logPath) {
    return "\n\nUpdate complete. The firmware update log has been saved in " + log + ".\n";
}

inline std::string noAdapters(const std::string& family) {
    return "\nWarning. No Broadcom " + family + " adapters found.\n";
}

// One row of the version table.
inline std::string row(const std::string& mac, const std::string& chip, const std::vector<std::string>& versions) {
    std::string r = mac + " (" + chip + ")";
    for (const auto& v : versions) r += "\t" + v;
    return r + "\n";
}

// Screen text of a CRC check: each adapter's MAC with "successful" or "failed".
inline std::string crcScreen(const std::vector<std::pair<std::string, bool>>& results) {
    std::string t = "\nNow starting a CRC check for each Broadcom Ethernet adapter.\n";
    for (const auto& r : results)
        t += "Performing CRC check for device " + r.first + (r.second ? "\t---> successful\n" : "\t---> failed\n");
    return t + "\nCRC check complete.\n";
}

// Screen line of one component update.
inline std::string updateLine(const std::string& mac, const std::string& file, bool ok) {
    return "Updating " + mac + " using file " + file + (ok ? "\t---> Update successful\n" : "\t---> Update failed\n");
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// True when `parts` stand in `text` in this order.
inline ::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const auto& p : parts) {
        size_t found = text.find(p, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing (in order): \"" << p << "\"\nin:\n" << text;
        at = found + p.size();
    }
    return ::testing::AssertionSuccess();
}

}  // namespace nictexts
