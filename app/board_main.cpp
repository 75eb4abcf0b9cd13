// Process start-up on a Linux board. Anything but the arguments the
// program takes is refused before /dev/mem is opened, so the board's
// registers are never written by accident.
#include "app/program_main.h"
#include "platform/channels.h"

int main(int argc, char** argv) {
    const int status = ProgramMain(argc, argv);
    platform::FlushChannels();
    return status;
}
