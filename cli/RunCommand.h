#pragma once

#include "cli/CommandLine.h"
#include "engine/run/RunBatch.h"

#include <QString>
#include <atomic>
#include <functional>

class Console;

enum ExitStatus
{
    ExitFound = 0,
    ExitNoneFound = 1,
    ExitFailure = 2,
    ExitBusy = 75, // another operation works on the folder, and --no-wait
    ExitInterrupted = 130,
};

// Checks the request as the window's launch would, runs it and reports on console.
// stop is set from outside to end the run after the file in hand; interrupted tells
// whether that came from a signal.
int RunCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
               const std::atomic_bool &interrupted);

// Fills settings from the request as the window's launch captures them; false with a
// message when the run must not start. warnings, when given, gets what the user should know
// before the run, which does not stop it (rules of a table that rewrite earlier rules' output).
// A set stop ends the check of a rule table's chains early, and the capture fails.
bool CaptureSettings(const CommandRequest &request, BatchSettings &settings, QString &message,
                     QStringList *warnings = nullptr, const std::atomic_bool *stop = nullptr);

// Runs with the command's console: found paths on stdout, failures and the statistics on
// stderr, the progress line on a terminal; returns the exit status. run is RunBatch or a
// function that ends in it; observer may come with members of the caller's own.
using Runner = std::function<RunResult(const RunObserver &observer, const RunOptions &options)>;
int RunWithConsole(const CommandRequest &request, Operation operation, Console &console,
                   std::atomic_bool &stop, const std::atomic_bool &interrupted, const Runner &run,
                   RunObserver observer = {});

// A refusal in the command line's own words: the path it is about, and the option that
// does what the user may have meant, where the window's words name its check boxes.
QString CliRefusal(const QString &message, const BatchSettings &settings);

// Absolute and clean, with one trailing "/" as the window's folder picker gives it.
QString AbsoluteFolder(const QString &path);
