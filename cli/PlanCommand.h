#pragma once

#include "cli/CommandLine.h"

#include <QString>
#include <atomic>
#include <functional>

class Console;
struct FileDecision;

// find --context: finds each matched file's lines that hold a term, with that many lines
// around, on the worker that decided the file, and keeps them with the decision.
std::function<void(const QString &relativePath, FileDecision &decision)>
FoundLinesFinder(const BatchSettings &settings, int context);
// Prints the lines FoundLinesFinder kept, as "PATH:LINE:TEXT", those around as
// "PATH-LINE-TEXT" and "--" between groups, as grep prints them.
std::function<void(const QString &relativePath, const FileDecision &decision)>
FoundLinesPrinter(const BatchSettings &settings, Console &console);

// --diff and --plan: decides every file as the run would, writes nothing but the plan file,
// and exits 0 when something would change, 1 when nothing would.
int PlanCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
                const std::atomic_bool &interrupted);

// apply PLAN: the run the plan was made for, on exactly its files.
int ApplyCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
                 const std::atomic_bool &interrupted);
