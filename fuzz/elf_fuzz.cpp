// Drives arbitrary files through the check varkel-sim --binary makes before
// it runs anything: none may crash it or be read past its end, and every
// refusal is one line of plain text that follows the file's name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "tools/varkel-sim/binary/board_elf.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const bool board = varkel_sim::binary::CheckBoardElf(std::span<const std::uint8_t>(data, size), error);
    if (board != error.empty()) {
        std::abort();  // a verdict and a reason that disagree
    }
    for (const char c : error) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
            std::abort();  // the file's bytes reached the message
        }
    }
    return 0;
}
