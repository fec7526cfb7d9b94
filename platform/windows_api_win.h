// The Windows headers as every Windows file of platform/ includes them, and the conversions
// between the UTF-8 texts of platform/'s interface and the UTF-16 texts of the system's
// calls. Internal to platform/.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

// Windows Sockets 2 before windows.h, which would otherwise bring in the first version.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

// The system's message formatter is a macro of that name, which would take the place of
// platform::FormatMessage (exception.h); platform/ never calls the system's.
#undef FormatMessage

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::detail {

// UTF-8 to UTF-16. Bytes that are not UTF-8 become U+FFFD, so such a name never matches a
// file by accident.
std::wstring WideText(std::string_view text);
// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD.
std::string Utf8Text(std::wstring_view text);

// The path of the file that `path` names once every symbolic link and junction on the way
// has been followed, in the usual drive or UNC form (without the "\\?\" prefix that the
// system answers with). `path` itself when it cannot be opened.
std::wstring FinalPath(const std::wstring& path);

// The socket handle of the interface as the system's: Windows keeps handles to 32 bits even
// in a 64-bit process, so the conversion loses nothing, and kNoSocket is INVALID_SOCKET.
inline SOCKET NativeSocket(int socket) {
    return static_cast<SOCKET>(static_cast<std::intptr_t>(socket));
}

} // namespace platform::detail
