// Bits and fields of a 32-bit register value, written one way everywhere.
#pragma once

#include <bit>
#include <cstdint>

constexpr std::uint32_t Bit(unsigned n) {
    return 1u << n;
}

// Bits hi down to lo set, as a field's mask.
constexpr std::uint32_t GenMask(unsigned hi, unsigned lo) {
    return (~0u >> (31 - hi)) & (~0u << lo);
}

// `value` moved into the field `mask`, cut to the field's width, so a value
// too wide for its field never spills into its neighbours.
constexpr std::uint32_t FieldPrep(std::uint32_t mask, std::uint32_t value) {
    return (value << std::countr_zero(mask)) & mask;
}

constexpr std::uint32_t FieldGet(std::uint32_t mask, std::uint32_t registerValue) {
    return (registerValue & mask) >> std::countr_zero(mask);
}

static_assert(GenMask(15, 8) == 0xFF00 && GenMask(31, 0) == 0xFFFFFFFF && GenMask(0, 0) == 1);
static_assert(FieldPrep(GenMask(15, 8), 0x1FF) == 0xFF00 && FieldGet(GenMask(5, 4), 0x30) == 3);
