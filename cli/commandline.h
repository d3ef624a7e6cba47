#pragma once

// feederbench-cli: the bench's work from a command line, for the line's
// station scripts. The same device list, operations and result lines as the
// window, over a serial port and standard output.

#include <QStringList>

// The exit status a station script decides by.
enum ExitStatus {
    kExitPassed = 0,     // done, and the unit passed
    kExitUnitFailed = 1, // the unit failed: no answer, an exception, a bad reply
    kExitToolFailed = 2, // the tool could not do its work: usage, files, port, Ctrl+C
};

// Runs the command that arguments (without the program's name) ask for;
// needs a QCoreApplication. Returns the exit status.
int runCommandLine(const QStringList &arguments);
