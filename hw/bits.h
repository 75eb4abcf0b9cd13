// Bits and fields of a 32-bit register value, written one way everywhere.
//
// Masks are built from constants, so a bit past 31, a field whose bounds
// are reversed, or an empty field is refused when the program is built,
// not found on the wire.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

namespace bits_detail {
// Deliberately not constexpr: reaching one in a constant expression is the
// build error that names the fault.
inline void BitPast31() {}
inline void FieldBoundsReversed() {}
inline void EmptyField() {}
}  // namespace bits_detail

consteval std::uint32_t Bit(unsigned n) {
    if (n > 31) {
        bits_detail::BitPast31();
    }
    return 1u << n;
}

// Bits hi down to lo set, as a field's mask.
consteval std::uint32_t GenMask(unsigned hi, unsigned lo) {
    if (hi > 31) {
        bits_detail::BitPast31();
    }
    if (hi < lo) {
        bits_detail::FieldBoundsReversed();
    }
    return (~0u >> (31 - hi)) & (~0u << lo);
}

// `value` moved into the field `mask`, cut to the field's width, so a value
// too wide for its field never spills into its neighbours. An empty mask
// is refused in a constant expression and gives 0 otherwise (never a shift
// by 32).
constexpr std::uint32_t FieldPrep(std::uint32_t mask, std::uint32_t value) {
    if (mask == 0 && std::is_constant_evaluated()) {
        bits_detail::EmptyField();
    }
    return (value << (std::countr_zero(mask) & 31)) & mask;
}

constexpr std::uint32_t FieldGet(std::uint32_t mask, std::uint32_t registerValue) {
    if (mask == 0 && std::is_constant_evaluated()) {
        bits_detail::EmptyField();
    }
    return (registerValue & mask) >> (std::countr_zero(mask) & 31);
}

static_assert(GenMask(15, 8) == 0xFF00 && GenMask(31, 0) == 0xFFFFFFFF && GenMask(0, 0) == 1);
static_assert(FieldPrep(GenMask(15, 8), 0x1FF) == 0xFF00 && FieldGet(GenMask(5, 4), 0x30) == 3);
static_assert(FieldPrep(Bit(31), 1) == Bit(31) && FieldGet(Bit(31), ~0u) == 1);
