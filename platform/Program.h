#pragma once

#include <string>

// What differs between systems in how the programs present themselves.
namespace platform {

// The file name of a program built as `stem`: "Parafold.exe" on Windows, "Parafold" elsewhere.
std::string ExecutableFileName(const std::string &stem);

// True where reports open in Notepad (Windows), false where the desktop's viewer opens them.
bool ReportsOpenInNotepad();

// Has every thread allocate from one heap, called first thing in main. The workers hand the
// new contents of large files to the writing thread: with a heap per thread each one keeps
// the most it ever held, and the process twice what it needs at once.
void ShareOneHeap();

// How many files the process may hold open at once, first raised towards a few thousand
// where its soft limit is lower than it is allowed: a run holds two for each file written and
// not yet renamed. Large where the system sets no such limit.
int OpenFilesAllowed();

// Turns a request to end the process (SIGTERM, SIGINT, SIGHUP) into a byte on a pipe whose
// reading end it returns, non-blocking; -1 where there are no such signals or no pipe could
// be made. One at a time; RemoveTerminationPipe puts the previous handlers back.
int InstallTerminationPipe();
void RemoveTerminationPipe();
// Reads what waits on the pipe.
void DrainTerminationPipe();

} // namespace platform
