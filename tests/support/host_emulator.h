// Starts the IBM i host emulator (tools/host_emulator.py) on 127.0.0.1 at a port the
// system chooses, in a fresh temporary folder that holds its library root and its
// command record, and stops it again. Tests use it to play the AS/400 end of an Apply.
#pragma once

#include "tests/support/helper_program.h"
#include "tests/support/temporary_directory.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct HostEmulatorConfig {
    std::string user = "QSECOFR";
    std::string password = "Secret1";
    // Further emulator options, e.g. {"--locked", "APPLIB/ORDERS", "--fail-install", "CPF..."}.
    std::vector<std::string> options;
};

// One command line as the host received it (without CR LF), with the number of the
// control connection it came on (1 for the first connection).
struct RecordedCommand {
    int session = 0;
    std::string command;
};

class HostEmulator {
public:
    // Throws std::runtime_error, carrying the emulator's own complaint, when it does
    // not come up within a bounded time.
    explicit HostEmulator(HostEmulatorConfig config = {});
    ~HostEmulator();
    HostEmulator(const HostEmulator&) = delete;
    HostEmulator& operator=(const HostEmulator&) = delete;

    std::uint16_t Port() const { return port_; }
    const std::string& User() const { return config_.user; }
    const std::string& Password() const { return config_.password; }
    const std::filesystem::path& LibraryRoot() const { return libraryRoot_; }

    // Every command received so far, in order. The host records a command before it
    // answers it, so every command whose reply a client has read is in the list.
    std::vector<std::string> Commands() const;
    std::vector<RecordedCommand> Records() const;

    // The bytes of an object in a library (save files are stored under their name,
    // e.g. StoredFile("KDXSUPPT", "W_CHKLCKSF")); names are folded to upper case as
    // the host does. Empty when there is no such object.
    std::optional<std::string> StoredFile(const std::string& library,
                                          const std::string& name) const;

    // What the emulator wrote to its error output (with --verbose: the protocol).
    std::string ErrorOutput() const;

    // Ends the emulator: SIGTERM, and SIGKILL if it has not ended within a bounded time.
    // Called by the destructor; calling it twice is harmless.
    void Stop();

private:
    HostEmulatorConfig config_;
    std::unique_ptr<TemporaryDirectory> folder_;
    std::filesystem::path libraryRoot_;
    std::filesystem::path recordPath_;
    std::filesystem::path errorPath_;
    std::unique_ptr<HelperProgram> emulator_;
    std::uint16_t port_ = 0;
};

// Parses one line of the emulator's command record: {"session": N, "command": "..."}.
// Throws std::runtime_error on anything else. Exposed for its own tests.
RecordedCommand ParseRecordLine(const std::string& line);

} // namespace test_support
