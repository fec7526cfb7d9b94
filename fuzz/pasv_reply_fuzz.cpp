// The PASV reply: splitting a line into comma fields (NthField) and taking the data port
// from the fifth and sixth of them. Whatever a server writes, the port either comes out of
// exactly those fields or the reply fails with the conversion error; the fields always put
// the line back together.
#include "fuzz/fuzz_target.h"

#include "ftp/reply_parsing.h"
#include "platform/exception.h"
#include "socket/stream_socket.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

void CheckFieldsRebuildText(const std::string& text, char delimiter) {
    const auto count = static_cast<int>(std::count(text.begin(), text.end(), delimiter)) + 1;
    FUZZ_CHECK(NthField(text, delimiter, 0).empty(), "field 0 is not empty");
    FUZZ_CHECK(NthField(text, delimiter, -1).empty(), "a negative field is not empty");
    if (text.empty()) {
        FUZZ_CHECK(NthField(text, delimiter, 1).empty(), "an empty text has a field");
        return;
    }
    FUZZ_CHECK(NthField(text, delimiter, count + 1).empty(), "a field beyond the last one");
    std::string rebuilt;
    for (int n = 1; n <= count; ++n) {
        const std::string field = NthField(text, delimiter, n);
        FUZZ_CHECK(field.find(delimiter) == std::string::npos, "a field holds the delimiter");
        rebuilt += (n > 1 ? std::string(1, delimiter) : std::string()) + field;
    }
    FUZZ_CHECK(rebuilt == text, "the fields do not rebuild the text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    // Field splitting is only interesting for lines of a sane count of fields; the cost
    // of a rebuild grows with the square of the count.
    if (std::count(line.begin(), line.end(), ',') <= 256)
        CheckFieldsRebuildText(line, ',');
    if (!line.empty() && std::count(line.begin(), line.end(), line[0]) <= 256)
        CheckFieldsRebuildText(line.substr(1), line[0]);

    try {
        const std::int32_t port = PassivePort(line);
        // It came from the fifth field and the sixth field's text before its ")".
        const std::string sixth = NthField(line, ',', 6);
        const auto paren = sixth.find(')');
        FUZZ_CHECK(paren != std::string::npos, "a port without a closing parenthesis");
        const std::int32_t low = StrToInt(sixth.substr(0, paren));
        const std::int32_t high = StrToInt(NthField(line, ',', 5));
        const auto expected =
            static_cast<std::uint32_t>(low) + static_cast<std::uint32_t>(high) * 256u;
        FUZZ_CHECK(static_cast<std::uint32_t>(port) == expected, "wrong port");
    } catch (const platform::EConvertError& error) {
        const std::string message = error.Message();
        FUZZ_CHECK(message.size() >= 2 && message.front() == '\'', "an unexpected message");
    }
    return 0;
}
