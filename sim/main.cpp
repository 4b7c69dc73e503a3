// zorgaval-sim: the simulator program; everything it does lives in simcore.
#include "sim/program.h"

int main(int argc, char** argv) { return sim::program(argc, argv); }
