// Path tests, the current and temporary directory, and the process id.
#pragma once

#include <cstddef>

// The directory under which the launcher makes its working directory and temporary files is
// chosen once at start (chooseTempDir) and kept in the run's context (launcher/context.h).

// tmpdir (the value of TMPDIR, may be null) when it is an absolute path of an existing
// directory, else "/tmp". The result points into tmpdir or a constant.
const char* chooseTempDir(const char* tmpdir);

// 1 when the file system holding path is mounted noexec (statvfs ST_NOEXEC), else 0 (also when
// that cannot be found out).
int isNoExecFileSystem(const char* path);

// 1 when stat (following symbolic links) succeeds and the object is a directory, else 0.
int dirExists(const char* path);
// 1 when stat succeeds and the object is anything but a directory (file, FIFO, device...), else 0.
int fileExists(const char* path);
// 1 when path starts with '/', else 0.
int isAbsolutePath(const char* path);

// Copies the temporary directory tempDir into dst. 0, or -1 with dst "" when it does not fit.
int getTempDir(const char* tempDir, char* dst, size_t size);
// The current working directory into buf. 0, or -1 with buf "" (also when it does not fit).
int getCurrentDir(char* buf, size_t size);
// 0 or -1.
int changeDir(const char* path);
int getPid();

// Creates the directory path itself (not its parents) atomically with mode 0700.
// 0 when made; 1 when anything of that name exists (left alone, also a dangling link);
// -1 on any other failure.
int makeDirPrivate(const char* path);

// Enters the directory path that makeDirPrivate just made, without following a symbolic link
// there and only when it is still a directory of this user that no one else may open (where
// another user may rename entries of its parent, the name could have been swapped meanwhile).
// 0 when entered; 1 when the object there is not that directory (not entered); -1 when it
// cannot be opened or entered.
int enterPrivateDir(const char* path);

// Removes the entry name of the directory parent (the entry itself, not a path), with
// everything below it, without a shell and without following a symbolic link at any level.
// 0 when it is gone (also when there was nothing of that name), else the errno of the first
// failure; what could be removed is removed either way.
int removeTreeIn(const char* parent, const char* name);
