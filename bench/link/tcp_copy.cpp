// A plain TCP copy, to show the rate a link gives one TCP connection with nothing else
// involved: the receiver reads and drops, the sender writes from one buffer.
//
//   tcp_copy receive ADDRESS   prints the port it listens on, takes one connection, reads it
//                              to its end, then prints "<bytes> <seconds> <Mbit/s>"
//   tcp_copy send ADDRESS PORT BYTES
//                              sends BYTES bytes, and once the receiver has read them all and
//                              closed prints "<bytes> <seconds> <Mbit/s>", seconds from the
//                              connection's start to the receiver's close
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

addrinfo* Resolve(const char* address, const char* port, bool passive) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* found = nullptr;
    if (::getaddrinfo(address, port, &hints, &found) != 0 || found == nullptr) {
        std::fprintf(stderr, "tcp_copy: %s is not an address\n", address);
        std::exit(2);
    }
    return found;
}

void Report(unsigned long long bytes, double seconds) {
    std::printf("%llu %.6f %.2f\n", bytes, seconds, bytes * 8 / seconds / 1e6);
}

int Receive(const char* address) {
    addrinfo* at = Resolve(address, "0", true);
    const int listener = ::socket(at->ai_family, SOCK_STREAM, 0);
    if (::bind(listener, at->ai_addr, at->ai_addrlen) != 0 || ::listen(listener, 1) != 0) {
        std::perror("tcp_copy: listen");
        return 1;
    }
    freeaddrinfo(at);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
    const int port =
        ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                         : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    std::printf("%d\n", port);
    std::fflush(stdout);
    const int connection = ::accept(listener, nullptr, nullptr);
    const double start = Now();
    std::vector<char> block(4 << 20);
    unsigned long long bytes = 0;
    for (ssize_t n; (n = ::recv(connection, block.data(), block.size(), 0)) > 0;)
        bytes += static_cast<unsigned long long>(n);
    Report(bytes, Now() - start);
    ::close(connection);
    ::close(listener);
    return 0;
}

int Send(const char* address, const char* port, unsigned long long total) {
    addrinfo* at = Resolve(address, port, false);
    const int out = ::socket(at->ai_family, SOCK_STREAM, 0);
    const double start = Now();
    if (::connect(out, at->ai_addr, at->ai_addrlen) != 0) {
        std::perror("tcp_copy: connect");
        return 1;
    }
    freeaddrinfo(at);
    std::vector<char> block(1 << 20, 'x');
    for (unsigned long long sent = 0; sent < total;) {
        const ssize_t n =
            ::send(out, block.data(), std::min<unsigned long long>(block.size(), total - sent), 0);
        if (n <= 0) {
            std::perror("tcp_copy: send");
            return 1;
        }
        sent += static_cast<unsigned long long>(n);
    }
    ::shutdown(out, SHUT_WR);
    char byte;
    ::recv(out, &byte, 1, 0); // the receiver closes once it has read everything
    Report(total, Now() - start);
    ::close(out);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "receive") == 0)
        return Receive(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "send") == 0)
        return Send(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
    std::fprintf(stderr, "usage: tcp_copy receive ADDRESS | tcp_copy send ADDRESS PORT BYTES\n");
    return 2;
}
