// Debian's nginx as the avatar server of a test: started on 127.0.0.1 and a free port, with a
// configuration, document root, pid file, logs and temporary paths of its own in a temporary
// directory, as a child process (daemon off, no master) that the destructor stops.
//
// Under http://<Address()>/c_avatar/ it serves Root-relative files (404 when missing) with
// If-Modified-Since compared exactly, except:
//   Up/<name>            If-Modified-Since answered 304 for "not modified since" (before)
//   <dir>/slow<rest>     sent at kSlowBytesPerSecond
//   <dir>/moved-<name>   a 302 redirect to <dir>/<name>
//   away/<path>?to=<host:port>  a 302 redirect to http://<host:port>/c_avatar/<path>
//   <dir>/silent<rest>   never answered (handed to a peer that takes the request and says nothing)
//   <dir>/reset<rest>    the connection closed without an answer (over HTTP/2: the stream reset)
#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace nimbrel_test {

struct LoggedRequest {
    std::string target;  // e.g. "/c_avatar/Body/10001.gif"
    int status = 0;
    std::string ifModifiedSince, ifNoneMatch;  // empty when not sent
    long connection = 0;                       // nginx's serial number of the connection
    std::string protocol;                      // "HTTP/1.1", "HTTP/2.0"
};

// The requests of nginx's request log, as NginxServer configures it (one line each).
std::vector<LoggedRequest> ParseRequestLog(const std::string& log);

class NginxServer {
public:
    static constexpr int kSlowBytesPerSecond = 1024;

    // Speaking HTTP/1.1 only (nginx's default), or with `http2` HTTP/2 only, as nginx does on a
    // listening socket without TLS marked `http2`, offering `streams` streams at once on a
    // connection (0: nginx's default, 128). Check Running() before use.
    explicit NginxServer(bool http2 = false, int streams = 0);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    bool Running() const { return m_child > 0; }
    const std::string& StartError() const { return m_startError; }  // with nginx's error log
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

    // Serves bytes at /c_avatar/<path> (e.g. "Body/10001.gif"), last modified at `modified`
    // (now when 0); nginx's Last-Modified and ETag follow the file.
    void Put(const std::string& path, const std::string& bytes, std::time_t modified = 0) const;

    // Requests answered so far (nginx logs each once its answer is sent), all or for one path.
    std::vector<LoggedRequest> Requests() const;
    std::vector<LoggedRequest> RequestsFor(const std::string& path) const;
    bool WaitForRequests(const std::string& path, size_t count) const;  // generously
    // Lines of nginx's error log (level info) that contain `text`.
    size_t ErrorLogLines(const std::string& text) const;

private:
    bool StartOnFreePort(bool http2, int streams);
    void Stop();

    std::filesystem::path m_directory;
    int m_port = 0;
    pid_t m_child = -1;
    int m_silentPeer = -1;  // a listening socket that never accepts: the silent pictures' upstream
    int m_silentPort = 0;
    std::string m_startError;
};

}  // namespace nimbrel_test
