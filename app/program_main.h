// The program's command line, the same on the board and on the simulated
// board: no arguments runs the test; the loopback self-test and the
// answers to --help and --version touch no register.
#pragma once

// argv[0] is the program's name. Returns the exit status (app/exit_status.h).
int ProgramMain(int argc, char** argv);
