// What the agent inside the emulator and varkel-sim say to each other over
// their socket, in the order the board binary does things. The agent is the
// binary's kernel and bus; varkel-sim owns the board and the outputs.
//
// A datagram holds records, each a header and its text padded to 8 bytes.
// Only a datagram's last record may want a reply; records that want none
// (a write, text, a release) wait in the agent for the next that does, so
// that a wait's store and the read after it cost one exchange.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varkel_sim::binary {

// The agent finds its socket and the file that stands for /dev/mem here.
inline constexpr const char* kAgentSocketVariable = "VARKEL_AGENT_SOCKET";
inline constexpr const char* kAgentDeviceVariable = "VARKEL_AGENT_DEVICE";

enum class Op : std::uint32_t {
    // Replied to:
    Hello,    // the agent is loaded; a = its process id. Reply: a = the host's real time at board time 0
    Read,     // a = physical address. Reply: a = value, b = further reads that would see it unchanged
    Reserve,  // an address-space reservation: a = address, b = bytes. Reply: a = 0 or an errno
    Bind,     // a /dev/mem mapping: a = address, b = bytes, c = physical address. Reply: a = 0 or an errno
    Open,     // the binary opens /dev/mem: a = its open flags. Reply: a = 0 or an errno
    Sleep,    // a = nanoseconds. Reply: a = 0, or 1 when the run is stopping
    Now,      // Reply: a = board time in nanoseconds
    // Not replied to:
    Repeat,   // a = physical address, b = count: reads the agent answered ahead, each seeing the value the
              // last Read of that address replied
    Write,    // a = physical address, b = value
    Release,  // a reservation or mapping given back: a = address, b = bytes
    Text,     // text for the console (a = 1) or the debug channel (a = 2)
    Refuse,   // the text says what the binary did that cannot be performed exactly; the run ends
    Exit,     // the emulator is exiting
    Started,  // the binary's first system call: the emulator loaded it and it runs
    Placed,   // a reservation made: a = its address, b = bytes
};

constexpr bool WantsReply(Op op) {
    return op < Op::Repeat;
}

struct Record {
    Op op;
    std::uint32_t length;  // bytes of text after the header
    std::uint64_t a, b, c;
};
static_assert(sizeof(Record) == 32);

// Bytes a record takes in a datagram: its header and its text, padded.
constexpr std::size_t RecordBytes(std::uint32_t length) {
    return sizeof(Record) + (length + 7u) / 8u * 8u;
}

inline constexpr std::size_t kDatagramBytes = 16384;
inline constexpr std::size_t kMostText = kDatagramBytes - sizeof(Record);

struct Reply {
    std::uint64_t a, b;
};

}  // namespace varkel_sim::binary
