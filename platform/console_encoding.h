#pragma once

namespace velkora::platform {

// The updater writes UTF-8: file names from the manifest, folder names in messages, USB strings.
// A Windows console shows the bytes it receives in its own output code page, normally the OEM
// code page (437, 850, ...), which the UTF-8 code page of the program's manifest does not
// change. While this scope lives, the console shows the program's output as UTF-8; the bytes
// written are the same either way. The console's previous code page is put back at the end,
// since the console may be a Command Prompt window that outlives the program.
//
// The input code page stays as it is: every answer the updater reads is plain ASCII, and
// multi-byte input through a UTF-8 input code page is unreliable in older consoles.
//
// On other systems the terminal's own setting decides, and the scope does nothing.
class Utf8ConsoleOutputScope {
  public:
    Utf8ConsoleOutputScope();
    // Not defaulted: on Windows it puts the console's code page back.
    ~Utf8ConsoleOutputScope();  // NOLINT(performance-trivially-destructible)
    Utf8ConsoleOutputScope(const Utf8ConsoleOutputScope&) = delete;
    Utf8ConsoleOutputScope& operator=(const Utf8ConsoleOutputScope&) = delete;

  private:
    // 0 when there is nothing to put back. Consoles without code pages never use it.
    [[maybe_unused]] unsigned int previousCodePage_ = 0;
};

// Whether the program's standard error is a terminal or console a person watches, rather than
// a file or a pipe: progress that redraws one line is only for such a reader.
bool standardErrorIsTerminal();

}  // namespace velkora::platform
