// The lookup runs the system's resolver (getaddrinfo) on a worker thread of its own and
// hands the outcome to the main thread as a posted event. (Qt's own asynchronous lookup was
// tried first: one that is still running when the program ends crashes Qt's worker, and a
// timed-out lookup is exactly such a one.) A cancelled lookup's worker finishes on its own
// and finds nobody to report to.
#include "platform/host_lookup.h"

#include "platform/socket_api.h"
#include "platform/socket_internal.h"
#include "platform/socket_notifier.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace platform {
namespace {

QEvent::Type CompletionType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

struct Outcome {
    int error = 0;
    std::vector<SocketAddress> addresses;
};

// The names that tests answer themselves.
struct TestNames {
    std::mutex mutex;
    std::map<std::string, std::vector<SocketAddress>> names;
};

TestNames& TestAnswers() {
    static TestNames* names = new TestNames; // workers may still read it at exit
    return *names;
}

class CompletionEvent : public QEvent {
public:
    explicit CompletionEvent(Outcome outcome)
        : QEvent(CompletionType()), outcome_(std::move(outcome)) {}
    const Outcome& Result() const { return outcome_; }

private:
    Outcome outcome_;
};

class CompletionReceiver : public QObject {
public:
    explicit CompletionReceiver(std::function<void(const Outcome&)> done)
        : done_(std::move(done)) {}
    bool event(QEvent* event) override {
        if (event->type() != CompletionType())
            return QObject::event(event);
        try {
            done_(static_cast<CompletionEvent*>(event)->Result());
        } catch (...) {
            // Exceptions must not cross the event dispatcher.
        }
        return true;
    }

private:
    std::function<void(const Outcome&)> done_;
};

// What the worker and the main thread share: where to report, or nothing once cancelled.
struct Shared {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

// The running workers. The program waits for them (bounded) when it ends, so that none is
// still inside the resolver while the process tears down. Never destroyed: a worker that
// outlives the bound may still touch it.
struct Workers {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
};

Workers& LiveWorkers() {
    static Workers* workers = [] {
        auto* created = new Workers;
        std::atexit([] {
            Workers& w = LiveWorkers();
            std::unique_lock<std::mutex> lock(w.mutex);
            w.finished.wait_for(lock, std::chrono::seconds(5), [&w] { return w.running == 0; });
        });
        return created;
    }();
    return *workers;
}

Outcome Resolve(const std::string& name) {
    Outcome outcome;
    {
        TestNames& test = TestAnswers();
        const std::lock_guard<std::mutex> lock(test.mutex);
        const auto answer = test.names.find(name);
        if (answer != test.names.end()) {
            outcome.addresses = answer->second;
            return outcome;
        }
    }
    outcome.error = detail::ResolveHostName(name, outcome.addresses);
    return outcome;
}

} // namespace

struct HostLookup::Impl {
    std::shared_ptr<Shared> shared;
    std::unique_ptr<CompletionReceiver> receiver;
};

HostLookup::HostLookup() : impl_(std::make_unique<Impl>()) {}

HostLookup::~HostLookup() {
    Cancel();
}

void HostLookup::Start(const std::string& name, MessageWindow* window, unsigned message,
                       std::vector<SocketAddress>* result) {
    Cancel();
    impl_->receiver = std::make_unique<CompletionReceiver>([this, window, message,
                                                            result](const Outcome& outcome) {
        // The count must fit the message's 16 bits; no name has that many addresses.
        constexpr std::size_t kMostAddresses = 64;
        result->assign(outcome.addresses.begin(),
                       outcome.addresses.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                       outcome.addresses.size(), kMostAddresses)));
        const int length = static_cast<int>(result->size());
        impl_->shared.reset();
        if (MessageWindow::Alive(window))
            window->Send(message, 0, MakeSelectLParam(length, outcome.error));
    });
    auto shared = std::make_shared<Shared>();
    shared->receiver = impl_->receiver.get();
    impl_->shared = shared;
    const bool valid = name.find('\0') == std::string::npos && !name.empty();
    Workers& workers = LiveWorkers();
    {
        const std::lock_guard<std::mutex> lock(workers.mutex);
        ++workers.running;
    }
    std::thread([shared, lookupName = std::string(name), valid, &workers]() mutable {
        Outcome outcome;
        if (valid)
            outcome = Resolve(lookupName);
        else
            outcome.error = kWsaHostNotFound;
        {
            const std::lock_guard<std::mutex> lock(shared->mutex);
            if (shared->receiver != nullptr)
                QCoreApplication::postEvent(shared->receiver,
                                            new CompletionEvent(std::move(outcome)));
        }
        // Nothing of this worker may be left to free once it counts as finished.
        std::vector<SocketAddress>().swap(outcome.addresses);
        shared.reset();
        std::string().swap(lookupName);
        const std::lock_guard<std::mutex> lock(workers.mutex);
        --workers.running;
        workers.finished.notify_all();
    }).detach();
}

void HostLookup::Cancel() {
    if (impl_->shared) {
        const std::lock_guard<std::mutex> lock(impl_->shared->mutex);
        impl_->shared->receiver = nullptr;
    }
    impl_->shared.reset();
    // Destroying the receiver also drops a completion that was posted but not handled.
    impl_->receiver.reset();
}

void SetHostAddressesForTesting(const std::string& name, std::vector<SocketAddress> addresses) {
    TestNames& test = TestAnswers();
    const std::lock_guard<std::mutex> lock(test.mutex);
    if (addresses.empty())
        test.names.erase(name);
    else
        test.names[name] = std::move(addresses);
}

int LiveLookupWorkers(int waitMilliseconds) {
    Workers& workers = LiveWorkers();
    std::unique_lock<std::mutex> lock(workers.mutex);
    workers.finished.wait_for(lock, std::chrono::milliseconds(waitMilliseconds),
                              [&workers] { return workers.running == 0; });
    return workers.running;
}

} // namespace platform
