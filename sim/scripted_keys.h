#pragma once

#include <cstdint>
#include <vector>

#include "platform/console_keys.h"
#include "sim/timeline.h"

namespace velkora::sim {

// A key press at a moment of simulated time, in milliseconds from the simulation's start.
// Extended keys are two presses at the same moment, the first code 0 or 224.
struct KeyPress {
    std::uint64_t atMs = 0;
    int code = 0;
};

// Keys that are pressed at scripted moments: a key is waiting once its moment has come.
class ScriptedKeys final : public platform::ConsoleKeys {
  public:
    ScriptedKeys(Timeline& timeline, std::vector<KeyPress> presses);

    bool keyWaiting() override;
    // With no key waiting, returns -1 as a closed console would.
    int readKey() override;

    std::size_t keysRead() const { return next_; }

  private:
    Timeline& timeline_;
    std::vector<KeyPress> presses_;
    std::size_t next_ = 0;
};

}  // namespace velkora::sim
