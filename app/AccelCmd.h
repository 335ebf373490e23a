#pragma once

// Reads the command line into the process-wide flags and, for a set request,
// the level. True when it forms exactly one valid request.
bool ProcessCmdLine(int argc, char** argv);

// The whole run: command line, thresholds, request. Returns the exit status.
int RunAccelCmd(int argc, char** argv);
