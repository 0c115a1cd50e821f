// `simulate`: runs a simulated scale from the command line.
#pragma once

// argv[0] is the command's own name ("simulate"; a leading program name
// followed by "simulate" is accepted too). Returns the process exit code.
int RunSimulate(int argc, char** argv);
