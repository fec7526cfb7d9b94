// Text conversions of the command-line run. The installer's texts are Latin-1 bytes (what
// the AS/400 conversation carries); a terminal, a log file and a JSON reader expect UTF-8,
// and the command line arrives in the locale's encoding, which is UTF-8.
#pragma once

#include "installer/procedure/text.h"

#include <string>
#include <vector>

namespace installer {

// A UTF-8 text made safe for a terminal: control characters other than tab (C0, DEL and
// C1, by which a hostile host text could move the cursor or retitle the terminal) become
// "?". Everything else stays as it is.
std::string TerminalSafe(const std::string& utf8);

// The status log lines that AddLine(message, blankLines) appends, exactly as the log
// holds them: `blankLines` lines holding one blank, then the message, where CR LF, a lone
// CR and LF each start a new line and NUL bytes are left out.
std::vector<std::string> StatusLogLines(const std::string& message, int blankLines);

// The lines of a message as it is shown: as StatusLogLines(message, 0), but
// without the empty lines at its end (a host's reply keeps its line end).
std::vector<std::string> MessageLines(const std::string& message);

// A JSON string literal (quotes included) of a UTF-8 text, control characters escaped.
std::string JsonString(const std::string& utf8);

} // namespace installer
