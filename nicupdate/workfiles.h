// The tool's working files: every one lies in the current directory (the package's folder for
// the running processor), is made and removed by the tool itself, and is named here only.
#pragma once

// Answer file of the adapter listing: "q\n" quits the utility's prompt. Made at start, removed
// at the end of the run.
inline constexpr char c_szQuitFile[] = "q";
// Answer file of the CRC check: "y\n" confirms it. Exists only while the check runs.
inline constexpr char c_szYesFile[] = "y";
// The utility's adapter listing, read into a list and removed at once.
inline constexpr char c_szDeviceListing[] = "devices";
// The save file of every upgrade command; removed after each component attempt.
inline constexpr char c_szBackupFile[] = "nv.bak";
// Each adapter's component listing is a file named by its MAC address (devlist.h).
