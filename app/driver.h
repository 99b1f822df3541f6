// The program: one search from the command line to the exit code.
#pragma once

// Answers the number of matching files, 0 after the usage text, -1 when
// standard output could not be written; ends the process itself with -1
// after a fatal message.
int PackhoundMain(int argc, char* argv[]);
