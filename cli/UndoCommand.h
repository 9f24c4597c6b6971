#pragma once

#include "cli/CommandLine.h"

#include <atomic>

class Console;

// parafold-cli undo: lists the journal of SOURCE, or puts back the files of one of its runs
// (the last one not undone yet by default). Restored files are listed on stdout, files
// that are not restored on stderr with the reason.
int UndoCommand(const CommandRequest &request, Console &console, const std::atomic_bool &stop,
                const std::atomic_bool &interrupted);
