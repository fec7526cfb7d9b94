#include "platform/profile_file.h"

#include "platform/exception.h"
#include "platform/file_reader.h"
#include "platform/paths.h"
#include "platform/private_file.h"
#include "platform/settings_location.h"

#include <optional>
#include <utility>
#include <vector>

namespace platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string TrimBlanks(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// One line of the file: its text without the line end, and the line end as it was
// ("\r\n", "\n" or nothing for a last line without one), so rewriting keeps every byte.
struct Line {
    std::string text;
    std::string end;
};

std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto newline = bytes.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        std::size_t textEnd = newline;
        if (textEnd > start && bytes[textEnd - 1] == '\r')
            --textEnd;
        lines.push_back(
            {bytes.substr(start, textEnd - start), bytes.substr(textEnd, newline + 1 - textEnd)});
        start = newline + 1;
    }
    return lines;
}

// The name of a "[Section]" line, or nothing when the line is not a section header.
std::optional<std::string> SectionName(const std::string& text) {
    const std::string trimmed = TrimBlanks(text);
    if (trimmed.empty() || trimmed.front() != '[')
        return std::nullopt;
    const auto close = trimmed.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return TrimBlanks(trimmed.substr(1, close - 1));
}

struct KeyLine {
    std::string key;
    std::string rawValue; // everything after the first "=", untrimmed
};

// A "Key=Value" line; a line without "=" is a key without a value. Blank lines, comments
// and section headers are not keys.
std::optional<KeyLine> ParseKeyLine(const std::string& text) {
    const std::string trimmed = TrimBlanks(text);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[')
        return std::nullopt;
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos)
        return KeyLine{trimmed, ""};
    const std::string key = TrimBlanks(trimmed.substr(0, equals));
    if (key.empty())
        return std::nullopt;
    return KeyLine{key, trimmed.substr(equals + 1)};
}

std::string CleanValue(const std::string& rawValue) {
    std::string value = TrimBlanks(rawValue);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > ProfileFile::kMaxValueLength)
        value.resize(ProfileFile::kMaxValueLength);
    return value;
}

// Where a section and one of its keys sit in the file. Only the first section of a name
// counts, and within it the first line of a key, as with Windows profile files.
struct Location {
    std::optional<std::size_t> section; // index of the header line
    std::optional<std::size_t> key;     // index of the key line
    std::size_t insertAt = 0;           // where a new key of the section goes
};

Location Find(const std::vector<Line>& lines, const std::string& section, const std::string& key) {
    Location at;
    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i].text);
        if (name && SameName(*name, section)) {
            at.section = i;
            break;
        }
    }
    if (!at.section)
        return at;
    at.insertAt = *at.section + 1;
    for (++i; i < lines.size(); ++i) {
        if (SectionName(lines[i].text))
            break;
        if (!TrimBlanks(lines[i].text).empty())
            at.insertAt = i + 1; // after the last non-blank line of the section
        const auto parsed = ParseKeyLine(lines[i].text);
        if (parsed && !at.key && SameName(parsed->key, key))
            at.key = i;
    }
    return at;
}

// The file's text, or nothing when it does not exist; `readable` turns false for a file
// that exists but cannot be read.
std::optional<std::string> ReadBytes(const std::string& path, bool& readable) {
    readable = true;
    if (!FileExists(path))
        return std::nullopt;
    try {
        return ReadWholeFile(path);
    } catch (const Exception&) {
        readable = false; // also a FIFO or a device: never waited on
        return std::nullopt;
    }
}

bool BreaksLines(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

} // namespace

ProfileFile::ProfileFile(std::string fileName) : fileName_(std::move(fileName)) {}

std::string ProfileFile::Path() const {
    if (!detail::IsBareProfileName(fileName_))
        return fileName_;
    return detail::BareProfilePath(fileName_);
}

std::string ProfileFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
    bool readable = true;
    const auto bytes = ReadBytes(Path(), readable);
    const std::string fallback = defaultValue.substr(0, kMaxValueLength);
    if (!bytes)
        return fallback;
    const auto lines = SplitLines(*bytes);
    const Location at = Find(lines, section, key);
    if (!at.key)
        return fallback;
    return CleanValue(ParseKeyLine(lines[*at.key].text)->rawValue);
}

bool ProfileFile::ValueExists(const std::string& section, const std::string& key) const {
    bool readable = true;
    const auto bytes = ReadBytes(Path(), readable);
    if (!bytes)
        return false;
    return Find(SplitLines(*bytes), section, key).key.has_value();
}

void ProfileFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
    const Exception refused(FormatMessage("Unable to write to %s", fileName_));
    // A line break in any part would smuggle extra lines (keys, sections) into the file;
    // such names could also never be read back.
    const std::string trimmedKey = TrimBlanks(key);
    if (BreaksLines(section) || BreaksLines(key) || BreaksLines(value) ||
        section.find(']') != std::string::npos || trimmedKey.empty() ||
        key.find('=') != std::string::npos || trimmedKey.front() == '[' ||
        trimmedKey.front() == ';')
        throw refused;

    const std::string path = Path();
    bool readable = true;
    const auto bytes = ReadBytes(path, readable);
    if (!readable)
        throw refused; // rewriting a file we cannot read would lose its other lines
    std::vector<Line> lines = bytes ? SplitLines(*bytes) : std::vector<Line>{};

    std::string newline = "\n";
    for (const Line& line : lines) {
        if (!line.end.empty()) {
            newline = line.end;
            break;
        }
    }

    const Location at = Find(lines, section, key);
    if (at.key) {
        // Keep the key's own spelling; only the value changes.
        lines[*at.key].text = ParseKeyLine(lines[*at.key].text)->key + "=" + value;
    } else {
        const Line keyLine{key + "=" + value, newline};
        if (at.section) {
            if (at.insertAt > 0 && lines[at.insertAt - 1].end.empty())
                lines[at.insertAt - 1].end = newline;
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at.insertAt), keyLine);
        } else {
            if (!lines.empty() && lines.back().end.empty())
                lines.back().end = newline;
            lines.push_back({"[" + section + "]", newline});
            lines.push_back(keyLine);
        }
    }

    std::string out;
    for (const Line& line : lines)
        out += line.text + line.end;

    // Written beside the target and renamed over it, so a crash or a full disk leaves
    // either the old file or the new one, never a mixture. Only its owner may read it, as
    // the remembered settings tell where and as whom the operator logs on: a file written
    // before with wider permissions is narrowed too.
    // A bare name's folder is made as needed; where the file then goes is the system's choice.
    const bool bare = detail::IsBareProfileName(fileName_);
    if (!(bare ? detail::WriteBareProfile(fileName_, out) : WritePrivateFile(path, out)))
        throw refused;
}

} // namespace platform
