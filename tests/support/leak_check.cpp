#include "tests/support/leak_check.h"

#include "platform/host_lookup.h"
#include "platform/socket_api.h"
#include "platform/socket_notifier.h"

#include <QThreadPool>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

namespace test_support {
namespace {

// A cancelled lookup's worker is still inside the resolver for as long as the name server
// takes to give up; it is waited for this long before it counts as left behind.
constexpr int kLookupWorkerLimitMs = 30000;
// Qt keeps the idle threads of its global pool (the raster painter's helpers) for half a
// minute, each with a descriptor of its own event dispatcher. They are Qt's, not the
// test's: the pool is emptied before each count.
constexpr int kQtPoolLimitMs = 30000;

using Descriptors = std::map<int, std::string>;

// Every open descriptor of the process with what it refers to.
Descriptors OpenDescriptors() {
    Descriptors open;
    std::error_code error;
    // The listing holds a descriptor of its own while it is read, open on its own folder.
    const std::string ownFolder =
        "/proc/" + std::filesystem::read_symlink("/proc/self", error).string() + "/fd";
    for (std::filesystem::directory_iterator entry("/proc/self/fd", error), end;
         !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        int fd = 0;
        try {
            fd = std::stoi(name);
        } catch (const std::exception&) {
            continue;
        }
        std::error_code linkError;
        std::string target = std::filesystem::read_symlink(entry->path(), linkError).string();
        if (linkError)
            continue; // closed while the listing was read
        if (target == ownFolder)
            continue;
        open.emplace(fd, std::move(target));
    }
    return open;
}

struct Snapshot {
    Descriptors descriptors;
    int registeredSockets = 0;
    int lookupWorkers = 0;
};

Snapshot Take() {
    Snapshot snapshot;
    QThreadPool::globalInstance()->waitForDone(kQtPoolLimitMs);
    snapshot.lookupWorkers = platform::LiveLookupWorkers(kLookupWorkerLimitMs);
    snapshot.registeredSockets = platform::RegisteredSocketCount();
    snapshot.descriptors = OpenDescriptors();
    return snapshot;
}

// What `after` holds that `before` did not, in words; empty when nothing leaked.
std::string Leaks(const Snapshot& before, const Snapshot& after) {
    std::ostringstream text;
    int leakedDescriptors = 0;
    std::ostringstream descriptors;
    for (const auto& [fd, target] : after.descriptors) {
        const auto earlier = before.descriptors.find(fd);
        if (earlier != before.descriptors.end() && earlier->second == target)
            continue;
        descriptors << (leakedDescriptors++ == 0 ? "" : ", ") << fd << " -> " << target;
    }
    if (leakedDescriptors > 0)
        text << leakedDescriptors << " file descriptor(s) left open: " << descriptors.str() << "\n";
    if (after.registeredSockets > before.registeredSockets)
        text << after.registeredSockets - before.registeredSockets
             << " socket(s) still registered for notifications\n";
    if (after.lookupWorkers > before.lookupWorkers)
        text << after.lookupWorkers - before.lookupWorkers
             << " host-lookup worker(s) still running after " << kLookupWorkerLimitMs << " ms\n";
    return text.str();
}

class LeakCheck : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override { before_ = Take(); }

    // Runs once the test object is gone, so everything a fixture owns has been released.
    void OnTestEnd(const ::testing::TestInfo&) override {
        const std::string leaks = Leaks(before_, Take());
        if (!leaks.empty())
            ADD_FAILURE() << "The test leaked:\n" << leaks;
    }

private:
    Snapshot before_;
};

// The socket notification set and its notifier are made on first use and kept for the
// life of the process; making them now keeps them out of the first test's count.
void CreateProcessLifetimeResources() {
    const platform::SocketHandle socket = platform::SocketCreate();
    if (socket == platform::kNoSocket)
        return;
    platform::MessageWindow window([](platform::WindowMessage&) {});
    platform::AsyncSelect(socket, &window, 1, platform::kFdRead);
    platform::SocketClose(socket);
}

} // namespace

void InstallLeakCheck() {
    CreateProcessLifetimeResources();
    ::testing::UnitTest::GetInstance()->listeners().Append(new LeakCheck);
}

} // namespace test_support
