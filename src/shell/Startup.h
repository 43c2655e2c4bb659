#pragma once

#include "app/CommandLine.h"

#include <QString>

// The program's entry: decides the run's role from the command line, creates the
// windows of that role (or registers, or hands the file to the running viewer)
// and returns the exit code. With PICTREL_TRACE_OPEN set, a hand-off that a
// viewer took prints "pictrel: handed over <path>" on standard error.
int PictrelMain(int argc, char** argv);

// What the viewer of a "/view" run opens at start: the file argument when it
// names an existing file or folder (a folder shows its first picture); anything
// else (a pipe, a device, a name that does not exist) leaves the viewer empty.
[[nodiscard]] QString ViewerStartFile(const TCommandLine& line);
