// What the launcher and the programs a package starts agree on: the variables the launcher
// exports, the name of its working directories and the folder for support logs. Names only; who
// sets and who reads them is said where they are used.
#pragma once

// The six variables the launcher exports to the package's commands.
inline constexpr char c_envOrigCurrDir[] = "ZAV_RQ_PKG_ORIG_CURR_DIR";
inline constexpr char c_envDistroName[] = "ZAV_RQ_PKG_LINUX_DISTRO_NAME";
inline constexpr char c_envDistroLevel[] = "ZAV_RQ_PKG_LINUX_DISTRO_LEVEL";
inline constexpr char c_envUpdateLevel[] = "ZAV_RQ_PKG_LINUX_UPDATE_LEVEL";
inline constexpr char c_envKernelLevel[] = "ZAV_RQ_PKG_LINUX_KERNEL_LEVEL";
inline constexpr char c_envProcessor[] = "ZAV_RQ_PKG_LINUX_PROCESSOR";

// Start of the name of every file or folder the launcher makes in the temporary directory: the
// working directory is this prefix and eight hexadecimal digits.
inline constexpr char c_workPrefix[] = "zav_rq_pkg_";

// Where support output and the update tool's logs go, with its closing '/'.
inline constexpr char c_supportLogDir[] = "/var/log/ZAV_Support/";
