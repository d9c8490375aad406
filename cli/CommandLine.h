#pragma once

#include "IndexJob.h"

#include <string>

// How much the command line prints while a job runs.
enum class Output { Status, Verbose, Quiet };

// Everything the user asked for on the command line.
struct CommandLine {
    JobSettings job;
    Output output = Output::Status;
    std::string logPath;
    bool noCache = false;  // neither use nor keep the page cache
    bool watch = false;    // index again whenever SOURCE changes
};

// Parses the arguments into commandLine. Returns -1 to go on, or the exit status to end
// with at once (0 after --help or --version, 2 after a usage error, both printed).
int parseCommandLine(int argc, char** argv, CommandLine& commandLine);
