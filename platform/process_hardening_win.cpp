#include "platform/process_hardening.h"

#include "platform/windows_api_win.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace platform {

void DisableCoreDumps() {
    // Windows writes no core file of its own. What would carry the memory to the disk is
    // Windows Error Reporting's dump of a crashed program, which this turns off for the
    // process; the system's error boxes for a missing disk or file are left out as well.
    // Other processes of the same user can still open this one: Windows has no switch that
    // closes a process to them short of a protected process.
    ::SetErrorMode(::GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
                   SEM_NOOPENFILEERRORBOX);
}

std::optional<std::string> TakeEnvironmentVariable(const char* name) {
    const std::wstring wideName = detail::WideText(name);
    if (wideName.empty() || wideName.find(L'=') != std::wstring::npos)
        return std::nullopt;
    wchar_t* value = ::_wgetenv(wideName.c_str());
    if (value == nullptr)
        return std::nullopt;
    std::string taken = detail::Utf8Text(value);
    // The C library keeps the environment twice, wide and narrow: both copies of the text
    // are wiped where they stand before the variable is removed. The system keeps it once
    // more (the copy a child process is given), from which it is removed as well.
    ::SecureZeroMemory(value, std::wcslen(value) * sizeof(wchar_t));
    if (char* narrow = std::getenv(name))
        ::SecureZeroMemory(narrow, std::strlen(narrow));
    ::_wputenv_s(wideName.c_str(), L"");
    ::SetEnvironmentVariableW(wideName.c_str(), nullptr);
    return taken;
}

} // namespace platform
