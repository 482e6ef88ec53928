#include "sim/scripted_console.h"

#include <algorithm>

namespace velkora::sim {

ScreenCapture::int_type ScreenCapture::overflow(int_type c) {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        printed_ += traits_type::to_char_type(c);
        screen_ += traits_type::to_char_type(c);
    }
    return traits_type::not_eof(c);
}

std::streamsize ScreenCapture::xsputn(const char* text, std::streamsize count) {
    printed_.append(text, static_cast<std::size_t>(count));
    screen_.append(text, static_cast<std::size_t>(count));
    return count;
}

ScriptedConsoleInput::ScriptedConsoleInput(Timeline& timeline, std::vector<ConsoleLine> lines,
                                           ScreenCapture* screen)
    : timeline_(timeline), lines_(std::move(lines)), screen_(screen) {}

ScriptedConsoleInput::int_type ScriptedConsoleInput::underflow() {
    // Lines are handed out one at a time, when the program asks for more input, so that the
    // time moves and the echo appears exactly when the line is read.
    while (next_ < lines_.size()) {
        const ConsoleLine& line = lines_[next_++];
        timeline_.sleepUntil(std::max(timeline_.now(), fromMs(line.atMs)));
        current_ = line.text + (line.lineEnd ? "\n" : "");
        if (screen_ != nullptr) {
            screen_->echo(current_);
        }
        if (current_.empty()) {
            continue;
        }
        setg(current_.data(), current_.data(), current_.data() + current_.size());
        return traits_type::to_int_type(current_.front());
    }
    return traits_type::eof();
}

}  // namespace velkora::sim
