// The echo of a Windows console: its input mode without ENABLE_ECHO_INPUT. The mode belongs to
// the console, not to the program, so a program that ended with the echo off would leave the
// shell after it typing blind: a console handler puts it back first when Ctrl+C or the
// console's closing ends the program. Windows has no stop and continue of a console program,
// so nothing more is watched.
#include "platform/terminal_echo.h"

#include "platform/windows_api_win.h"

#include <io.h>

namespace platform {
namespace {

// What the console handler needs; set before it is installed, left alone while it is.
HANDLE gConsole = nullptr;
DWORD gSaved = 0;

BOOL WINAPI RestoreOnEnd(DWORD) {
    ::SetConsoleMode(gConsole, gSaved);
    // Not handled here: the next handler (or the default, which ends the program) acts.
    return FALSE;
}

// Without the echo the line end is not shown either; it is written as the echo would have,
// to the console's screen whatever the program's output is redirected to.
void EchoLineEnd() {
    HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (screen == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteConsoleW(screen, L"\r\n", 2, &written, nullptr);
    ::CloseHandle(screen);
}

void RestoreConsole() {
    // The console first: a request to end that comes in between still finds it as it was.
    ::SetConsoleMode(gConsole, gSaved);
    ::SetConsoleCtrlHandler(RestoreOnEnd, FALSE);
    gConsole = nullptr;
}

} // namespace

TerminalEchoOff::TerminalEchoOff(std::FILE* stream) {
    const int fd = stream != nullptr ? ::_fileno(stream) : -1;
    if (gConsole != nullptr || fd < 0)
        return;
    HANDLE input = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD saved = 0;
    if (input == INVALID_HANDLE_VALUE || !::GetConsoleMode(input, &saved))
        return; // not a console: a pipe or a file is read as it is
    gConsole = input;
    gSaved = saved;
    ::SetConsoleCtrlHandler(RestoreOnEnd, TRUE);
    active_ = ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
    if (!active_)
        RestoreConsole();
}

TerminalEchoOff::~TerminalEchoOff() {
    if (!active_)
        return;
    RestoreConsole();
    EchoLineEnd();
}

} // namespace platform
