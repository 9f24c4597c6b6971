#pragma once

#include "cli/CommandLine.h"

#include <QString>
#include <atomic>

class Console;

enum ExitStatus
{
    ExitFound = 0,
    ExitNoneFound = 1,
    ExitFailure = 2,
    ExitInterrupted = 130,
};

// Checks the request as the window's launch would, runs it and reports on console.
// stop is set from outside to end the run after the file in hand; interrupted tells
// whether that came from a signal.
int RunCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
               const std::atomic_bool &interrupted);

// Absolute and clean, with one trailing "/" as the window's folder picker gives it.
QString AbsoluteFolder(const QString &path);
