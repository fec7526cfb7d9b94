// Typing a password at a terminal (or a Windows console) without showing it.
#pragma once

#include <cstdio>

namespace platform {

// Turns off the echo of what is typed at a terminal for as long as it lives; the line end
// alone is still echoed, so that what follows starts on a line of its own. Nothing is
// printed. Does nothing when the stream is not a terminal. The terminal's settings come
// back when it goes (also when an exception leaves the scope), and when SIGINT, SIGTERM,
// SIGHUP or SIGQUIT ends the program meanwhile (where that signal's default action was in
// force). After a stop (Ctrl+Z) and a continue, the echo is off again. On Windows it is the
// console's echo, given back also when Ctrl+C or the console's closing ends the program. One
// at a time: a second one while the first lives does nothing.
class TerminalEchoOff {
public:
    explicit TerminalEchoOff(std::FILE* stream);
    ~TerminalEchoOff();
    TerminalEchoOff(const TerminalEchoOff&) = delete;
    TerminalEchoOff& operator=(const TerminalEchoOff&) = delete;

    // Whether the stream is a terminal whose echo is off now.
    bool Active() const noexcept { return active_; }

private:
    bool active_ = false;
};

} // namespace platform
