// Screen and log texts of nicburn that several end-to-end tests expect, and two text checks.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace nictexts {

inline const char c_banner[] = "ZAV Ethernet Firmware Update Tool, Version 1.0.9\n\n";
inline const char c_header[] = "Broadcom Firmware Update Log.\n\n";
inline const char c_tableHead[] =
    "\n    ADAPTER MAC    \tBOOT\tIPMI\tASF\tPXE\tUMP\tNCSI\tiSCSI\n"
    "-------------------\t----\t----\t---\t---\t---\t---\t---\n";
inline const char c_logPath[] = "/var/log/ZAV_Support/ethflash.log";

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
