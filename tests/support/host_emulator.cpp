#include "tests/support/host_emulator.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace test_support {

namespace {

constexpr int kStartLimitMs = 20000;
constexpr int kStopLimitMs = 5000;

std::filesystem::path MakeTemporaryFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "apply-update-host-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder for the host emulator");
    return pattern;
}

std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// Reads the line with the port that the emulator prints once it accepts connections;
// 0 when the line does not come in time or the emulator ends first.
std::uint16_t ReadAnnouncedPort(int fd) {
    std::string text;
    while (text.find('\n') == std::string::npos) {
        pollfd in{fd, POLLIN, 0};
        if (::poll(&in, 1, kStartLimitMs) <= 0)
            return 0;
        char block[64];
        const auto n = ::read(fd, block, sizeof block);
        if (n <= 0)
            return 0;
        text.append(block, static_cast<std::size_t>(n));
    }
    unsigned port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || *end != '\n' || port == 0 || port > 65535)
        return 0;
    return static_cast<std::uint16_t>(port);
}

// Waits for the child to end, at most limitMs; true when it has been reaped. A pidfd
// lets the wait block in poll instead of looping on WNOHANG.
bool ReapWithin(pid_t pid, int limitMs) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0)
        return false;
    pollfd ended{pidfd, POLLIN, 0};
    const int ready = ::poll(&ended, 1, limitMs);
    ::close(pidfd);
    if (ready <= 0)
        return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid;
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
    : config_(std::move(config)), folder_(MakeTemporaryFolder()),
      libraryRoot_(folder_ / "libraries"), recordPath_(folder_ / "record.jsonl"),
      errorPath_(folder_ / "emulator.err") {
    const std::string python = APPLY_UPDATE_PYTHON;
    std::vector<std::string> args = {python,
                                     "-B", // no byte-code files in the source tree
                                     std::string(APPLY_UPDATE_TOOLS_DIR) + "/host_emulator.py",
                                     "--port",
                                     "0",
                                     "--port-file",
                                     (folder_ / "port").string(),
                                     "--user",
                                     config_.user,
                                     "--password",
                                     config_.password,
                                     "--library-root",
                                     libraryRoot_.string(),
                                     "--record",
                                     recordPath_.string()};
    args.insert(args.end(), config_.options.begin(), config_.options.end());
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        Stop();
        throw std::runtime_error("cannot create a pipe for the host emulator");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorPath_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
    // A copy of one of the test's sockets in the emulator would keep that connection
    // open after the test closes it.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    const int spawned =
        ::posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        pid_ = -1;
        ::close(out[0]);
        Stop();
        throw std::runtime_error("cannot start " + python);
    }
    port_ = ReadAnnouncedPort(out[0]);
    ::close(out[0]);
    if (port_ == 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        const std::string complaint = ErrorOutput();
        Stop();
        throw std::runtime_error("the host emulator did not start: " + complaint);
    }
}

HostEmulator::~HostEmulator() {
    Stop();
}

void HostEmulator::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!ReapWithin(pid_, kStopLimitMs)) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
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
    return ReadWholeFile(path);
}

std::string HostEmulator::ErrorOutput() const {
    return ReadWholeFile(errorPath_);
}

} // namespace test_support
