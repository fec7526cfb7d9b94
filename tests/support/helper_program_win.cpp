// The helper program over the test runner's bridge: one loopback connection per program.
// The request is one line of JSON; the bridge answers "STARTED" (or "FAILED <why>"), then
// sends the program's standard output as "OUT <n>" frames of n bytes, and "EXIT <code>" when
// it has ended. "STOP" from here closes the program's input and ends it; closing the
// connection ends it at once.
#include "tests/support/helper_program.h"

#include "tests/support/loopback_socket.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace test_support {

namespace {

constexpr int kStartLimitMs = 20000;
constexpr int kStopLimitMs = 15000;

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::uint16_t BridgePort() {
    const char* value = std::getenv("APPLY_UPDATE_TEST_BRIDGE_PORT");
    const unsigned long port = value != nullptr ? std::strtoul(value, nullptr, 10) : 0;
    if (port == 0 || port > 65535)
        throw std::runtime_error("APPLY_UPDATE_TEST_BRIDGE_PORT is not set: no helper bridge");
    return static_cast<std::uint16_t>(port);
}

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

class HelperProgram::Impl {
public:
    ~Impl() { CloseSocket(connection); }

    // Reads what the bridge sent within `limitMs` and takes the whole frames out of it;
    // false when nothing came.
    bool Pump(int limitMs) {
        if (connection < 0 || WaitReadable(connection, -1, limitMs) != 1)
            return false;
        char block[65536];
        const long n = ReceiveSome(connection, block, sizeof block);
        if (n <= 0) { // the bridge went away: the program is gone with it
            CloseSocket(connection);
            connection = -1;
            if (!exited) {
                exited = true;
                exitCode = -1;
            }
            return true;
        }
        raw.append(block, static_cast<std::size_t>(n));
        for (;;) {
            const auto end = raw.find('\n');
            if (end == std::string::npos)
                break;
            const std::string head = raw.substr(0, end);
            if (head.rfind("OUT ", 0) == 0) {
                const std::size_t size = std::stoul(head.substr(4));
                if (raw.size() < end + 1 + size)
                    break;
                output.append(raw, end + 1, size);
                raw.erase(0, end + 1 + size);
                continue;
            }
            raw.erase(0, end + 1);
            if (head == "STARTED")
                started = true;
            else if (head.rfind("FAILED", 0) == 0)
                failure = head.size() > 7 ? head.substr(7) : "failed";
            else if (head.rfind("EXIT ", 0) == 0) {
                exited = true;
                exitCode = std::atoi(head.c_str() + 5);
            }
        }
        return true;
    }

    int connection = -1;
    std::string raw;
    std::string output;
    std::string failure;
    bool started = false;
    bool exited = false;
    int exitCode = -1;
};

HelperProgram::HelperProgram(const std::string& program, const std::vector<std::string>& arguments,
                             const HelperOptions& options)
    : impl_(std::make_unique<Impl>()) {
    std::string request = "{\"program\": " + Quoted(program) + ", \"arguments\": [";
    for (std::size_t i = 0; i < arguments.size(); ++i)
        request += (i > 0 ? ", " : "") + Quoted(arguments[i]);
    request += "], \"forward_output\": " + std::string(options.forwardOutput ? "true" : "false") +
               ", \"error_file\": " + Quoted(options.errorFile.string()) +
               ", \"closed_input\": " + (options.closedInput ? "true" : "false") + "}\n";
    impl_->connection = ConnectTo("127.0.0.1", BridgePort());
    if (impl_->connection < 0 || SendSome(impl_->connection, request.data(), request.size()) !=
                                     static_cast<long>(request.size()))
        throw std::runtime_error("cannot start " + program + ": the helper bridge is not there");
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
    while (!impl_->started && impl_->failure.empty() && !impl_->exited &&
           impl_->Pump(RemainingMs(deadline))) {
    }
    if (!impl_->started)
        throw std::runtime_error("cannot start " + program + ": " + impl_->failure);
}

HelperProgram::~HelperProgram() {
    Stop();
}

std::optional<std::string> HelperProgram::ReadLine(int limitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const auto end = impl_->output.find('\n');
        if (end != std::string::npos) {
            std::string line = impl_->output.substr(0, end);
            impl_->output.erase(0, end + 1);
            return line;
        }
        if (impl_->exited || !impl_->Pump(RemainingMs(deadline)))
            return std::nullopt;
    }
}

bool HelperProgram::WaitForExit(int limitMs, int* exitCode) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!impl_->exited && impl_->Pump(RemainingMs(deadline))) {
    }
    if (impl_->exited && exitCode != nullptr)
        *exitCode = impl_->exitCode;
    return impl_->exited;
}

std::string HelperProgram::ReadRest() {
    std::string rest;
    rest.swap(impl_->output);
    return rest;
}

void HelperProgram::Stop() {
    if (impl_->connection < 0)
        return;
    if (!impl_->exited) {
        SendSome(impl_->connection, "STOP\n", 5);
        WaitForExit(kStopLimitMs);
    }
    CloseSocket(impl_->connection);
    impl_->connection = -1;
}

} // namespace test_support
