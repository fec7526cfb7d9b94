#include "tests/support/host_emulator.h"

#include "tests/support/helper_program.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kStartLimitMs = 20000;

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Reads the line with the port that the emulator prints once it accepts connections;
// 0 when the line does not come in time or the emulator ends first.
std::uint16_t ReadAnnouncedPort(HelperProgram& emulator) {
    const std::string text = emulator.ReadLine(kStartLimitMs).value_or("");
    unsigned port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || port == 0 ||
        port > 65535)
        return 0;
    return static_cast<std::uint16_t>(port);
}

// A minimal reader for the record's flat JSON objects of strings and integers.
class RecordReader {
public:
    explicit RecordReader(const std::string& text) : text_(text) {}

    RecordedCommand Read() {
        RecordedCommand result;
        bool haveCommand = false;
        Expect('{');
        SkipBlanks();
        if (Peek() == '}')
            Fail();
        for (;;) {
            const std::string key = String();
            Expect(':');
            SkipBlanks();
            if (key == "command") {
                result.command = String();
                haveCommand = true;
            } else if (key == "session") {
                result.session = Integer();
            } else if (Peek() == '"') {
                String();
            } else {
                Integer();
            }
            SkipBlanks();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            Expect('}');
            break;
        }
        SkipBlanks();
        if (pos_ != text_.size() || !haveCommand)
            Fail();
        return result;
    }

private:
    [[noreturn]] void Fail() const {
        throw std::runtime_error("malformed host emulator record line: " + text_);
    }
    char Peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
            ++pos_;
    }
    void Expect(char c) {
        SkipBlanks();
        if (Peek() != c)
            Fail();
        ++pos_;
    }
    int Integer() {
        int value = 0;
        const auto [end, error] =
            std::from_chars(text_.data() + pos_, text_.data() + text_.size(), value);
        if (error != std::errc())
            Fail();
        pos_ = static_cast<std::size_t>(end - text_.data());
        return value;
    }
    unsigned Hex4() {
        if (text_.size() - pos_ < 4)
            Fail();
        unsigned value = 0;
        const auto [end, error] =
            std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, value, 16);
        if (error != std::errc() || end != text_.data() + pos_ + 4)
            Fail();
        pos_ += 4;
        return value;
    }
    // The emulator writes each received byte as the character of the same code, so
    // \u0000 to \u00ff come back as single bytes.
    std::string String() {
        Expect('"');
        std::string out;
        for (;;) {
            if (pos_ >= text_.size())
                Fail();
            const char c = text_[pos_++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size())
                Fail();
            const char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                const unsigned code = Hex4();
                if (code > 0xff)
                    Fail();
                out += static_cast<char>(code);
                break;
            }
            default:
                Fail();
            }
        }
    }

    const std::string& text_;
    std::size_t pos_ = 0;
};

} // namespace

RecordedCommand ParseRecordLine(const std::string& line) {
    return RecordReader(line).Read();
}

HostEmulator::HostEmulator(HostEmulatorConfig config)
    : config_(std::move(config)), folder_(std::make_unique<TemporaryDirectory>()),
      libraryRoot_(folder_->Path() / "libraries"), recordPath_(folder_->Path() / "record.jsonl"),
      errorPath_(folder_->Path() / "emulator.err") {
    std::vector<std::string> args = {"-B", // no byte-code files in the source tree
                                     std::string(APPLY_UPDATE_TOOLS_DIR) + "/host_emulator.py",
                                     "--port",
                                     "0",
                                     "--port-file",
                                     (folder_->Path() / "port").string(),
                                     "--user",
                                     config_.user,
                                     "--password",
                                     config_.password,
                                     "--library-root",
                                     libraryRoot_.string(),
                                     "--record",
                                     recordPath_.string()};
    args.insert(args.end(), config_.options.begin(), config_.options.end());

    HelperOptions options;
    options.closedInput = true;
    options.errorFile = errorPath_;
    emulator_ = std::make_unique<HelperProgram>(APPLY_UPDATE_PYTHON, args, options);
    port_ = ReadAnnouncedPort(*emulator_);
    if (port_ == 0) {
        emulator_->Stop();
        const std::string complaint = ErrorOutput();
        Stop();
        throw std::runtime_error("the host emulator did not start: " + complaint);
    }
}

HostEmulator::~HostEmulator() {
    Stop();
}

void HostEmulator::Stop() {
    emulator_.reset();
    folder_.reset();
}

std::vector<RecordedCommand> HostEmulator::Records() const {
    std::vector<RecordedCommand> records;
    std::ifstream in(recordPath_, std::ios::binary);
    std::string line;
    while (std::getline(in, line))
        records.push_back(ParseRecordLine(line));
    return records;
}

std::vector<std::string> HostEmulator::Commands() const {
    std::vector<std::string> commands;
    for (auto& record : Records())
        commands.push_back(std::move(record.command));
    return commands;
}

std::optional<std::string> HostEmulator::StoredFile(const std::string& library,
                                                    const std::string& name) const {
    const auto path = libraryRoot_ / UpperCase(library) / UpperCase(name);
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::nullopt;
    return ReadFile(path);
}

std::string HostEmulator::ErrorOutput() const {
    return ReadFile(errorPath_);
}

} // namespace test_support
