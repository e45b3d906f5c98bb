// Debian's nginx as the avatar server of a test: started on 127.0.0.1 and a free port with a
// configuration, document root, pid file, logs and temporary paths of its own in a temporary
// directory, as a child process that the destructor stops.
//
// What it serves, under http://<Address()>/c_avatar/:
//   <dir>/<name>         the file Root()/<dir>/<name>, or 404; If-Modified-Since compared
//                        exactly (nginx's default), If-None-Match against nginx's ETag
//   Up/<name>            the same, but If-Modified-Since answered 304 for "not modified since"
//                        (if_modified_since before)
//   <dir>/slow<rest>     the file, sent at kSlowBytesPerSecond
//   <dir>/moved-<name>   a 302 redirect to <dir>/<name>
// Every answered request is logged; Requests() reads the log back.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace nimbrel_test {

struct LoggedRequest {
    std::string target;  // as sent, e.g. "/c_avatar/Body/10001.gif"
    int status = 0;
    std::string ifModifiedSince, ifNoneMatch, acceptEncoding;  // empty when not sent
};

class NginxServer {
public:
    static constexpr int kSlowBytesPerSecond = 1024;

    NginxServer();  // check Running() before use
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    bool Running() const { return m_child > 0; }
    // What went wrong at start-up, with nginx's own error log.
    const std::string& StartError() const { return m_startError; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Full URL of a file under /c_avatar/, e.g. Url("man1.gif").
    std::string Url(const std::string& path) const { return "http://" + Address() + "/c_avatar/" + path; }

    // Serves bytes at /c_avatar/<path> (e.g. "Body/10001.gif"), last modified at `modified`
    // (now when 0); nginx's Last-Modified and ETag follow the file.
    void Put(const std::string& path, const std::string& bytes, std::time_t modified = 0) const;

    // Requests answered so far, in order (nginx logs a request once its answer is sent).
    std::vector<LoggedRequest> Requests() const;
    std::vector<LoggedRequest> RequestsFor(const std::string& path) const;  // path as for Put
    // Waits (generously) until `path` has been answered `count` times.
    bool WaitForRequests(const std::string& path, size_t count) const;

private:
    bool StartOnFreePort();
    bool WaitUntilListening();
    void Stop();

    std::filesystem::path m_directory;
    int m_port = 0;
    pid_t m_child = -1;
    std::string m_startError;
};

}  // namespace nimbrel_test
