#pragma once

namespace velkora::platform {

// Single key presses from the console, read without echo and without waiting for Enter. Only
// the wait for the device uses them (Q or Esc cancel it); every other question reads lines.
class ConsoleKeys {
  public:
    virtual ~ConsoleKeys() = default;

    // Called before the first keyWaiting() of a wait and after its last one. On a terminal
    // that needs it, single-key mode is switched on and off here; it must also be switched
    // off when the process is ended by a signal in between.
    virtual void beginKeyWatch() {}
    virtual void endKeyWatch() {}

    // True when a key press is waiting to be read. Never blocks.
    virtual bool keyWaiting() = 0;

    // Reads one key code without echo. Extended keys arrive as two codes, the first being
    // 0 or 224, as the Windows console runtime delivers them.
    virtual int readKey() = 0;
};

// Switches single-key mode on for the lifetime of the scope.
class KeyWatchScope {
  public:
    explicit KeyWatchScope(ConsoleKeys& keys) : keys_(keys) { keys_.beginKeyWatch(); }
    ~KeyWatchScope() { keys_.endKeyWatch(); }
    KeyWatchScope(const KeyWatchScope&) = delete;
    KeyWatchScope& operator=(const KeyWatchScope&) = delete;

  private:
    ConsoleKeys& keys_;
};

// The console's keyboard (the controlling terminal on POSIX systems).
ConsoleKeys& systemConsoleKeys();

}  // namespace velkora::platform
