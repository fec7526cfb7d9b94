#include "platform/host_lookup.h"

#include "platform/socket_api.h"
#include "platform/socket_notifier.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QObject>
#include <QtEndian>

#include <cstring>

namespace platform {
namespace {

int LookupError(const QHostInfo& info) {
    switch (info.error()) {
    case QHostInfo::NoError:
        return 0;
    case QHostInfo::HostNotFound:
        return kWsaHostNotFound;
    default:
        return kWsaNoRecovery;
    }
}

} // namespace

struct HostLookup::Impl {
    // The context of the completion: destroying it disconnects a completion still on its
    // way, so a cancelled lookup is never reported.
    std::unique_ptr<QObject> context;
    int id = -1;
};

HostLookup::HostLookup() : impl_(std::make_unique<Impl>()) {}

HostLookup::~HostLookup() {
    Cancel();
}

void HostLookup::Start(const std::string& name, MessageWindow* window, unsigned message,
                       char* result, std::size_t size) {
    Cancel();
    impl_->context = std::make_unique<QObject>();
    auto completed = [this, window, message, result, size](const QHostInfo& info) {
        impl_->id = -1;
        int error = LookupError(info);
        int length = 0;
        if (error == 0) {
            error = kWsaNoData; // a name with no IPv4 address has no record of the kind asked
            for (const QHostAddress& address : info.addresses()) {
                bool isV4 = false;
                const quint32 value = address.toIPv4Address(&isV4);
                if (!isV4 || size < 4)
                    continue;
                const std::uint32_t networkOrder = qToBigEndian(value);
                std::memcpy(result, &networkOrder, 4);
                length = 4;
                error = 0;
                break;
            }
        }
        // Already an event of the main thread (the lookup's completion): hand it over now.
        if (MessageWindow::Alive(window))
            window->Send(message, 0, MakeSelectLParam(length, error));
    };
    impl_->id =
        QHostInfo::lookupHost(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
                              impl_->context.get(), completed);
}

void HostLookup::Cancel() {
    if (impl_->id >= 0)
        QHostInfo::abortHostLookup(impl_->id);
    impl_->id = -1;
    impl_->context.reset();
}

} // namespace platform
