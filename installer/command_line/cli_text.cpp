#include "installer/command_line/cli_text.h"

#include <cstdio>

namespace installer {

std::string TerminalSafe(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            out += '?';
            continue;
        }
        // C1 controls are U+0080 to U+009F: C2 80 to C2 9F.
        if (byte == 0xC2 && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                out += '?';
                ++i;
                continue;
            }
        }
        out += utf8[i];
    }
    return out;
}

std::vector<std::string> StatusLogLines(const std::string& message, int blankLines) {
    std::vector<std::string> lines;
    for (int i = 0; i < blankLines; ++i)
        lines.emplace_back(" ");
    std::string line;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const char c = message[i];
        if (c == '\0')
            continue;
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
            continue;
        }
        line += c;
    }
    lines.push_back(line);
    return lines;
}

std::vector<std::string> MessageLines(const std::string& message) {
    std::vector<std::string> lines = StatusLogLines(message, 0);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        auto code = static_cast<unsigned char>(c);
        // C1 controls (C2 80 to C2 9F) are escaped like the C0 ones, which a terminal may
        // act on too; the line stays plain printable text.
        if (code == 0xC2 && i + 1 < utf8.size()) {
            const auto next = static_cast<unsigned char>(utf8[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                code = next;
                ++i;
            }
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace installer
