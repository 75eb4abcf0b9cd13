// A bus that answers from a script, in the spirit of a mock initiator: each
// step names the access expected next (read or write, physical address,
// value), and a read's step gives the reply, for `count` reads in a row.
// A wait's reads take steps of its address until one reply shows the bit.
// Anything out of script is a test failure naming the step; the script
// must be used up, checked by Verify (and at destruction).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/host/host_platform.h"
#include "tests/board_fixture.h"

class ScriptedBus : public platform::host::BusTarget {
  public:
    explicit ScriptedBus(std::vector<Traffic> script) : script_(std::move(script)) {}
    ~ScriptedBus() override { Verify(); }

    std::uint32_t Read(std::uint64_t physical) override;
    void Write(std::uint64_t physical, std::uint32_t value) override;
    bool Poll(std::uint64_t physical, std::uint32_t mask, std::uint64_t reads) override;
    void Unbound(std::uint64_t address, bool write, std::uint64_t count) override;

    // Fails the test if any step is left; once.
    void Verify();

  private:
    // The step the next access must match, or null (and a failure) when
    // the script is used up or the access is not the one expected.
    Traffic* Next(char op, std::uint64_t physical, std::uint32_t value);

    std::vector<Traffic> script_;
    std::size_t at_ = 0;
    std::uint64_t usedOfStep_ = 0;  // reads of script_[at_] already answered
    bool verified_ = false;
};
