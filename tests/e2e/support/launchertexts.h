// Screen texts of the launcher that several tests expect: its fixed messages and the debug
// progress lines every run prints in the same order.
#pragma once

#include <cstdint>
#include <string>

namespace launchertexts {

// When no clause fits; description is the system's line without its newline.
inline std::string osMismatch(const std::string& description) {
    return "ERROR!! The system does not meet the OS requirements of the package.\n\n"
           "        The current system is identified as follows:\n\n"
           "        " +
           description + "\n\n";
}

inline const char c_seekDirectory[] = "Failed seeking to package directory\n";

// The package directory does not fit its file.
inline std::string incomplete(unsigned long long total, unsigned long long fileLength) {
    return "Failed checking package directory: the elements and the directory add up to " + std::to_string(total) +
           " bytes, but the package file is " + std::to_string(fileLength) +
           " bytes; the package file is damaged or incomplete\n";
}
inline std::string tooBig(int element, uint32_t size) {
    static const char* const names[] = {"launcher", "unzip utility", "package image", "package boot config"};
    return "Failed checking package directory: element " + std::to_string(element) + " '" + names[element] + "' is " +
           std::to_string(size) + " bytes, 2 GiB or more\n";
}
inline std::string addsUpTo(unsigned long long total) {
    return "Failed checking package directory: the elements and the directory add up to " + std::to_string(total) +
           " bytes, 2 GiB or more\n";
}

// Debug progress lines, in the order a run prints them.
inline const char c_debugLevel1[] = "++ Running in debug mode (level=1).\n";
inline const char c_extractingBootCfg[] = "++ Extracting 'package boot config'...\n";
inline const char c_extractingImage[] = "Extracting 'package image'...\n";
inline const char c_extractingUnzip[] = "++ Extracting 'unzip utility'...\n";
inline const char c_unzippingImage[] = "++ Unzipping 'package image'...\n";
inline const char c_processingBootCfg[] = "++ Processing 'package boot config'...\n";

}  // namespace launchertexts
