// The reply numbers and ranges the FTP client tests, named once.
#pragma once

namespace ftp_reply {

// An inclusive range of reply numbers.
struct Range {
    int low;
    int high;
    constexpr bool Contains(int number) const { return number >= low && number <= high; }
};

inline constexpr int kNeedPassword = 331; // USER accepted, PASS expected
inline constexpr int kCannotOpenDataConnection = 425;
inline constexpr int kAuthTlsAccepted = 234; // AUTH TLS: secure the connection now

// PBSZ and PROT are accepted only with a completion reply.
inline constexpr Range kSecurityAccepted{200, 299};
// ABOR's own replies: nothing was left to abort; the transfer was aborted.
inline constexpr int kAbortedNothingLeft = 225;
inline constexpr int kAbortedTransfer = 226;

// The failure rule of a command: the server refused it.
inline constexpr Range kFailure{400, 599};
// Replies that fire OnUnSupportedFunction (besides the failure rule).
inline constexpr Range kUnsupported{500, 502};
// A refused log-on step (USER, PASS, the firewall's).
inline constexpr Range kLogOnRefused{401, 599};
// A greeting above this number refuses the session.
inline constexpr int kGreetingRefusedAbove = 400;
// PORT, STOR and QUIT are refused from 301 on: anything that is not a go-ahead.
inline constexpr Range kStepRefused{301, 599};
// A PASV reply from this number on is refused; below it the reply is parsed.
inline constexpr int kPassiveRefusedFrom = 500;

// Bounds of one reply: more lines or bytes than these are not a reply but a flood.
inline constexpr int kMaxReplyLines = 10000;
inline constexpr long kMaxReplyBytes = 1024L * 1024L;

} // namespace ftp_reply
