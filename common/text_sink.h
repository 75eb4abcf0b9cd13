// Where a board view (wire log, waveform, trace) writes its text.
#pragma once

#include <string_view>

namespace common {

class TextSink {
  public:
    virtual void Write(std::string_view text) = 0;
    virtual void Flush() {}

    virtual ~TextSink() = default;
};

}  // namespace common
