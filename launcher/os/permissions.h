// File modes of the files the launcher writes.
#pragma once

// Mode 0755: readable and executable by everyone, writable by the owner only. 0 or -1.
int makeFileExecutable(const char* path);
int makeFileReadable(const char* path);
