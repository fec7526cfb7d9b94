#include "installer/text.h"

namespace installer {

std::string Trim(const std::string& text) {
    const auto isControlOrBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isControlOrBlank(text[begin]))
        ++begin;
    while (end > begin && isControlOrBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

std::string UpperCase(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return result;
}

std::vector<std::string> TextLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string current;
    bool open = false; // a line has started and not been ended yet
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            open = false;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            if (c != '\0')
                current += c;
            open = true;
        }
    }
    if (open)
        lines.push_back(current);
    return lines;
}

std::string ErrorReportText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

} // namespace installer
