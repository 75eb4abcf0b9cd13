// The register trace: a header naming the columns, then one line per
// register access: time, R or W, block, register, offset, physical
// address, value, and for the serial port's status its bits by name; and,
// in order among them, each platform call its runner reports: time, "call"
// and what it was.
// Identical consecutive reads of one register fold into one line ending in
// "x<count>"; a fold ends at any other access or at EndFold (the program's
// platform calls), so each wait of the program shows as its own line.
#pragma once

#include <cstdint>
#include <string>

#include "common/text_sink.h"
#include "sim/board.h"

namespace sim {

class TraceLog : public BoardListener {
  public:
    explicit TraceLog(common::TextSink& out);
    void OnAccess(const Access& access) override;
    // The program stepped out of its register accesses (a platform call):
    // a fold of identical reads ends here. The board does not see the
    // program's calls; whoever runs it says so.
    void EndFold() { WritePending(); }
    // A platform call at board time `ns`, said in the runner's words.
    void OnCall(std::uint64_t ns, const std::string& what);
    void OnIdle() override {
        WritePending();
        out_.Flush();
    }
    void OnFinish(std::uint64_t ns) override;

  private:
    void WritePending();

    common::TextSink& out_;
    Access pending_{};
    std::uint64_t repeats_ = 0;  // 0: nothing pending
};

}  // namespace sim
