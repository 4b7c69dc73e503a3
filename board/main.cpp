// zorgaval-board: a live board of telnet callers around the Zor Gaval module.
#include "board/program.h"

int main(int argc, char** argv) { return board::program(argc, argv); }
