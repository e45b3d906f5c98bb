// The probe of a given avatar server on Windows: a non-blocking connect, looked at by Step().
#include <winsock2.h>
#include <ws2tcpip.h>

#include "ServerProbe.h"

namespace demo {

ServerProbe::ServerProbe(const std::string& address, std::chrono::milliseconds timeout)
    : socket_(INVALID_SOCKET), deadline_(std::chrono::steady_clock::now() + timeout) {
    WSADATA data;
    winsock_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    const size_t colon = address.rfind(':');
    const std::string host = address.substr(0, colon);
    const std::string port = colon == std::string::npos ? "80" : address.substr(colon + 1);
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!winsock_ || getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
        done_ = true;
        failure_ = "cannot resolve " + host;
        return;
    }
    const SOCKET s = socket(found->ai_family, found->ai_socktype, found->ai_protocol);
    u_long nonBlocking = 1;
    if (s != INVALID_SOCKET && ioctlsocket(s, FIONBIO, &nonBlocking) == 0) {
        socket_ = s;
        if (connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0)
            done_ = true;
        else if (WSAGetLastError() != WSAEWOULDBLOCK)
            failure_ = "cannot connect";
    }
    // Not known to be unreachable when no socket could be made: the download library may still
    // get through.
    done_ = done_ || s == INVALID_SOCKET || !failure_.empty();
    freeaddrinfo(found);
}

ServerProbe::~ServerProbe() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    if (winsock_) WSACleanup();
}

bool ServerProbe::Step() {
    if (done_) return true;
    const SOCKET s = socket_;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval now = {0, 0};
    if (select(0, nullptr, &writable, &failed, &now) > 0) {
        done_ = true;
        if (FD_ISSET(s, &failed)) {
            int error = 0;
            int length = sizeof error;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            failure_ = "cannot connect (Winsock error " + std::to_string(error) + ")";
        }
    } else if (std::chrono::steady_clock::now() >= deadline_) {
        done_ = true;
        failure_ = "no connection within the time allowed";
    }
    return done_;
}

}  // namespace demo
