// The profile-file reader and writer over whatever bytes a descriptor or a settings file
// may hold. The input's first byte says how many of its last bytes are a value to write;
// the rest is the file. Properties: reads never fail; a write either is refused with
// "Unable to write to ..." and leaves the file byte for byte as it was, or reads back as
// written (trimmed, one pair of quotes removed, cut to 2047 characters) and leaves the
// other keys' values as they were.
#include "fuzz/fuzz_target.h"

#include "platform/exception.h"
#include "platform/profile_file.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

// One file per process, removed when the process ends.
class ScratchFile {
public:
    ScratchFile()
        : path_(std::filesystem::temp_directory_path() /
                ("profile_fuzz_" + std::to_string(::getpid()) + ".ini")) {}
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// What a read gives back for a value that was written.
std::string AsRead(std::string value) {
    while (!value.empty() && IsBlank(value.back()))
        value.pop_back();
    std::size_t begin = 0;
    while (begin < value.size() && IsBlank(value[begin]))
        ++begin;
    value.erase(0, begin);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > platform::ProfileFile::kMaxValueLength)
        value.resize(platform::ProfileFile::kMaxValueLength);
    return value;
}

const std::vector<std::pair<std::string, std::string>> kProbes = {
    {"Defaults", "Update"}, {"defaults", "LOCK1"}, {"System", "User"}, {"System", "IP"}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFile scratch;
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t valueLength = std::min<std::size_t>(data[0], input.size());
    const std::string fileBytes = input.substr(0, input.size() - valueLength);
    const std::string value = input.substr(input.size() - valueLength);

    WriteBytes(scratch.Path(), fileBytes);
    platform::ProfileFile file(scratch.Path().string());

    std::vector<std::string> before;
    for (const auto& [section, key] : kProbes) {
        const std::string read = file.ReadString(section, key, "<default>");
        FUZZ_CHECK(read.size() <= platform::ProfileFile::kMaxValueLength, "value not cut");
        FUZZ_CHECK(read == "<default>" || file.ValueExists(section, key),
                   "a value for a key that does not exist");
        before.push_back(read);
    }

    try {
        file.WriteString("System", "IP", value);
    } catch (const platform::Exception& error) {
        FUZZ_CHECK(error.Message() == "Unable to write to " + scratch.Path().string(),
                   "a refused write with another message");
        FUZZ_CHECK(value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos,
                   "a plain value was refused");
        FUZZ_CHECK(ReadBytes(scratch.Path()) == fileBytes, "a refused write changed the file");
        return 0;
    }
    FUZZ_CHECK(file.ReadString("System", "IP", "<default>") == AsRead(value),
               "the written value does not read back");
    FUZZ_CHECK(file.ValueExists("SYSTEM", "ip"), "the written key is missing");
    for (std::size_t i = 0; i < kProbes.size(); ++i) {
        if (kProbes[i].first == "System" && kProbes[i].second == "IP")
            continue;
        FUZZ_CHECK(file.ReadString(kProbes[i].first, kProbes[i].second, "<default>") == before[i],
                   "a write changed another key: " + kProbes[i].first + "/" + kProbes[i].second);
    }
    return 0;
}
