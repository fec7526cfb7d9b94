// The per-machine remembered settings: the AS/400 address and user ID of the last Apply,
// shared by every installer on the machine. The password is never stored.
#pragma once

#include <string>

namespace installer {

inline constexpr char kSettingsName[] = "KDXInst.Ini"; // bare name: the settings directory
inline constexpr char kSystemSection[] = "System";
inline constexpr char kIPKey[] = "IP";
inline constexpr char kUserKey[] = "User";
inline constexpr char kDefaultIP[] = "192.168.0.100";
inline constexpr char kDefaultUser[] = "QSECOFR";

struct RememberedSettings {
    std::string ip;
    std::string user;
};

// [System] IP and User, with their defaults when the file or a key is missing.
RememberedSettings ReadRememberedSettings();

// Writes [System] IP, then [System] User. Raises "Unable to write to KDXInst.Ini" when the
// file cannot be written.
void RememberSettings(const std::string& ip, const std::string& user);

} // namespace installer
