#include "socket/stream_socket.h"

std::string NthField(const std::string& Text, char Delimiter, int N) {
    if (N <= 0)
        return {};
    std::size_t start = 0;
    for (int field = 1; field < N; ++field) {
        const std::size_t delimiter = Text.find(Delimiter, start);
        if (delimiter == std::string::npos)
            return {};
        start = delimiter + 1;
    }
    const std::size_t end = Text.find(Delimiter, start);
    return Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
