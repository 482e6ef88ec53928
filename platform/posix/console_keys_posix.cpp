#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <deque>

#include "platform/console_keys.h"

namespace velkora::platform {
namespace {

// Single keys are read from the controlling terminal, never from standard input: answers that
// a script pipes into standard input for later questions must not be eaten while the updater
// waits for the device. Without a terminal there are simply no keys.
//
// The terminal's settings are process-wide state, and a signal handler must be able to put
// them back, so they live here at file scope, written before the handlers are installed.
int terminalFd = -1;
termios savedSettings{};
volatile std::sig_atomic_t settingsChanged = 0;

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction previousActions[sizeof(kHandledSignals) / sizeof(kHandledSignals[0])];

void restoreTerminal() {
    if (settingsChanged != 0) {
        tcsetattr(terminalFd, TCSANOW, &savedSettings);
        settingsChanged = 0;
    }
}

// Puts the terminal back, then lets the signal do what it would have done.
void restoreAndReraise(int signalNumber) {
    restoreTerminal();
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

constexpr int kEscape = 27;
constexpr int kExtendedKeyPrefix = 224;

class TerminalKeys final : public ConsoleKeys {
  public:
    void beginKeyWatch() override {
        if (terminalFd < 0) {
            terminalFd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (terminalFd < 0) {
                return;
            }
            std::atexit(restoreTerminal);
        }
        if (tcgetattr(terminalFd, &savedSettings) != 0) {
            return;
        }
        termios raw = savedSettings;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        installSignalHandlers();
        settingsChanged = 1;
        if (tcsetattr(terminalFd, TCSANOW, &raw) != 0) {
            settingsChanged = 0;
        }
    }

    void endKeyWatch() override {
        restoreTerminal();
        removeSignalHandlers();
        pending_.clear();
    }

    bool keyWaiting() override {
        if (!pending_.empty()) {
            return true;
        }
        return settingsChanged != 0 && inputWithin(0);
    }

    int readKey() override {
        if (!pending_.empty()) {
            int key = pending_.front();
            pending_.pop_front();
            return key;
        }
        int key = readByte();
        if (key == kEscape && inputWithin(kSequenceGapMs)) {
            return translateEscapeSequence();
        }
        return key;
    }

  private:
    // A terminal sends arrow and function keys as escape sequences ("ESC [ A"). They arrive
    // together, unlike a lone Esc press; such a sequence is reported the way the Windows
    // console reports an extended key, a prefix code and one more code, so that it is
    // swallowed whole instead of cancelling the wait as an Esc.
    static constexpr int kSequenceGapMs = 30;

    int translateEscapeSequence() {
        int introducer = readByte();
        int last = introducer;
        if (introducer == '[') {
            // Parameters and intermediates run until a final byte from '@' to '~'.
            while (inputWithin(kSequenceGapMs)) {
                last = readByte();
                if (last >= '@' && last <= '~') {
                    break;
                }
            }
        } else if (introducer == 'O' && inputWithin(kSequenceGapMs)) {
            last = readByte();
        }
        pending_.push_back(last < 0 ? 0 : last);
        return kExtendedKeyPrefix;
    }

    static bool inputWithin(int milliseconds) {
        pollfd request{terminalFd, POLLIN, 0};
        return poll(&request, 1, milliseconds) > 0 && (request.revents & POLLIN) != 0;
    }

    static int readByte() {
        unsigned char byte = 0;
        return read(terminalFd, &byte, 1) == 1 ? byte : -1;
    }

    void installSignalHandlers() {
        if (handlersInstalled_) {
            return;
        }
        handlersInstalled_ = true;
        struct sigaction action {};
        action.sa_handler = restoreAndReraise;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
            sigaction(kHandledSignals[i], &action, &previousActions[i]);
        }
    }

    void removeSignalHandlers() {
        if (!handlersInstalled_) {
            return;
        }
        handlersInstalled_ = false;
        for (std::size_t i = 0; i < std::size(kHandledSignals); ++i) {
            sigaction(kHandledSignals[i], &previousActions[i], nullptr);
        }
    }

    std::deque<int> pending_;
    bool handlersInstalled_ = false;
};

}  // namespace

ConsoleKeys& systemConsoleKeys() {
    static TerminalKeys keys;
    return keys;
}

}  // namespace velkora::platform
