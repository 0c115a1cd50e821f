// `zelscales detect`: finds which scale model answers on a port, and at
// which speed, without sending it any command.
#pragma once

// argv[0] is "detect"; the rest are the command line's options. Exit code 0
// when a scale was identified, 1 when nothing answered (or the port could not
// be opened), 2 for bad usage.
int RunDetect(int argc, char** argv);
