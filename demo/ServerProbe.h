// Whether a given avatar server can be reached at all: the download library is silent about it
// (an unreachable server looks like a user without a picture), so the host asks for itself, by
// opening a connection to the server's address as the library would. Stepped from the host's
// user-interface thread, never waiting there: a host that is closed meanwhile just drops it.
// Over libcurl on Linux; on Windows a non-blocking Winsock connect (win32/ServerProbe.cpp).
#pragma once

#ifndef _WIN32
#include <curl/curl.h>
#endif

#include <chrono>
#include <cstdint>
#include <string>

namespace demo {

class ServerProbe {
public:
    // Starts connecting to HOST[:PORT] (port 80 when none), giving up after `timeout`.
    ServerProbe(const std::string& address, std::chrono::milliseconds timeout);
    ~ServerProbe();
    ServerProbe(const ServerProbe&) = delete;
    ServerProbe& operator=(const ServerProbe&) = delete;

    // Moves the connection on without waiting; true once it has been opened or has failed.
    bool Step();
    // Once Step() said so: why the server cannot be reached, in words; empty when it can be (or
    // when curl could not even be asked).
    const std::string& failure() const { return failure_; }

private:
#ifdef _WIN32
    uintptr_t socket_;  // SOCKET, connecting
    std::chrono::steady_clock::time_point deadline_;
    bool winsock_ = false;  // WSAStartup succeeded
#else
    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    char error_[256] = "";
#endif
    bool done_ = false;
    std::string failure_;
};

}  // namespace demo
