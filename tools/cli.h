// The zelscales command line: every command with its own options on CLI11,
// the options they share defined once.
#pragma once

#include <string>

#include "tools/commands.h"

#if !defined(_WIN32) && defined(__has_include)
#if __has_include("sim/simulate_cli.h")
#include "sim/simulate_cli.h"
#define ZEL_HAVE_SIMULATE 1
#endif
#endif

namespace zelscales {

struct CommandLine {
    std::string command;  // the command word
    Options options;
#ifdef ZEL_HAVE_SIMULATE
    SimulateOptions simulate;
#endif
};

// ParseCommandLine's result when the command is to run.
constexpr int kRunCommand = -1;

// Reads argv into `line`: kRunCommand, or the exit status after the usage
// asked for went to stdout (0) or the fault was told in one line on stderr
// (2). The values of the options that reach a scale are checked here too
// (CheckOptions), before anything is loaded or opened.
int ParseCommandLine(int argc, const char* const* argv, CommandLine& line);

}  // namespace zelscales
