#include "installer/remembered_settings.h"

#include "platform/profile_file.h"

namespace installer {

RememberedSettings ReadRememberedSettings() {
    const platform::ProfileFile settings(kSettingsName);
    return {settings.ReadString(kSystemSection, kIPKey, kDefaultIP),
            settings.ReadString(kSystemSection, kUserKey, kDefaultUser)};
}

void RememberSettings(const std::string& ip, const std::string& user) {
    platform::ProfileFile settings(kSettingsName);
    settings.WriteString(kSystemSection, kIPKey, ip);
    settings.WriteString(kSystemSection, kUserKey, user);
}

} // namespace installer
