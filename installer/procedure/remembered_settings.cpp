#include "installer/procedure/remembered_settings.h"

#include "platform/profile_file.h"

namespace installer {

RememberedSettings ReadRememberedSettings() {
    const platform::ProfileFile settings(kSettingsName);
    return {settings.ReadString(kSystemSection, kIPKey, kDefaultIP),
            settings.ReadString(kSystemSection, kUserKey, kDefaultUser),
            settings.ReadString(kSystemSection, kSecuritySetting, ""),
            settings.ReadString(kSystemSection, kDataConnectionSetting, "")};
}

void RememberSettings(const std::string& ip, const std::string& user) {
    platform::ProfileFile settings(kSettingsName);
    settings.WriteString(kSystemSection, kIPKey, ip);
    settings.WriteString(kSystemSection, kUserKey, user);
}

void RememberConnectionChoice(const std::string& security, const std::string& dataConnection) {
    platform::ProfileFile settings(kSettingsName);
    settings.WriteString(kSystemSection, kSecuritySetting, security);
    settings.WriteString(kSystemSection, kDataConnectionSetting, dataConnection);
}

std::string CertificateKey(const std::string& host, int port) {
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    return name + "/" + std::to_string(port);
}

std::string TrustedFingerprint(const std::string& key) {
    return platform::ProfileFile(kSettingsName).ReadString(kCertificatesSection, key, "");
}

void TrustFingerprint(const std::string& key, const std::string& fingerprint) {
    platform::ProfileFile(kSettingsName).WriteString(kCertificatesSection, key, fingerprint);
}

} // namespace installer
