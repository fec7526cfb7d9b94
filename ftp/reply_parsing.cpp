#include "ftp/reply_parsing.h"

#include "platform/exception.h"

#include <cstdint>
#include <limits>

std::int16_t ReplyNumberOf(const std::string& Line) {
    std::int64_t number = 0;
    std::size_t digits = 0;
    while (digits < Line.size() && digits < 10 && Line[digits] >= '0' && Line[digits] <= '9') {
        number = number * 10 + (Line[digits] - '0');
        ++digits;
    }
    if (number > std::numeric_limits<std::int16_t>::max())
        return std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(number);
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool HasReplyCode(const std::string& Line) {
    return Line.size() >= 3 && IsDigit(Line[0]) && IsDigit(Line[1]) && IsDigit(Line[2]);
}

bool StartsMultiLineReply(const std::string& Line) {
    return HasReplyCode(Line) && Line.size() >= 4 && Line[3] == '-';
}

bool EndsMultiLineReply(const std::string& First, const std::string& Line) {
    if (Line.size() < 4 || Line.compare(0, 3, First, 0, 3) != 0)
        return false;
    const char after = Line[3];
    return after == ' ' || after == '\r' || after == '\n';
}

bool IsOneCommandLine(const std::string& CommandString) {
    return CommandString.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string QuotedReply(const std::string& Line) {
    const std::size_t end = Line.find_last_not_of("\r\n");
    const std::string text = end == std::string::npos ? std::string() : Line.substr(0, end + 1);
    return text.substr(0, 80);
}

TCmdType CommandTypeOf(const std::string& CommandStr) {
    const std::string verb = NthField(CommandStr, ' ', 1) + " ";
    if (verb == "CWD ")
        return ctChangeDir;
    if (verb == "DELE ")
        return ctDelete;
    if (verb == "MKD ")
        return ctMakeDir;
    if (verb == "RMD ")
        return ctRemoveDir;
    if (CommandStr == "PWD")
        return ctCurrentDir;
    return ctDoCommand;
}

std::int32_t StrToInt(const std::string& Text) {
    const auto invalid = [&Text] {
        return platform::EConvertError(
            platform::FormatMessage("'%s' is not a valid integer value", Text));
    };
    std::size_t at = 0;
    while (at < Text.size() && Text[at] == ' ')
        ++at;
    bool negative = false;
    if (at < Text.size() && (Text[at] == '+' || Text[at] == '-')) {
        negative = Text[at] == '-';
        ++at;
    }
    if (at == Text.size())
        throw invalid();
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t value = 0;
    for (; at < Text.size(); ++at) {
        if (Text[at] < '0' || Text[at] > '9')
            throw invalid();
        value = value * 10 + (Text[at] - '0');
        if (value > limit)
            throw invalid();
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::int32_t PassivePort(const std::string& ReplyLine) {
    const std::string sixth = NthField(ReplyLine, ',', 6);
    const auto paren = sixth.find(')');
    const std::int32_t low = StrToInt(paren == std::string::npos ? "" : sixth.substr(0, paren));
    const std::int32_t high = StrToInt(NthField(ReplyLine, ',', 5));
    // Neither number is held to a byte; the connection uses the low 16 bits of the sum.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(low) +
                                     static_cast<std::uint32_t>(high) * 256u);
}

std::int32_t ExtendedPassivePort(const std::string& ReplyLine) {
    std::string text;
    const std::size_t open = ReplyLine.find('(');
    // "(" d d d port d ")": the delimiter is any printable character but a digit.
    if (open != std::string::npos && open + 5 < ReplyLine.size()) {
        const char d = ReplyLine[open + 1];
        const std::size_t end = ReplyLine.find(d, open + 4);
        if (d > ' ' && d < '\x7f' && (d < '0' || d > '9') && ReplyLine[open + 2] == d &&
            ReplyLine[open + 3] == d && end != std::string::npos && end + 1 < ReplyLine.size() &&
            ReplyLine[end + 1] == ')')
            text = ReplyLine.substr(open + 4, end - open - 4);
    }
    const bool digits = !text.empty() && text.size() <= 5 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    const std::int32_t port = digits ? StrToInt(text) : 0;
    if (port < 1 || port > 65535)
        throw platform::EConvertError(
            platform::FormatMessage("'%s' is not a valid integer value", text));
    return port;
}

std::string ExtendedPortArgument(bool ipv6, const std::string& address, std::uint16_t port) {
    return std::string(ipv6 ? "|2|" : "|1|") + address + "|" + std::to_string(port) + "|";
}

std::string RemoteNameOf(const std::string& LocalFile) {
    const auto separator = LocalFile.find_last_of("\\:/");
    return separator == std::string::npos ? LocalFile : LocalFile.substr(separator + 1);
}
