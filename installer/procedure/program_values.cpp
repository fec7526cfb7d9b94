#include "installer/procedure/program_values.h"

#include "installer/procedure/remembered_settings.h"
#include "installer/procedure/text.h"
#include "platform/paths.h"

namespace installer {

ProgramValues LoadProgramValues(const std::string& executablePath) {
    ProgramValues values;
    values.executableDirectory =
        platform::IncludeTrailingPathDelimiter(platform::ExtractFilePath(executablePath));
    values.descriptor =
        std::make_unique<platform::ProfileFile>(values.executableDirectory + kDescriptorName);
    values.shownUpdateId = values.descriptor->ReadString(kDefaultsSection, kUpdateKey, kNoUpdate);
    values.supportLibrary = UpperCase(
        Trim(values.descriptor->ReadString(kDefaultsSection, kSptlibKey, kDefaultSptlib)));
    return values;
}

FieldTexts ReadFieldTexts(const platform::ProfileFile& descriptor) {
    const RememberedSettings remembered = ReadRememberedSettings();
    FieldTexts texts;
    texts.description =
        descriptor.ReadString(kDefaultsSection, kDescriptionKey, kDefaultDescription);
    texts.targetLibrary = descriptor.ReadString(kDefaultsSection, kTgtlibKey, kDefaultTgtlib);
    texts.userId = descriptor.ReadString(kDefaultsSection, kUseridKey, remembered.user);
    texts.ipAddress = descriptor.ReadString(kDefaultsSection, kIPAddressKey, remembered.ip);
    return texts;
}

std::string CaptionFor(const std::string& shownUpdateId) {
    return kCaptionPrefix + shownUpdateId;
}

} // namespace installer
