// Where the upload benchmark runs: a loopback of its own and a memory file system of its own,
// so that neither the machine's network settings nor its disk decide the figures, and
// nothing of the benchmark outlives it. Needs root (namespaces, mount), as vsftpd does.
#pragma once

#include <filesystem>
#include <string>

namespace bench {

// The congestion control that the private loopback ended up with.
struct Congestion {
    std::string used;
    // Why it is not the one asked for; empty when it is.
    std::string fallback;
};

// Moves this process (and the children it starts afterwards) into a network namespace of its
// own with only the loopback device, brought up, and sets TCP's congestion control there.
// "system" keeps the machine's choice. A namespace other than the machine's own may only
// take the algorithms the machine allows (tcp_allowed_congestion_control); where cubic is
// not among them, the namespace gets reno, which does not pace either. Any other algorithm
// that cannot be set is an error.
Congestion UsePrivateLoopback(const std::string& congestion);

// A tmpfs of `bytes` mounted with huge pages on a new directory under `parent`, in a mount
// namespace of this process's own; unmounted and removed again on destruction.
class MemoryDirectory {
public:
    MemoryDirectory(const std::filesystem::path& parent, std::size_t bytes);
    ~MemoryDirectory();
    MemoryDirectory(const MemoryDirectory&) = delete;
    MemoryDirectory& operator=(const MemoryDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace bench
