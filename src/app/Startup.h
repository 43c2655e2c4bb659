#pragma once

// The program's entry: decides the run's role from the command line, creates the
// windows of that role (or registers, or hands the file to the running viewer)
// and returns the exit code.
int PictrelMain(int argc, char** argv);
