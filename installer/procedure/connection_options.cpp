#include "installer/procedure/connection_options.h"

#include "installer/procedure/program_values.h"
#include "installer/procedure/remembered_settings.h"
#include "installer/procedure/text.h"
#include "platform/profile_file.h"

#include <array>
#include <utility>

namespace installer {
namespace {

constexpr std::array<std::pair<const char*, SecurityChoice>, 3> kSecurityWords{{
    {"None", SecurityChoice::None},
    {"TLS", SecurityChoice::Tls},
    {"ImplicitTLS", SecurityChoice::ImplicitTls},
}};
constexpr std::array<std::pair<const char*, DataConnectionChoice>, 3> kDataConnectionWords{{
    {"Active", DataConnectionChoice::Active},
    {"Passive", DataConnectionChoice::Passive},
    {"Auto", DataConnectionChoice::Auto},
}};

template <class Choice, std::size_t N>
std::optional<Choice> Parse(const std::array<std::pair<const char*, Choice>, N>& words,
                            const std::string& text, Choice empty) {
    const std::string word = UpperCase(Trim(text));
    if (word.empty())
        return empty;
    for (const auto& [name, choice] : words)
        if (UpperCase(name) == word)
            return choice;
    return std::nullopt;
}

template <class Choice, std::size_t N>
std::string Word(const std::array<std::pair<const char*, Choice>, N>& words, Choice choice) {
    for (const auto& [name, value] : words)
        if (value == choice)
            return name;
    return {};
}

template <class Choice, std::size_t N>
std::string Allowed(const std::array<std::pair<const char*, Choice>, N>& words) {
    return std::string(words[0].first) + ", " + words[1].first + " or " + words[2].first;
}

// The descriptor's choice for `key`: nothing when the key is missing or empty.
template <class Choice, std::size_t N>
std::optional<Choice> DescriptorChoice(const platform::ProfileFile& descriptor, const char* key,
                                       const std::array<std::pair<const char*, Choice>, N>& words,
                                       Choice fallback) {
    const std::string value = descriptor.ReadString(kDefaultsSection, key, "");
    if (Trim(value).empty())
        return std::nullopt;
    const std::optional<Choice> choice = Parse(words, value, fallback);
    if (!choice)
        throw EDescriptorValue("The update descriptor's " + std::string(key) + " value \"" + value +
                               "\" is not one of " + Allowed(words) + ".");
    return choice;
}

} // namespace

std::optional<SecurityChoice> ParseSecurity(const std::string& text) {
    return Parse(kSecurityWords, text, SecurityChoice::None);
}

std::optional<DataConnectionChoice> ParseDataConnection(const std::string& text) {
    return Parse(kDataConnectionWords, text, DataConnectionChoice::Auto);
}

std::string SecurityWord(SecurityChoice choice) {
    return Word(kSecurityWords, choice);
}

std::string DataConnectionWord(DataConnectionChoice choice) {
    return Word(kDataConnectionWords, choice);
}

ConnectionOptions ReadDescriptorOptions(const platform::ProfileFile& descriptor) {
    ConnectionOptions options;
    options.security =
        DescriptorChoice(descriptor, kSecurityKey, kSecurityWords, SecurityChoice::None)
            .value_or(SecurityChoice::None);
    options.dataConnection = DescriptorChoice(descriptor, kDataConnectionKey, kDataConnectionWords,
                                              DataConnectionChoice::Auto)
                                 .value_or(DataConnectionChoice::Auto);
    options.caFile = descriptor.ReadString(kDefaultsSection, kCAFileKey, "");
    return options;
}

ConnectionOptions ReadStartOptions(const platform::ProfileFile& descriptor) {
    const RememberedSettings remembered = ReadRememberedSettings();
    ConnectionOptions options;
    options.security =
        DescriptorChoice(descriptor, kSecurityKey, kSecurityWords, SecurityChoice::None)
            .value_or(ParseSecurity(remembered.security).value_or(SecurityChoice::None));
    options.dataConnection = DescriptorChoice(descriptor, kDataConnectionKey, kDataConnectionWords,
                                              DataConnectionChoice::Auto)
                                 .value_or(ParseDataConnection(remembered.dataConnection)
                                               .value_or(DataConnectionChoice::Auto));
    options.caFile = descriptor.ReadString(kDefaultsSection, kCAFileKey, "");
    return options;
}

} // namespace installer
