#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

namespace velkora {

// The console as the questions see it: whole lines in, text out. The program uses standard
// input and output; tests script whole dialogues through string streams.
struct ConsoleIo {
    std::istream& in;
    std::ostream& out;
};

// The numbered main menu, asked until a valid choice is typed. Returns 1 to 5, or 6 when
// configuration is allowed. A closed console input fails with "Console input closed.":
// asking again could never get an answer.
int showMainMenu(ConsoleIo& console, bool configurationAllowed);

// Asks the prompt until the reply is yes or no. A closed console input counts as no, so that
// nothing destructive happens without an answer.
bool askYesNo(ConsoleIo& console, std::string_view prompt);

// The question after a finished update: true to restart for another adapter, false to close.
// A closed console input counts as Enter (close).
bool askRestartAfterUpdate(ConsoleIo& console);

// "Press Enter to close." and one line; returns at once when the input is closed.
void waitForEnterToClose(ConsoleIo& console);

// Prints the prompt and returns the trimmed reply. Fails with "Console input closed;
// configuration session ended." when nothing can be read any more.
std::string readConsoleLine(ConsoleIo& console, std::string_view prompt);

}  // namespace velkora
