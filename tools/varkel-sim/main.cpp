#include "tools/varkel-sim/sim_runner.h"

int main(int argc, char** argv) {
    return runner::Main(argc, argv);
}
