#include "platform/terminal_echo.h"

#include <csignal>
#include <iterator>
#include <termios.h>
#include <unistd.h>

namespace platform {
namespace {

// Signals that end the program by default; their handlers give the terminal back first.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::size_t kSignalCount = std::size(kEndingSignals);

// What the signal handlers need; set before they are installed, left alone while they are.
int gTerminal = -1;
termios gSaved{};
termios gQuiet{};
struct sigaction gPreviousEnding[kSignalCount];
bool gEndingCaught[kSignalCount] = {};
struct sigaction gPreviousContinue {};

void RestoreAndEnd(int signal) {
    ::tcsetattr(gTerminal, TCSANOW, &gSaved);
    // The handler was installed for one delivery (SA_RESETHAND): the default action is in
    // force again, and ends the program once this returns.
    ::raise(signal);
}

void QuietAgain(int) {
    ::tcsetattr(gTerminal, TCSANOW, &gQuiet);
}

void InstallHandlers() {
    struct sigaction ending {};
    ending.sa_handler = RestoreAndEnd;
    ending.sa_flags = SA_RESETHAND;
    sigemptyset(&ending.sa_mask);
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        // A signal that is ignored, or handled by someone else, is left to them.
        gEndingCaught[i] = ::sigaction(kEndingSignals[i], nullptr, &gPreviousEnding[i]) == 0 &&
                           gPreviousEnding[i].sa_handler == SIG_DFL &&
                           ::sigaction(kEndingSignals[i], &ending, nullptr) == 0;
    }
    // A stop (Ctrl+Z) hands the terminal to the shell, which puts its own settings back;
    // the echo goes off again when the program continues.
    struct sigaction continued {};
    continued.sa_handler = QuietAgain;
    continued.sa_flags = SA_RESTART;
    sigemptyset(&continued.sa_mask);
    ::sigaction(SIGCONT, &continued, &gPreviousContinue);
}

void RestoreTerminal() {
    // The terminal first: a signal that comes in between still finds it as it was.
    ::tcsetattr(gTerminal, TCSANOW, &gSaved);
    ::sigaction(SIGCONT, &gPreviousContinue, nullptr);
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        if (gEndingCaught[i])
            ::sigaction(kEndingSignals[i], &gPreviousEnding[i], nullptr);
        gEndingCaught[i] = false;
    }
    gTerminal = -1;
}

} // namespace

TerminalEchoOff::TerminalEchoOff(std::FILE* stream) {
    const int fd = ::fileno(stream);
    termios saved{};
    if (gTerminal >= 0 || fd < 0 || !::isatty(fd) || ::tcgetattr(fd, &saved) != 0)
        return;
    gTerminal = fd;
    gSaved = saved;
    gQuiet = saved;
    gQuiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    gQuiet.c_lflag |= ECHONL;
    InstallHandlers();
    active_ = ::tcsetattr(fd, TCSANOW, &gQuiet) == 0;
    if (!active_)
        RestoreTerminal();
}

TerminalEchoOff::~TerminalEchoOff() {
    if (active_)
        RestoreTerminal();
}

} // namespace platform
