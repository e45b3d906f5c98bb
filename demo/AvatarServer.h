// The embedded avatar server: serves the demo's pictures over HTTP on 127.0.0.1 with the URL
// layout of the download library, after a configurable delay so that placeholders stay on
// screen long enough to be seen.
//
//   /c_avatar/<file>                      a picture of the default set
//   /c_avatar/<Body|Up|Face>/<id><suffix>  a user's picture
//
// What it answers is decided here once (Answer); the connections are cpp-httplib's on Linux and
// a small Winsock listener of the demo's own on Windows (win32/ServerSockets.cpp), where Debian
// ships no cpp-httplib.
#pragma once

#include <atomic>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace demo {

class AvatarServer {
public:
    explicit AvatarServer(std::chrono::milliseconds delay);
    ~AvatarServer();
    AvatarServer(const AvatarServer&) = delete;
    AvatarServer& operator=(const AvatarServer&) = delete;

    // Files are added before Start; the server's threads only read them afterwards.
    // `path` is below /c_avatar/, e.g. "man1.gif" or "Up/10002.gif".
    void Serve(const std::string& path, std::string bytes);
    // Binds an ephemeral port on 127.0.0.1 and starts answering; false when it cannot bind.
    bool Start();
    void Stop();

    std::string Address() const;  // "127.0.0.1:<port>"

    struct Counts {
        int requests = 0;
        int ok = 0;
        int notModified = 0;
        int notFound = 0;
    };
    Counts GetCounts() const;

    // The answer to a GET of `path` (below /c_avatar/) with the request's If-Modified-Since
    // value (empty when it has none), after the server's delay; counted.
    struct Reply {
        int status = 404;
        std::string lastModified;           // empty for a 404
        const std::string* body = nullptr;  // the picture for a 200
    };
    Reply Answer(const std::string& path, const std::string& ifModifiedSince);

private:
    struct Transport;  // the connections: one definition on each system
    std::unique_ptr<Transport> transport_;
    std::thread thread_;
    std::chrono::milliseconds delay_;
    std::map<std::string, std::string> files_;
    time_t modified_;  // Last-Modified of every file: when the server was made
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::atomic<int> ok_{0};
    std::atomic<int> notModified_{0};
    std::atomic<int> notFound_{0};
};

// RFC 7231 IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"), and back; -1 when unreadable.
std::string HttpDate(time_t when);
time_t ParseHttpDate(const std::string& text);

}  // namespace demo
