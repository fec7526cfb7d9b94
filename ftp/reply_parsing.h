// The pieces of FTP text handling that need no connection: reply numbers, continuation
// lines, command types, the PASV port and the name a file is stored under.
#pragma once

#include "ftp/ftp_client.h"

#include <cstdint>
#include <string>

// The number formed by a reply line's leading digits (at most ten); 0 when there are
// none, 32767 when it does not fit 16 bits.
std::int16_t ReplyNumberOf(const std::string& Line);

// True when the line begins with a three-digit reply code: the only way an FTP reply can
// begin.
bool HasReplyCode(const std::string& Line);

// True when a reply that begins with this line goes on: it has a reply code followed by
// "-".
bool StartsMultiLineReply(const std::string& Line);

// True when `Line` ends the multi-line reply that began with `First`: it begins with the
// same three digits followed by a space (or by the line's end). Every other line between is
// text of the reply, whatever it begins with.
bool EndsMultiLineReply(const std::string& First, const std::string& Line);

// True when the command text can go out as exactly one command line: it holds no CR or LF
// (which would let it carry a second command) and no NUL (which would cut its line end off).
bool IsOneCommandLine(const std::string& CommandString);

// The text an invalid reply is quoted with in an error: the line without its line end, cut
// to 80 characters.
std::string QuotedReply(const std::string& Line);

// The command type that DoCommand reports for a command text.
TCmdType CommandTypeOf(const std::string& CommandStr);

// The strict integer conversion: leading spaces and a sign are accepted, the rest must be
// decimal digits up to the end of the text, within 32 bits; otherwise
// platform::EConvertError "'%s' is not a valid integer value".
std::int32_t StrToInt(const std::string& Text);

// The data port named by the first line of a PASV reply: low byte from the sixth
// comma-separated field up to its ")", high byte from the fifth. The address fields are
// not used. Raises platform::EConvertError.
std::int32_t PassivePort(const std::string& ReplyLine);

// The data port named by the first line of an EPSV reply, "229 ... (|||6446|)": the text
// between the third and the fourth of four equal delimiters after "(", which must be a port
// from 1 to 65535 in plain digits; the address fields are not used. Raises
// platform::EConvertError "'%s' is not a valid integer value" with the text it found (empty
// when the reply has no such form).
std::int32_t ExtendedPassivePort(const std::string& ReplyLine);

// The argument of EPRT for an address and port: "|1|a.b.c.d|port|" or "|2|v6-address|port|".
std::string ExtendedPortArgument(bool ipv6, const std::string& address, std::uint16_t port);

// The name STOR gives a local file when no remote name is set: everything after the last
// "\", ":" or "/".
std::string RemoteNameOf(const std::string& LocalFile);
