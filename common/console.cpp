#include "common/console.h"

#include <istream>
#include <ostream>
#include <stdexcept>

#include "common/text.h"

namespace velkora {
namespace {

// Reads one line. False when nothing could be read because the input is closed; a last line
// without a line ending still counts as a line.
bool readLine(ConsoleIo& console, std::string& line) {
    console.out.flush();
    return static_cast<bool>(std::getline(console.in, line));
}

[[noreturn]] void failClosedInput() {
    throw std::runtime_error("Console input closed; configuration session ended.");
}

}  // namespace

int showMainMenu(ConsoleIo& console, bool configurationAllowed) {
    const char highest = configurationAllowed ? '6' : '5';
    for (;;) {
        console.out << "Select an option:\n"
                    << "1. Update firmware\n"
                    << "2. View fault log\n"
                    << "3. Start device\n"
                    << "4. Exit and leave device in bootloader\n"
                    << "5. Restart updater\n";
        if (configurationAllowed) {
            console.out << "6. Configuration\n";
        }
        console.out << "Selection: ";
        std::string line;
        if (!readLine(console, line)) {
            throw std::runtime_error("Console input closed.");
        }
        const std::string reply = trimWhitespace(line);
        if (reply.size() == 1 && reply[0] >= '1' && reply[0] <= highest) {
            return reply[0] - '0';
        }
        console.out << (configurationAllowed ? "Please select 1 through 6.\n\n"
                                             : "Please select 1 through 5.\n\n");
    }
}

bool askYesNo(ConsoleIo& console, std::string_view prompt, OnClosedInput onClosed) {
    for (;;) {
        console.out << prompt;
        std::string line;
        if (!readLine(console, line)) {
            if (onClosed == OnClosedInput::EndSession) {
                failClosedInput();
            }
            console.out << "\n";
            return false;
        }
        const std::string reply = trimWhitespace(toLowerAscii(line));
        if (reply == "y" || reply == "yes") {
            return true;
        }
        if (reply == "n" || reply == "no") {
            return false;
        }
        console.out << "Please answer Y or N.\n";
    }
}

bool askRestartAfterUpdate(ConsoleIo& console) {
    for (;;) {
        console.out << "Update complete.\n\n"
                    << "Press R to restart updater and wait for another Velkora.\n"
                    << "Press Enter to close.\n"
                    << "Selection: ";
        std::string line;
        if (!readLine(console, line)) {
            return false;
        }
        const std::string reply = trimWhitespace(toLowerAscii(line));
        if (reply.empty()) {
            return false;
        }
        if (reply == "r" || reply == "restart") {
            return true;
        }
        console.out << "Press R to restart updater or Enter to close.\n\n";
    }
}

void waitForEnterToClose(ConsoleIo& console) {
    console.out << "\nPress Enter to close.";
    console.out.flush();
    console.in.clear();
    std::string ignored;
    std::getline(console.in, ignored);
}

std::string readConsoleLine(ConsoleIo& console, std::string_view prompt) {
    console.out << prompt;
    std::string line;
    if (!readLine(console, line)) {
        failClosedInput();
    }
    return trimWhitespace(line);
}

}  // namespace velkora
