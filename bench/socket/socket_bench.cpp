// Measures the socket layer's waits: the processor time that a 10-second wait costs (it
// should block in the dispatcher, not spin) and how long a cancel fired from a timer takes
// to end the wait. Prints its figures; it is not a test and asserts nothing.
//
//   (a) ReadLn on a connected peer that never sends
//   (b) Connect to a listener whose backlog is full
//   (c) Accept on a listener that nobody connects to
#include "platform/event_pump.h"
#include "socket/stream_socket.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdleWaitMs = 10000;
constexpr int kCancelRuns = 20;
constexpr int kCancelDelayMs = 100;

// One prepared wait: `wait` runs the blocking operation on `target` and returns when it
// ends (by its exception).
struct Scenario {
    const char* name;
    std::function<void(TStreamSocket*& target)> prepare; // sets up, names the socket to cancel
    std::function<void()> wait;
    std::function<void()> cleanup;
};

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

std::unique_ptr<TStreamSocket> listener;
std::vector<std::unique_ptr<TStreamSocket>> fillers;
std::unique_ptr<TStreamSocket> client;

std::uint16_t ListenerPort() {
    const std::string text = listener->GetPortString();
    return static_cast<std::uint16_t>(std::stoi(NthField(text, ',', 2)) * 256 +
                                      std::stoi(NthField(text, ',', 3)));
}

void StartListener() {
    listener = std::make_unique<TStreamSocket>();
    listener->Port = 0;
    listener->Listen(true);
}

std::unique_ptr<TStreamSocket> ConnectedClient(int timeOut) {
    auto sock = std::make_unique<TStreamSocket>();
    sock->Host = "127.0.0.1";
    sock->Port = ListenerPort();
    sock->TimeOut = timeOut;
    sock->Connect();
    return sock;
}

// The listener's backlog (one connection) is filled by connections nobody accepts, so a
// further attempt gets no answer at all.
void FillBacklog() {
    for (int i = 0; i < 4; ++i) {
        try {
            fillers.push_back(ConnectedClient(300));
        } catch (const ESockError&) {
            break; // the queue is full now
        }
    }
}

Scenario ReadLnScenario() {
    return {"ReadLn on a silent peer",
            [](TStreamSocket*& target) {
                StartListener();
                client = ConnectedClient(0);
                target = client.get();
            },
            [] { client->ReadLn(); },
            [] {
                client.reset();
                listener.reset();
            }};
}

Scenario ConnectScenario() {
    return {"Connect to a full backlog",
            [](TStreamSocket*& target) {
                StartListener();
                FillBacklog();
                client = std::make_unique<TStreamSocket>();
                client->Host = "127.0.0.1";
                client->Port = ListenerPort();
                target = client.get();
            },
            [] { client->Connect(); },
            [] {
                client.reset();
                fillers.clear();
                listener.reset();
            }};
}

Scenario AcceptScenario() {
    return {"Accept with no peer",
            [](TStreamSocket*& target) {
                StartListener();
                target = listener.get();
            },
            [] { listener->Accept(); }, [] { listener.reset(); }};
}

// Runs the wait until a timer cancels it after `delayMs`; returns the time from the
// cancel to the end of the wait, and the processor time the whole wait used.
struct Outcome {
    double cancelToEndMs;
    double cpuSeconds;
    double wallSeconds;
    std::string ended;
};

Outcome RunOnce(const Scenario& scenario, int delayMs) {
    TStreamSocket* target = nullptr;
    scenario.prepare(target);
    Clock::time_point canceledAt{};
    TThreadTimer timer;
    timer.SetInterval(static_cast<std::uint32_t>(delayMs));
    timer.SetOnTimer([&](TObject*) {
        timer.SetEnabled(false);
        canceledAt = Clock::now();
        target->Cancel();
    });
    const double cpuBefore = CpuSeconds();
    const Clock::time_point start = Clock::now();
    std::string ended = "returned";
    try {
        scenario.wait();
    } catch (const std::exception& e) {
        ended = e.what();
    }
    const Clock::time_point end = Clock::now();
    Outcome outcome{std::chrono::duration<double, std::milli>(end - canceledAt).count(),
                    CpuSeconds() - cpuBefore, std::chrono::duration<double>(end - start).count(),
                    ended};
    timer.SetOnTimer(nullptr);
    scenario.cleanup();
    return outcome;
}

void Measure(const Scenario& scenario) {
    const Outcome idle = RunOnce(scenario, kIdleWaitMs);
    std::printf("%-28s idle %.1f s: cpu %.3f s = %.2f %% of one core (ended: %s)\n", scenario.name,
                idle.wallSeconds, idle.cpuSeconds, 100.0 * idle.cpuSeconds / idle.wallSeconds,
                idle.ended.c_str());
    std::vector<double> latencies;
    for (int i = 0; i < kCancelRuns; ++i)
        latencies.push_back(RunOnce(scenario, kCancelDelayMs).cancelToEndMs);
    std::sort(latencies.begin(), latencies.end());
    std::printf("%-28s cancel to end over %d runs: median %.3f ms, max %.3f ms\n", scenario.name,
                kCancelRuns, latencies[latencies.size() / 2], latencies.back());
    std::fflush(stdout);
}

} // namespace

int main() {
    platform::EnsureApplication();
    for (const Scenario& scenario : {ReadLnScenario(), ConnectScenario(), AcceptScenario()})
        Measure(scenario);
    return 0;
}
