// Text helpers of the installer. Texts are byte strings; these work on bytes, not locales.
#pragma once

#include <string>
#include <vector>

namespace installer {

// Latin-1 bytes of a UTF-8 text. False when the text is not valid UTF-8 or holds a
// character outside Latin-1 (which the host conversation cannot carry); nothing is ever
// replaced by a stand-in.
bool Utf8ToLatin1(const std::string& utf8, std::string& latin1);

// A UTF-8 text, a file's path say, to be shown in one of the installer's Latin-1 messages:
// each character Latin-1 has as itself, each other as "?". Bytes that are not UTF-8 are
// taken as Latin-1 already and kept.
std::string ShownInLatin1(const std::string& utf8);

// UTF-8 of a Latin-1 text.
std::string Latin1ToUtf8(const std::string& latin1);

// Removes leading and trailing characters with codes 0 to 32.
std::string Trim(const std::string& text);

// Upper-cases the letters a to z; every other byte stays as it is.
std::string UpperCase(const std::string& text);

// The lines of a text file: CR LF, LF and a lone CR all end a line, a final line break
// does not start another line, and NUL bytes (which no text control can show) are dropped.
std::vector<std::string> TextLines(const std::string& bytes);

// Whether `bytes` is well-formed UTF-8: no overlong forms, no surrogate halves, nothing
// beyond U+10FFFF, no sequence cut short. Plain ASCII is.
bool IsUtf8(const std::string& bytes);

// How a text file is to be read: UTF-8 when it is well-formed UTF-8 (its byte-order mark, if
// any, removed), otherwise Latin-1, byte for byte.
struct TextFileBytes {
    std::string bytes;
    bool utf8 = false;
};
TextFileBytes TextFileEncoding(const std::string& bytes);

// The name a saved status log is offered under: "apply-update-<update>-<date>.log", with
// every character of the update identifier that does not belong in a file name (anything
// but letters, digits, ".", "_" and "-") replaced by "_".
std::string SavedLogName(const std::string& updateId, const std::string& isoDate);

// The text of the top-level error report: the message with "." appended when its last
// character sorts after "." (so texts that end in a line break or punctuation stay as
// they are).
std::string ErrorReportText(const std::string& message);

} // namespace installer
