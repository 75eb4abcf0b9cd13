#include "tests/scripted_bus.h"

#include <algorithm>
#include <sstream>

namespace {

std::string Shown(char op, std::uint64_t physical, std::uint32_t value) {
    std::ostringstream text;
    text << op << " 0x" << std::hex << physical << " 0x" << value;
    return text.str();
}

}  // namespace

Traffic* ScriptedBus::Next(char op, std::uint64_t physical, std::uint32_t value) {
    if (at_ == script_.size()) {
        ADD_FAILURE() << "access after the script's end: " << Shown(op, physical, value);
        return nullptr;
    }
    Traffic& step = script_[at_];
    if (step.op != op || step.physical != physical || (op == 'W' && step.value != value)) {
        ADD_FAILURE() << "step " << at_ << " expects " << Shown(step.op, step.physical, step.value)
                      << ", the driver made " << Shown(op, physical, value);
        at_ = script_.size();  // one failure says it; the rest would only repeat it
        return nullptr;
    }
    return &step;
}

std::uint32_t ScriptedBus::Read(std::uint64_t physical) {
    Traffic* step = Next('R', physical, 0);
    if (step == nullptr) {
        return 0;
    }
    if (++usedOfStep_ == step->count) {
        ++at_;
        usedOfStep_ = 0;
    }
    return step->value;
}

void ScriptedBus::Write(std::uint64_t physical, std::uint32_t value) {
    if (Next('W', physical, value) != nullptr) {
        ++at_;
        usedOfStep_ = 0;
    }
}

bool ScriptedBus::Poll(std::uint64_t physical, std::uint32_t mask, std::uint64_t reads) {
    while (reads > 0) {
        Traffic* step = Next('R', physical, 0);
        if (step == nullptr) {
            return false;
        }
        // A reply without the bit answers as many reads as its step has
        // left, or the wait has; one with it ends the wait.
        const std::uint64_t take = (step->value & mask) != 0 ? 1 : std::min(step->count - usedOfStep_, reads);
        reads -= take;
        usedOfStep_ += take;
        if (usedOfStep_ == step->count) {
            ++at_;
            usedOfStep_ = 0;
        }
        if ((step->value & mask) != 0) {
            return true;
        }
    }
    return false;
}

void ScriptedBus::Unbound(std::uint64_t address, bool write, std::uint64_t count) {
    ADD_FAILURE() << count << " access(es) outside any window: " << (write ? 'W' : 'R') << " 0x" << std::hex
                  << address;
}

void ScriptedBus::Verify() {
    if (verified_) {
        return;
    }
    verified_ = true;
    if (at_ < script_.size()) {
        ADD_FAILURE() << "the script has " << script_.size() - at_ << " step(s) left, from step " << at_
                      << ": " << Shown(script_[at_].op, script_[at_].physical, script_[at_].value);
    }
}
