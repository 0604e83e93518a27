#pragma once
// The work of each actionlog command, over the same exchange controller,
// serial port component and export file as the window.

#include "ui/cli/CliOptions.h"

enum TExitStatus : int {
    esDone = 0,
    esNoAnswer = 1,    // the watchdog, or a download that ended unanswered
    esUsage = 2,
    esPortFailed = 3,  // the port could not be opened or failed
    esSaveFailed = 4,  // the log file could not be written
    esInterrupted = 130,
};

// Runs a parsed command line; messages go to the standard error, the
// command's data to the standard output.
int RunCommand(const TCliOptions& Options);
