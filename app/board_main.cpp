// Process start-up on a Linux board: run the test, then flush the text
// channels, which the platform buffers.
#include "app/port_test.h"
#include "platform/text_output.h"

int main() {
    const int status = PortTestMain(nullptr, nullptr, nullptr, 0);
    platform::FlushChannels();
    return status;
}
