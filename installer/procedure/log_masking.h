// The password kept out of a status log that is saved to a file. A host may repeat what it
// was sent ("Profile QSECOFR password Secret1 expired."), so the log can hold it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace installer {

inline constexpr char kPasswordMask[] = "********";

// Passwords shorter than this are not masked: so short a text stands in too many words of
// a log, and masking them would make it unreadable while hiding little.
inline constexpr std::size_t kShortestMaskedPassword = 4;

// The log with every occurrence of a password that stands as a word of its own replaced by
// kPasswordMask: the character before it and the one after it (where there are any) are
// not word characters, that is neither letters (A to Z, a to z and the letters of
// Latin-1, such as é or ß) nor digits nor "_"; any character beyond Latin-1 counts as a
// letter too. So "password Secret1 expired" is masked, "Secret12" and "xSecret1" are not.
// A password that is blank (empty, or nothing but blanks and control characters) or
// shorter than kShortestMaskedPassword characters masks nothing. Where passwords overlap
// the longer one is masked whole. The log and the passwords are UTF-8; the log is scanned
// once, so a mask is never taken for a password.
std::string MaskPasswords(const std::string& log, std::vector<std::string> passwords);

} // namespace installer
