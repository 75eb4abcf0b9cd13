// The check of a file given --binary: only a whole, static, 32-bit
// little-endian ARM executable passes; everything else is named.
#include "tools/varkel-sim/binary/board_elf.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A minimal static ARM executable: the ELF header and one loadable segment.
std::vector<std::uint8_t> ArmExecutable() {
    std::vector<std::uint8_t> image(52 + 32, 0);
    const std::uint8_t ident[] = {0x7f, 'E', 'L', 'F', 1, 1, 1};
    std::copy(std::begin(ident), std::end(ident), image.begin());
    image[16] = 2;     // ET_EXEC
    image[18] = 40;    // EM_ARM
    image[20] = 1;     // e_version
    image[24] = 0x54;  // e_entry
    image[25] = 0x80;
    image[28] = 52;  // e_phoff
    image[42] = 32;  // e_phentsize
    image[44] = 1;   // e_phnum
    image[52] = 1;   // PT_LOAD
    return image;
}

TEST(BoardElfTest, AStaticArmExecutablePassesAndEachFlawIsNamed) {
    std::string error;
    EXPECT_TRUE(varkel_sim::binary::CheckBoardElf(ArmExecutable(), error)) << error;

    struct Case {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        const char* error;
    };
    const Case cases[] = {
        {"not ELF", 1, 'X', "is not an ELF executable"},
        {"64-bit", 4, 2, "is a 64-bit executable; the board runs 32-bit ARM"},
        {"big-endian", 5, 2, "is big-endian; the board runs little-endian ARM"},
        {"unknown byte order", 5, 7, "is damaged: its ELF byte order is unknown"},
        {"ELF version", 6, 2, "is damaged: its ELF version is not 1"},
        {"x86-64", 18, 62, "is for x86-64, not 32-bit ARM"},
        {"unknown machine", 18, 99, "is for machine 99, not 32-bit ARM (40)"},
        {"object file", 16, 1, "is an object file, not linked into an executable"},
        {"core file", 16, 4, "is not an executable (ELF type 4)"},
        {"no entry", 25, 0, ""},
        {"no program headers", 44, 0, "is damaged: it has no program headers of the 32-bit size"},
        {"program headers of the wrong size", 42, 56,
         "is damaged: it has no program headers of the 32-bit size"},
        {"program headers past the end", 28, 60,
         "is damaged: its program headers lie past its end (84 bytes)"},
        {"nothing to load", 52, 6, "is damaged: it has nothing to load"},
        {"a segment past the end", 68, 85,
         "is damaged: a segment to load lies past its end (84 bytes): cut short?"},
        {"a segment starting past the end", 56, 85,
         "is damaged: a segment to load lies past its end (84 bytes): cut short?"},
        {"an interpreter", 52, 3,
         "is dynamically linked; the board binary is linked statically (build it with the board preset, or "
         "link with -static)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto image = ArmExecutable();
        image[c.offset] = c.value;
        if (c.offset == 25) {
            image[24] = 0;
        }
        error.clear();
        EXPECT_FALSE(varkel_sim::binary::CheckBoardElf(image, error));
        EXPECT_EQ(error, *c.error != '\0' ? c.error : "has no entry point: a library, not a program");
    }
}

TEST(BoardElfTest, AFileCutShortIsDamagedNotReadPastItsEnd) {
    const auto whole = ArmExecutable();
    std::string error;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        SCOPED_TRACE(size);
        // An exact-size copy, so a read past the end is the sanitizers' to see.
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(varkel_sim::binary::CheckBoardElf(cut, error));
    }
    EXPECT_EQ(error, "is damaged: its program headers lie past its end (83 bytes)");
}

}  // namespace
