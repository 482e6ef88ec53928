#pragma once

#include <cstdint>
#include <streambuf>
#include <string>
#include <vector>

#include "sim/timeline.h"

namespace velkora::sim {

// A line the user types, at a moment of simulated time in milliseconds from the start. When
// the program asks for a line before that moment, the time moves on to it, as if the user
// took that long to answer; a line whose moment has passed is there at once (typed ahead).
struct ConsoleLine {
    std::uint64_t atMs = 0;
    std::string text;     // without its line ending
    bool lineEnd = true;  // false: the input ends without a final line break
};

// What the program prints, kept twice: exactly as printed, and as the screen of a terminal
// shows it, with the typed lines echoed where they were read.
class ScreenCapture final : public std::streambuf {
  public:
    const std::string& printed() const { return printed_; }
    const std::string& screen() const { return screen_; }
    void echo(const std::string& typed) { screen_ += typed; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;

  private:
    std::string printed_;
    std::string screen_;
};

// Console input from a script of lines. When the script runs out, the input is closed.
class ScriptedConsoleInput final : public std::streambuf {
  public:
    ScriptedConsoleInput(Timeline& timeline, std::vector<ConsoleLine> lines,
                         ScreenCapture* screen = nullptr);

    std::size_t linesRead() const { return next_; }

  protected:
    int_type underflow() override;

  private:
    Timeline& timeline_;
    std::vector<ConsoleLine> lines_;
    ScreenCapture* screen_;
    std::size_t next_ = 0;
    std::string current_;
};

}  // namespace velkora::sim
