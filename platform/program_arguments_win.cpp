#include "platform/program_arguments.h"

#include "platform/windows_api_win.h"

#include <shellapi.h>

namespace platform {

std::vector<std::string> ProgramArguments(int, char**) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (wide == nullptr)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(detail::Utf8Text(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void UseUtf8Console() {
    ::SetConsoleOutputCP(CP_UTF8);
}

} // namespace platform
