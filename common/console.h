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

// What a question does when the console input is closed and no answer can come.
enum class OnClosedInput {
    AnswerNo,    // a line break, then no: nothing destructive happens without an answer
    EndSession,  // fails like readConsoleLine, ending the session that asked
};

// Asks the prompt until the reply (trimmed, any letter case) is y, yes, n or no; every other
// reply gets "Please answer Y or N." and the question again.
bool askYesNo(ConsoleIo& console, std::string_view prompt,
              OnClosedInput onClosed = OnClosedInput::AnswerNo);

// The question after a finished update: true to restart for another adapter, false to close.
// A closed console input counts as Enter (close).
bool askRestartAfterUpdate(ConsoleIo& console);

// "Press Enter to close." and one line; returns at once when the input is closed.
void waitForEnterToClose(ConsoleIo& console);

// Prints the prompt and returns the trimmed reply. Fails with "Console input closed;
// configuration session ended." when nothing can be read any more.
std::string readConsoleLine(ConsoleIo& console, std::string_view prompt);

}  // namespace velkora
