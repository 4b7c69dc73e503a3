// The zorgaval-board program, apart from main() so the tests can reach it.
#pragma once

namespace board {

// The whole program: answers the exit status.
int program(int argc, char** argv);

}  // namespace board
