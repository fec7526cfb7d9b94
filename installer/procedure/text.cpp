#include "installer/procedure/text.h"

namespace installer {

bool Utf8ToLatin1(const std::string& utf8, std::string& latin1) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            out += static_cast<char>(byte);
            continue;
        }
        // Latin-1 beyond ASCII is exactly the two-byte sequences C2 80 to C3 BF; any other
        // lead byte is a character above U+00FF or not UTF-8 at all.
        if ((byte != 0xC2 && byte != 0xC3) || i + 1 >= utf8.size())
            return false;
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if ((next & 0xC0) != 0x80)
            return false;
        out += static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F));
        ++i;
    }
    latin1 = std::move(out);
    return true;
}

std::string ShownInLatin1(const std::string& utf8) {
    if (!IsUtf8(utf8))
        return utf8;
    std::string latin1;
    if (Utf8ToLatin1(utf8, latin1))
        return latin1;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            latin1 += static_cast<char>(lead);
            ++i;
        } else if (lead <= 0xC3) { // C2 or C3: a character of Latin-1's upper half
            latin1 += static_cast<char>(((lead & 0x03) << 6) | (utf8[i + 1] & 0x3F));
            i += 2;
        } else {
            latin1 += '?';
            i += lead <= 0xDF ? 2 : lead <= 0xEF ? 3 : 4;
        }
    }
    return latin1;
}

std::string Latin1ToUtf8(const std::string& latin1) {
    std::string out;
    out.reserve(latin1.size() + latin1.size() / 8);
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

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

bool IsUtf8(const std::string& bytes) {
    const auto byteAt = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = byteAt(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The length of the sequence and the range its second byte must fall in: this
        // rules out overlong forms (0xC0, 0xC1, 0xE0 0x80..0x9F, 0xF0 0x80..0x8F), surrogates
        // (0xED 0xA0..0xBF) and code points beyond U+10FFFF (0xF4 0x90..0xBF, 0xF5..0xFF).
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (bytes.size() - i < length)
            return false;
        if (byteAt(i + 1) < low || byteAt(i + 1) > high)
            return false;
        for (std::size_t k = 2; k < length; ++k) {
            if ((byteAt(i + k) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

TextFileBytes TextFileEncoding(const std::string& bytes) {
    static const std::string kByteOrderMark = "\xEF\xBB\xBF";
    const bool marked = bytes.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0;
    std::string text = marked ? bytes.substr(kByteOrderMark.size()) : bytes;
    if (IsUtf8(text))
        return {std::move(text), true};
    return {bytes, false};
}

std::string SavedLogName(const std::string& updateId, const std::string& isoDate) {
    std::string name = updateId;
    for (char& c : name) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!keep)
            c = '_';
    }
    return "apply-update-" + name + "-" + isoDate + ".log";
}

std::string ErrorReportText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

} // namespace installer
