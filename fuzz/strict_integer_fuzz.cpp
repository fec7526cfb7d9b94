// The strict integer conversion (the PASV port numbers) and the reply number of a reply
// line, against plain reference versions: any text either converts to exactly the value
// the reference finds or fails with the conversion error naming the text.
#include "fuzz/fuzz_target.h"

#include "ftp/reply_parsing.h"
#include "platform/exception.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace {

// Leading blanks, one optional sign, then nothing but decimal digits, within 32 bits.
std::optional<std::int32_t> ReferenceStrToInt(const std::string& text) {
    std::size_t at = text.find_first_not_of(' ');
    if (at == std::string::npos)
        return std::nullopt;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-')
        negative = text[at++] == '-';
    if (at == text.size())
        return std::nullopt;
    long long magnitude = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < '0' || text[at] > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > 2147483648LL)
            return std::nullopt;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

// At most ten leading digits; beyond the 16-bit range the number stays at 32767.
std::int16_t ReferenceReplyNumber(const std::string& line) {
    long long value = 0;
    for (std::size_t i = 0; i < line.size() && i < 10 && line[i] >= '0' && line[i] <= '9'; ++i)
        value = value * 10 + (line[i] - '0');
    return static_cast<std::int16_t>(value > 32767 ? 32767 : value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::optional<std::int32_t> expected = ReferenceStrToInt(text);
    try {
        const std::int32_t value = StrToInt(text);
        FUZZ_CHECK(expected.has_value(), "accepted a text that is not an integer");
        FUZZ_CHECK(value == *expected, "converted to the wrong value");
    } catch (const platform::EConvertError& error) {
        FUZZ_CHECK(!expected.has_value(), "refused a valid integer");
        FUZZ_CHECK(error.Message() == "'" + text + "' is not a valid integer value",
                   "the conversion error does not name the text");
    }

    FUZZ_CHECK(ReplyNumberOf(text) == ReferenceReplyNumber(text), "wrong reply number");
    return 0;
}
