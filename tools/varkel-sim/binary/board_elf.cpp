#include "tools/varkel-sim/binary/board_elf.h"

#include <cstring>

namespace varkel_sim::binary {
namespace {

// The fields of the 32-bit ELF header and program header that matter
// here, at their offsets, little-endian.
constexpr std::size_t kHeaderBytes = 52;
constexpr std::size_t kClass = 4, kData = 5, kVersion = 6;
constexpr std::size_t kType = 16, kMachine = 18, kEntry = 24, kPhoff = 28, kPhentsize = 42, kPhnum = 44;
constexpr std::uint16_t kExecutable = 2, kSharedObject = 3, kArm = 40;
constexpr std::size_t kProgramHeaderBytes = 32;
constexpr std::uint32_t kLoad = 1, kInterpreter = 3;
constexpr std::size_t kSegmentOffset = 4, kSegmentFileBytes = 16;

std::uint32_t Le(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width) {
    std::uint32_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

const char* MachineName(std::uint32_t machine) {
    switch (machine) {
        case 3:
            return "32-bit x86";
        case 62:
            return "x86-64";
        case 183:
            return "64-bit ARM";
        case 243:
            return "RISC-V";
        case 8:
            return "MIPS";
        default:
            return nullptr;
    }
}

}  // namespace

bool CheckBoardElf(std::span<const std::uint8_t> image, std::string& error) {
    if (image.size() < 4 || std::memcmp(image.data(),
                                        "\x7f"
                                        "ELF",
                                        4) != 0) {
        error = "is not an ELF executable";
        return false;
    }
    if (image.size() < kHeaderBytes) {
        error = "is damaged: it ends inside its ELF header";
        return false;
    }
    if (image[kClass] != 1) {
        error = image[kClass] == 2 ? "is a 64-bit executable; the board runs 32-bit ARM"
                                   : "is damaged: its ELF class is neither 32- nor 64-bit";
        return false;
    }
    if (image[kData] != 1) {
        error = image[kData] == 2 ? "is big-endian; the board runs little-endian ARM"
                                  : "is damaged: its ELF byte order is unknown";
        return false;
    }
    if (image[kVersion] != 1) {
        error = "is damaged: its ELF version is not 1";
        return false;
    }
    const std::uint32_t machine = Le(image, kMachine, 2);
    if (machine != kArm) {
        const char* name = MachineName(machine);
        error = name != nullptr ? std::string("is for ") + name + ", not 32-bit ARM"
                                : "is for machine " + std::to_string(machine) + ", not 32-bit ARM (40)";
        return false;
    }
    const std::uint32_t type = Le(image, kType, 2);
    if (type != kExecutable && type != kSharedObject) {
        error = type == 1 ? "is an object file, not linked into an executable"
                          : "is not an executable (ELF type " + std::to_string(type) + ")";
        return false;
    }
    if (Le(image, kEntry, 4) == 0) {
        error = "has no entry point: a library, not a program";
        return false;
    }
    const std::uint64_t phoff = Le(image, kPhoff, 4);
    const std::uint64_t phnum = Le(image, kPhnum, 2);
    if (phnum == 0 || Le(image, kPhentsize, 2) != kProgramHeaderBytes) {
        error = "is damaged: it has no program headers of the 32-bit size";
        return false;
    }
    if (phoff > image.size() || phnum * kProgramHeaderBytes > image.size() - phoff) {
        error =
            "is damaged: its program headers lie past its end (" + std::to_string(image.size()) + " bytes)";
        return false;
    }
    std::uint64_t loads = 0;
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::size_t header = static_cast<std::size_t>(phoff + i * kProgramHeaderBytes);
        const std::uint32_t kind = Le(image, header, 4);
        if (kind == kInterpreter) {
            error =
                "is dynamically linked; the board binary is linked statically (build it with the board "
                "preset, or link with -static)";
            return false;
        }
        if (kind == kLoad) {
            ++loads;
            const std::uint64_t offset = Le(image, header + kSegmentOffset, 4);
            const std::uint64_t bytes = Le(image, header + kSegmentFileBytes, 4);
            if (offset > image.size() || bytes > image.size() - offset) {
                error = "is damaged: a segment to load lies past its end (" + std::to_string(image.size()) +
                        " bytes): cut short?";
                return false;
            }
        }
    }
    if (loads == 0) {
        error = "is damaged: it has nothing to load";
        return false;
    }
    return true;
}

}  // namespace varkel_sim::binary
