// The small files of a run: whether a name exists, removing one, and the two answer files the
// vendor utility reads its keystrokes from.
#pragma once

struct RunContext;
struct RunLog;

// True when a directory entry named path exists (a file status query succeeds).
bool fileExist(const char* path);

// When path exists, runs "rm " followed by path with run's runner; the status is not used.
// A path that would not fit the 256-character command is refused with a message in run's log
// and nothing is run. Paths given here are the tool's own names or validated adapter texts.
void deleteFile(const RunContext& run, const char* path);

// Creates (or truncates) "q" in the current directory holding "q\n". Returns true; on failure
// logs (in log) and shows "Error! Cannot create temporary file \"q\".\n" and returns false.
bool createQuitFile(const RunLog& log);

// The same for "y" holding "y\n", with the message naming "y".
bool create_yes_response_file(const RunLog& log);
