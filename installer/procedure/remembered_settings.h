// The per-machine remembered settings: the AS/400 address and user ID of the last Apply and
// how it reached the host, shared by every installer on the machine, and the certificates
// the operator chose to trust. The password is never stored.
#pragma once

#include <string>

namespace installer {

inline constexpr char kSettingsName[] = "KDXInst.Ini"; // bare name: the settings directory
inline constexpr char kSystemSection[] = "System";
inline constexpr char kIPKey[] = "IP";
inline constexpr char kUserKey[] = "User";
inline constexpr char kDefaultIP[] = "192.168.0.100";
inline constexpr char kDefaultUser[] = "QSECOFR";
inline constexpr char kSecuritySetting[] = "Security";
inline constexpr char kDataConnectionSetting[] = "DataConnection";
// One key per host and port (CertificateKey), the SHA-256 fingerprint of the certificate the
// operator trusted for it.
inline constexpr char kCertificatesSection[] = "TrustedCertificates";

struct RememberedSettings {
    std::string ip;
    std::string user;
    std::string security;       // as the descriptor names it; empty when never chosen
    std::string dataConnection; // the same
};

// [System] IP and User, with their defaults when the file or a key is missing.
RememberedSettings ReadRememberedSettings();

// Writes [System] IP, then [System] User. Raises "Unable to write to KDXInst.Ini" when the
// file cannot be written.
void RememberSettings(const std::string& ip, const std::string& user);

// Writes [System] Security and DataConnection, in the descriptor's words.
void RememberConnectionChoice(const std::string& security, const std::string& dataConnection);

// The key of a host and port among the trusted certificates: "host/port", the host as typed
// but without the brackets of an IPv6 address (a line that begins with "[" is a section).
std::string CertificateKey(const std::string& host, int port);
// The fingerprint trusted for the key; empty when none.
std::string TrustedFingerprint(const std::string& key);
void TrustFingerprint(const std::string& key, const std::string& fingerprint);

} // namespace installer
