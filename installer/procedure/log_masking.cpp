#include "installer/procedure/log_masking.h"

#include "installer/procedure/text.h"

#include <algorithm>

namespace installer {
namespace {

bool IsContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Whether the character that starts at `at` is a word character (see MaskPasswords).
bool WordCharacterAt(const std::string& text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80)
        return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
               (byte >= '0' && byte <= '9') || byte == '_';
    // Lead bytes 0xC2 and 0xC3 start the characters U+0080 to U+00FF; any other lead byte
    // starts a character beyond Latin-1.
    if ((byte != 0xC2 && byte != 0xC3) || at + 1 >= text.size())
        return true;
    const unsigned code =
        ((byte & 0x1Fu) << 6) | (static_cast<unsigned char>(text[at + 1]) & 0x3Fu);
    return code == 0xAA || code == 0xB5 || code == 0xBA ||
           (code >= 0xC0 && code != 0xD7 && code != 0xF7);
}

// Whether the character that ends just before `at` is a word character; false at the start.
bool WordCharacterBefore(const std::string& text, std::size_t at) {
    if (at == 0)
        return false;
    std::size_t start = at - 1;
    while (start > 0 && at - start < 4 &&
           IsContinuationByte(static_cast<unsigned char>(text[start])))
        --start;
    return WordCharacterAt(text, start);
}

std::size_t CharacterCount(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return !IsContinuationByte(static_cast<unsigned char>(c));
    }));
}

} // namespace

std::string MaskPasswords(const std::string& log, std::vector<std::string> passwords) {
    passwords.erase(std::remove_if(passwords.begin(), passwords.end(),
                                   [](const std::string& password) {
                                       return Trim(password).empty() ||
                                              CharacterCount(password) < kShortestMaskedPassword;
                                   }),
                    passwords.end());
    std::stable_sort(
        passwords.begin(), passwords.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    if (passwords.empty())
        return log;

    std::string masked;
    masked.reserve(log.size());
    std::size_t at = 0;
    while (at < log.size()) {
        const auto whole = std::find_if(passwords.begin(), passwords.end(), [&](const auto& p) {
            const std::size_t end = at + p.size();
            return log.compare(at, p.size(), p) == 0 && !WordCharacterBefore(log, at) &&
                   (end == log.size() || !WordCharacterAt(log, end));
        });
        if (whole != passwords.end()) {
            masked += kPasswordMask;
            at += whole->size();
        } else {
            masked += log[at++];
        }
    }
    return masked;
}

} // namespace installer
