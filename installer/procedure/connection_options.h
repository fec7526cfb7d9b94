// How the installer reaches the AS/400 beyond the address: whether the conversation is
// secured with TLS (and which authorities vouch for the host), and how the data connection
// of an upload is opened. The update descriptor names the package's choice; the operator may
// change it in the Advanced options, and the last choice is remembered with the address.
#pragma once

#include "platform/exception.h"

#include <optional>
#include <string>

namespace platform {
class ProfileFile;
}

namespace installer {

// Plain FTP; FTP secured with AUTH TLS on the FTP port; TLS from the first byte.
enum class SecurityChoice { None = 0, Tls = 1, ImplicitTls = 2 };
// Active with a switch to passive when the host cannot connect back; always active (the host
// connects back); always passive (the installer connects to the host).
enum class DataConnectionChoice { Auto = 0, Active = 1, Passive = 2 };

// The port of implicit TLS when the address names none.
inline constexpr int kImplicitTlsPort = 990;

inline constexpr char kSecurityKey[] = "Security";
inline constexpr char kCAFileKey[] = "CAFile";
inline constexpr char kDataConnectionKey[] = "DataConnection";

struct ConnectionOptions {
    SecurityChoice security = SecurityChoice::None;
    DataConnectionChoice dataConnection = DataConnectionChoice::Auto;
    // PEM file of the authorities that vouch for the host besides the system's; empty for
    // none. A relative name is looked up as the package's save files are.
    std::string caFile;
};

// A descriptor value that names no choice; the package cannot be used as it is.
class EDescriptorValue : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// The descriptor's words ("None", "TLS", "ImplicitTLS"; "Active", "Passive", "Auto"), any
// letter case; empty means the default. Nothing for any other text.
std::optional<SecurityChoice> ParseSecurity(const std::string& text);
std::optional<DataConnectionChoice> ParseDataConnection(const std::string& text);
std::string SecurityWord(SecurityChoice choice);
std::string DataConnectionWord(DataConnectionChoice choice);

// The choices a run starts with: a descriptor key that is present (and not empty) wins, then
// the choice remembered by the last Apply on this machine, then the defaults. Raises
// EDescriptorValue naming the key and the value when the descriptor's value names no choice.
ConnectionOptions ReadStartOptions(const platform::ProfileFile& descriptor);

// The descriptor's choices alone (its values, else the defaults), for a run that remembers
// nothing; raises EDescriptorValue as above.
ConnectionOptions ReadDescriptorOptions(const platform::ProfileFile& descriptor);

} // namespace installer
