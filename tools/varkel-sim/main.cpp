#include "tools/varkel-sim/sim_runner.h"

int main(int argc, char** argv) {
    return varkel_sim::Main(argc, argv);
}
