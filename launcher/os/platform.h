// Platform constants from which the launcher composes file names and command lines.
// This is the Linux set; another host gets its own header with the same names.
#pragma once

// Joins directory and file names.
constexpr char FILE_SEPARATOR = '/';
// Appended to executable names.
constexpr const char* EXE_EXT = "";
// Target of output redirections in composed commands.
constexpr const char* DEV_NULL = "/dev/null";
