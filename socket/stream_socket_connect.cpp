// Construction, the socket library's start-up, host resolution, connection, closing,
// cancel and time-out, the notification handler and status reports.
#include "socket/stream_socket.h"

#include "platform/event_pump.h"
#include "platform/host_lookup.h"

#include <cstring>
#include <optional>

namespace {

int gWinsockUsers = 0;

// Upper bound of one blocking wait in the dispatcher. Every flag a wait polls is set by an
// event that also ends the block, so this only bounds a missed wake-up.
constexpr int kWaitBoundMs = 50;

std::string VersionText(std::uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

} // namespace

int TStreamSocket::WinsockUsers() {
    return gWinsockUsers;
}

TStreamSocket::TStreamSocket(TComponent* AOwner) : TComponent(AOwner) {
    StatusMessage(kStatusDetail, "Create");
    FSockWindow = std::make_unique<platform::MessageWindow>(
        [this](TMessage& Msg) { HandleSocketMessage(Msg); });
    Proxy.clear();
    FLookup = std::make_unique<platform::HostLookup>();
    FTimer = std::make_unique<TThreadTimer>(this);
    FTimer->SetEnabled(false);
    FTimer->SetOnTimer([this](TObject* Sender) { TimerFired(Sender); });
    TimeOut = 0;
    WinsockInfo.clear();
    FCanceled = false;
    FShuttingDown = false;
    Connected = false;
    // A failure here ends the construction; the members built so far free themselves and
    // InitWinsock has already given its count back.
    InitWinsock();
}

TStreamSocket::~TStreamSocket() {
    BeginDestruction();
    StatusMessage(kStatusDetail, "Destroy");
    try {
        Abort();
        Cancel();
    } catch (...) {
        // A destructor must not throw; the socket is closed below whatever happened here.
    }
    FLookup.reset();
    WinsockInfo.clear();
    FTimer.reset();
    FSockWindow.reset();
    FShuttingDown = true;
    try {
        RequestCloseSocket();
    } catch (...) {
        // Nothing may leave a destructor; the handle is gone with the process at worst.
    }
    if (FCountedUser && --gWinsockUsers == 0)
        platform::SocketCleanup();
}

TSocket TStreamSocket::OpenRegisteredSocket(bool withLinger, platform::AddressFamily family) {
    platform::SocketHandle handle = platform::SocketCreate(family);
    if (handle == platform::kNoSocket)
        return kInvalidSocket;
    if (handle >= kInvalidSocket) {
        // Handles are kept in 16 bits; one that does not fit counts as not created.
        platform::SocketClose(handle);
        return kInvalidSocket;
    }
    if (withLinger)
        platform::SocketSetLinger(handle, true, 0);
    FSocketLinger = withLinger;
    platform::AsyncSelect(handle, FSockWindow.get(), kSocketMessage, kSocketEvents);
    return static_cast<TSocket>(handle);
}

void TStreamSocket::ReplaceSocket(platform::AddressFamily family) {
    if (FSocket != kInvalidSocket) {
        platform::SocketClose(Handle());
        FSocket = kInvalidSocket;
    }
    FSocket = OpenRegisteredSocket(FSocketLinger, family);
    if (FSocket == kInvalidSocket) {
        std::string msg;
        CheckSocketError(platform::kWsaEWouldBlock, msg);
        throw ESockError("Connection Failed", SockErrorKind::ConnectFailed);
    }
}

void TStreamSocket::InitWinsock() {
    StatusMessage(kStatusDetail, "Initializing Winsock");
    if (++gWinsockUsers == 1) {
        const platform::SocketLibraryInfo info = platform::SocketStartup();
        WinsockInfo.push_back("Version= " + VersionText(info.version));
        WinsockInfo.push_back("High Version= " + VersionText(info.highVersion));
        WinsockInfo.push_back("Description= " + info.description.substr(0, 257));
        WinsockInfo.push_back("System= " + info.systemStatus.substr(0, 129));
        WinsockInfo.push_back("Max Sockets= " + std::to_string(info.maxSockets));
        WinsockInfo.push_back("Max Udp pack size= " + std::to_string(info.maxUdpDatagram));
    }
    FCountedUser = true;
    try {
        FSocket = OpenRegisteredSocket(true);
        if (FSocket == kInvalidSocket) {
            std::string msg;
            CheckSocketError(platform::kWsaEWouldBlock, msg);
            throw ESockError("no socket", SockErrorKind::StartupFailed);
        }
    } catch (...) {
        FCountedUser = false;
        if (--gWinsockUsers == 0)
            platform::SocketCleanup();
        throw ESockError("Initializaton of windows sockets failed", SockErrorKind::StartupFailed);
    }
}

void TStreamSocket::StatusMessage(std::uint8_t Level, const std::string& Text) {
    if (Level > ReportLevel)
        return;
    try {
        Status = Text;
        if (!Destroying() && OnStatus)
            OnStatus(this, Status);
    } catch (...) {
        // A status report must never change the outcome of the operation that made it.
    }
}

void TStreamSocket::PumpAndWait() {
    platform::WaitForEvents(kWaitBoundMs);
    platform::ProcessMessages();
}

void TStreamSocket::ResolveRemoteHost() {
    StatusMessage(kStatusDetail, "Resolve Host");
    const std::string& source = Proxy.empty() ? Host : Proxy;
    // The name is a zero-terminated string in FBuffer: cut at a NUL and at the buffer's size.
    const std::size_t length = std::min(std::strlen(source.c_str()), kBufferSize);
    std::memcpy(FBuffer.data(), source.data(), length);
    FBuffer[length] = '\0';
    const std::string name(FBuffer.data(), length);

    FAddresses.clear();
    FSockAddr = {};
    // An address written as numbers needs no lookup; 0.0.0.0 (or ::) is no address at all.
    if (const std::optional<platform::SocketAddress> numeric = platform::NumericAddress(name)) {
        FSockAddr = *numeric;
        if (!numeric->IsUnspecified())
            FAddresses.push_back(*numeric);
        return;
    }
    TimerOn();
    FAsyncDone = false;
    FLookup->Start(name, FSockWindow.get(), kLookupMessage, &FAddresses);
    do {
        PumpAndWait();
    } while (!FAsyncDone && !FTimedOut && !FCanceled);
    TimerOff();
    if (FTimedOut || FCanceled)
        FLookup->Cancel(); // its late completion must not touch the flags of a later wait
    if (FTimedOut)
        throw ESockError("Host Lookup Timed Out", SockErrorKind::TimedOut);
    if (FCanceled)
        throw ESockError("Host Lookup Canceled", SockErrorKind::Canceled);
    if (!FLastEventOk || FAddresses.empty()) {
        FAddresses.clear();
        throw ESockError("Host Lookup Failed", SockErrorKind::LookupFailed);
    }
    FSockAddr = FAddresses.front();
    if (OnHostResolved)
        OnHostResolved(this);
}

void TStreamSocket::Connect() {
    StatusMessage(kStatusDetail, "Connecting");
    FCanceled = false;
    if (Connected)
        throw ESockError("Already connected", SockErrorKind::AlreadyConnected);
    FPeerClosed = false;

    for (int retries = 0;; ++retries) {
        try {
            ResolveRemoteHost();
        } catch (const ESockError& e) {
            if (e.Kind() != SockErrorKind::LookupFailed)
                throw;
            // A failed lookup is handled below like any unresolved host.
        }
        if (!FAddresses.empty())
            break;
        if (retries > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address", SockErrorKind::NullAddress);
        bool Handled = false;
        OnInvalidHost(Handled);
        if (!Handled)
            throw ESockError("Null Remote Address", SockErrorKind::NullAddress);
    }

    const auto port = static_cast<std::uint16_t>((Proxy.empty() ? Port : ProxyPort) & 0xFFFF);
    // Each address in turn. One that does not answer may hold the others up only for
    // AttemptTimeOut; the time-out (and a cancel) ends the whole connect.
    bool connected = false;
    bool attemptExpired = false;
    for (std::size_t i = 0; i < FAddresses.size() && !connected; ++i) {
        const bool last = i + 1 == FAddresses.size();
        FSockAddr = FAddresses[i];
        FSockAddr.port = port;
        try {
            if (i > 0 || FSocket == kInvalidSocket ||
                platform::SocketFamily(Handle()) != FSockAddr.family)
                ReplaceSocket(FSockAddr.family);
            connected =
                ConnectAttempt(last ? 0 : AttemptTimeOut, attemptExpired, !FTimer->Enabled());
        } catch (const ESockError&) {
            if (last) {
                TimerOff();
                throw;
            }
            FLastEventOk = false; // this address cannot be reached: on to the next
        }
        if (FTimedOut || FCanceled)
            break;
        if (!connected && !last)
            StatusMessage(kStatusDetail, "Trying the next address");
    }
    TimerOff();
    if (!connected)
        ConnectionNotMade(attemptExpired);
}

void TStreamSocket::ConnectionNotMade(bool attemptExpired) {
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (FTimedOut)
        throw ESockError("Connection Timed out", SockErrorKind::TimedOut);
    if (FCanceled)
        throw ESockError("Connection Canceled", SockErrorKind::Canceled);
    if (attemptExpired && FLastEventOk)
        throw ESockError("Connection Timed out", SockErrorKind::TimedOut);
    throw ESockError("Connection Failed", FLastEventError == platform::kWsaEConnectionRefused
                                              ? SockErrorKind::Refused
                                              : SockErrorKind::ConnectFailed);
}

bool TStreamSocket::BeginConnect() {
    const std::optional<platform::SocketAddress> numeric =
        Proxy.empty() ? platform::NumericAddress(Host) : std::nullopt;
    if (!numeric || numeric->IsUnspecified())
        return false;
    StatusMessage(kStatusDetail, "Connecting");
    FCanceled = false;
    if (Connected)
        throw ESockError("Already connected", SockErrorKind::AlreadyConnected);
    FPeerClosed = false;
    FAddresses = {*numeric};
    FSockAddr = *numeric;
    FSockAddr.port = static_cast<std::uint16_t>(Port & 0xFFFF);
    if (FSocket == kInvalidSocket || platform::SocketFamily(Handle()) != FSockAddr.family)
        ReplaceSocket(FSockAddr.family);
    FAsyncDone = false;
    FLastEventOk = true;
    FLastEventError = 0;
    FConnectDone = false;
    if (platform::SocketConnect(Handle(), FSockAddr) != 0) {
        std::string msg;
        CheckSocketError(platform::kWsaEWouldBlock, msg);
    }
    TimerOn();
    return true;
}

void TStreamSocket::FinishConnect() {
    // The outcome may have come already, while the caller was busy elsewhere.
    while (!Connected && !FConnectDone && !FTimedOut && !FCanceled && FLastEventOk)
        PumpAndWait();
    TimerOff();
    if (FTimedOut || FCanceled || !FLastEventOk)
        ConnectionNotMade(false);
}

bool TStreamSocket::ConnectAttempt(int boundMs, bool& attemptExpired, bool first) {
    FAsyncDone = false;
    FLastEventOk = true;
    FLastEventError = 0;
    FConnectDone = false;
    attemptExpired = false;
    if (platform::SocketConnect(Handle(), FSockAddr) != 0) {
        std::string msg;
        CheckSocketError(platform::kWsaEWouldBlock, msg);
    }
    // The time-out runs from the first attempt and bounds them all.
    if (first)
        TimerOn();
    std::unique_ptr<TThreadTimer> bound;
    if (boundMs > 0) {
        bound = std::make_unique<TThreadTimer>();
        bound->SetEnabled(false);
        bound->SetInterval(static_cast<std::uint32_t>(boundMs));
        bound->SetOnTimer([&attemptExpired, &bound](TObject*) {
            attemptExpired = true;
            bound->SetEnabled(false);
        });
        bound->SetEnabled(true);
    }
    // The connect notification itself ends the wait too: a peer that closes at once turns
    // Connected back to False in the same pass, and the wait must not outlive that.
    do {
        PumpAndWait();
    } while (!Connected && !FConnectDone && !FTimedOut && !FCanceled && FLastEventOk &&
             !attemptExpired);
    return !FTimedOut && !FCanceled && FLastEventOk && !attemptExpired;
}

void TStreamSocket::Disconnect() {
    StatusMessage(kStatusDetail, "Disconnecting");
    RequestCloseSocket();
}

void TStreamSocket::RequestCloseSocket() {
    StatusMessage(kStatusTransfer, "Request Close Socket");
    Connected = false;
    DropTls(); // the close-notify goes before the socket closes
    DropHeldConnection();
    if (FSocket == kInvalidSocket)
        return;
    if (platform::SocketClose(Handle()) != 0) {
        std::string msg;
        CheckSocketError(platform::kWsaEWouldBlock, msg);
        return;
    }
    // The handle is gone; never close it a second time.
    FSocket = kInvalidSocket;
    // The object always holds a usable socket afterwards, even when the handler fails.
    auto reopen = [this] {
        if (!FShuttingDown)
            FSocket = OpenRegisteredSocket(false);
    };
    try {
        if (!Destroying() && OnDisconnect)
            OnDisconnect(this);
    } catch (...) {
        reopen();
        throw;
    }
    reopen();
}

void TStreamSocket::CheckConnection() {
    StatusMessage(kStatusDetail, "Checking Connection");
    bool offered = false;
    while (!Connected) {
        if (offered || !OnConnectionRequired)
            throw platform::Exception("Not Connected");
        offered = true;
        bool Handled = false;
        OnConnectionRequired(Handled);
        if (!Handled)
            throw platform::Exception("Not Connected");
    }
}

void TStreamSocket::Cancel() {
    StatusMessage(kStatusDetail, "Canceling");
    FCanceled = true;
}

void TStreamSocket::Abort() {
    StatusMessage(kStatusDetail, "Abort");
    Cancel();
}

void TStreamSocket::TimerOn() {
    StatusMessage(kStatusDetail, "Timer On");
    FTimedOut = false;
    if (TimeOut < 0)
        throw platform::Exception("Range check error");
    FTimer->SetInterval(static_cast<std::uint32_t>(TimeOut));
    FTimer->SetEnabled(true);
}

void TStreamSocket::TimerOff() {
    StatusMessage(kStatusDetail, "Timer Off");
    FTimer->SetEnabled(false);
}

void TStreamSocket::TimerFired(TObject* /*Sender*/) {
    StatusMessage(kStatusDetail, "Timer Triggered");
    TimerOff();
    FTimedOut = true;
    FAsyncDone = true;
    Abort();
}

void TStreamSocket::HandleSocketMessage(TMessage& Msg) {
    // Runs as an event of the dispatcher: nothing may leave it.
    try {
        FLastEventError = platform::SelectError(Msg.LParam);
        FLastEventOk = FLastEventError == 0;
        const int event = platform::SelectEvent(Msg.LParam);
        if (Msg.Msg == kSocketMessage) {
            switch (event) {
            case platform::kFdRead:
                try {
                    if (FOnReadReady)
                        FOnReadReady(this);
                } catch (...) {
                    // A handler's error must not cross the event dispatcher; it is discarded.
                }
                break;
            case platform::kFdAccept:
                if (!ScreenIncoming())
                    break; // nothing for Accept: a stranger's connection was closed
                Connected = true;
                if (FOnAcceptReady)
                    FOnAcceptReady(this);
                break;
            case platform::kFdConnect:
                FConnectDone = true;
                if (FLastEventOk) {
                    Connected = true;
                    if (OnConnect)
                        OnConnect(this);
                }
                break;
            case platform::kFdClose:
                // While data waits the close is not acted on: the reader gets the data first.
                if (!DataAvailable()) {
                    FPeerClosed = Connected;
                    RequestCloseSocket();
                }
                break;
            default:
                break;
            }
        } else if (Msg.Msg == kLookupMessage) {
            if (event != platform::kFdAccept) {
                FAsyncDone = true;
            } else if (ScreenIncoming()) {
                // The incoming connection of a listener: a connection, not a disconnection,
                // so the accept hook is what is told.
                FAsyncDone = true;
                Connected = true;
                if (!Destroying() && FOnAcceptReady)
                    FOnAcceptReady(this);
            }
            // Otherwise a stranger's connection was closed unanswered: it ends no wait.
        }
    } catch (...) {
        // Exceptions of handlers called from notifications are discarded: none may cross the
        // event dispatcher.
    }
    Msg.Result = 0;
}
