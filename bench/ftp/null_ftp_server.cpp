#include "null_ftp_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

namespace {

int ListenOnLoopback(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

void Say(int fd, const std::string& reply) {
    const std::string line = reply + "\r\n";
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
}

// One command line without its line end; false when the client has gone.
bool ReadCommand(int fd, std::string& pending, std::string& command) {
    for (;;) {
        const auto lf = pending.find('\n');
        if (lf != std::string::npos) {
            command = pending.substr(0, lf);
            if (!command.empty() && command.back() == '\r')
                command.pop_back();
            pending.erase(0, lf + 1);
            return true;
        }
        char block[1024];
        const auto n = ::recv(fd, block, sizeof block, 0);
        if (n <= 0)
            return false;
        pending.append(block, static_cast<std::size_t>(n));
    }
}

void Drain(int fd) {
    std::vector<char> block(1 << 20);
    while (::recv(fd, block.data(), block.size(), 0) > 0) {
    }
}

} // namespace

NullFtpServer::NullFtpServer() {
    listener_ = ListenOnLoopback(port_);
    thread_ = std::thread([this] {
        for (;;) {
            const int control = ::accept(listener_, nullptr, nullptr);
            if (control < 0)
                return;
            Serve(control);
            ::close(control);
        }
    });
}

NullFtpServer::~NullFtpServer() {
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
}

void NullFtpServer::Serve(int control) {
    Say(control, "220 null server");
    std::string pending, command;
    int passive = -1;
    sockaddr_in active{};
    bool haveActive = false;
    while (ReadCommand(control, pending, command)) {
        const std::string verb = command.substr(0, command.find(' '));
        if (verb == "USER") {
            Say(control, "331 any password");
        } else if (verb == "PASS") {
            Say(control, "230 logged on");
        } else if (verb == "PWD") {
            Say(control, "257 \"/\"");
        } else if (verb == "PASV") {
            std::uint16_t port = 0;
            passive = ListenOnLoopback(port);
            Say(control, "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) +
                             "," + std::to_string(port % 256) + ")");
        } else if (verb == "PORT") {
            unsigned a, b, c, d, hi, lo;
            haveActive = std::sscanf(command.c_str() + 5, "%u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &hi,
                                     &lo) == 6;
            active.sin_family = AF_INET;
            active.sin_addr.s_addr = htonl(a << 24 | b << 16 | c << 8 | d);
            active.sin_port = htons(static_cast<std::uint16_t>(hi * 256 + lo));
            Say(control, haveActive ? "200 PORT ok" : "501 bad PORT");
        } else if (verb == "STOR") {
            Say(control, "150 send it");
            int data = -1;
            if (passive >= 0) {
                data = ::accept(passive, nullptr, nullptr);
                ::close(passive);
                passive = -1;
            } else if (haveActive) {
                data = ::socket(AF_INET, SOCK_STREAM, 0);
                ::connect(data, reinterpret_cast<sockaddr*>(&active), sizeof active);
                haveActive = false;
            }
            Drain(data);
            ::close(data);
            Say(control, "226 dropped");
        } else if (verb == "QUIT") {
            Say(control, "221 bye");
            return;
        } else if (verb == "EPSV" || verb == "EPRT") {
            Say(control, "500 not here");
        } else {
            Say(control, "200 ok"); // TYPE, CWD and the like
        }
    }
}

} // namespace bench
