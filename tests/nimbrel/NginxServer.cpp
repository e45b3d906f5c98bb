#include "NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "TempStore.h"

extern char** environ;

namespace nimbrel_test {
namespace {

namespace fs = std::filesystem;

constexpr char kNginx[] = "/usr/sbin/nginx";
constexpr int kStartAttempts = 5;  // another program may take the free port before nginx binds it

// Binds (port 0: the kernel picks a free port) or connects a loopback socket; the port, or 0.
int LoopbackSocket(int port, bool connectToIt) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    const bool ok = connectToIt
                        ? ::connect(fd, raw, length) == 0
                        : ::bind(fd, raw, length) == 0 && ::getsockname(fd, raw, &length) == 0;
    ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

// A listening socket on a free loopback port that is never accepted from: the kernel completes
// connections to it, and whatever is sent there stays unanswered.
int SilentPeer(int* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if (::bind(fd, raw, length) != 0 || ::listen(fd, 64) != 0 ||
        ::getsockname(fd, raw, &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

std::string Configuration(const std::string& d, int port, bool http2, int streams, int silentPort) {
    std::ostringstream conf;
    conf << "daemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\nerror_log " << d
         << "/error.log info;\n"
         << "events { worker_connections 64; }\nhttp {\n    types { image/gif gif; text/html html; "
            "}\n"
         << "    log_format t "
            "'$request_uri\\t$status\\t$http_if_modified_since\\t$http_if_none_match\\t"
            "$connection\\t$server_protocol';\n"
         << "    access_log " << d << "/access.log t;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        conf << "    " << temp << "_temp_path " << d << "/tmp/" << temp << ";\n";
    }
    conf << "    server {\n        listen 127.0.0.1:" << port << (http2 ? " http2" : "") << ";\n";
    if (streams > 0) conf << "        http2_max_concurrent_streams " << streams << ";\n";
    conf << "        root " << d << "/root;\n"
         << "        location /c_avatar/ { }\n"
         << "        location /c_avatar/Up/ { if_modified_since before; }\n"
         << "        location ~ ^/c_avatar/([^/]+)/moved-(.+)$ { return 302 /c_avatar/$1/$2; }\n"
         << "        location ~ ^/c_avatar/away/(.+)$ { return 302 http://$arg_to/c_avatar/$1; }\n"
         << "        location ~ ^/c_avatar/[^/]+/slow { limit_rate "
         << NginxServer::kSlowBytesPerSecond << "; }\n"
         << "        location ~ ^/c_avatar/[^/]+/silent { proxy_pass http://127.0.0.1:"
         << silentPort << "; proxy_read_timeout 1h; }\n"
         << "        location ~ ^/c_avatar/[^/]+/reset { return 444; }\n"
         << "    }\n}\n";
    return conf.str();
}

}  // namespace

NginxServer::NginxServer(bool http2, int streams) {
    std::string pattern = (fs::temp_directory_path() / "nginx-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_startError = "no temporary directory";
        return;
    }
    m_directory = pattern;
    fs::permissions(m_directory, fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    fs::create_directories(m_directory / "root" / "c_avatar");
    fs::create_directories(m_directory / "tmp");
    if (::access(kNginx, X_OK) != 0) {
        m_startError = "nginx is not installed (scripts/deps.sh installs nginx-light)";
        return;
    }
    m_silentPeer = SilentPeer(&m_silentPort);
    for (int attempt = 0; attempt < kStartAttempts && !Running(); ++attempt)
        StartOnFreePort(http2, streams);
}

NginxServer::~NginxServer() {
    Stop();
    if (m_silentPeer >= 0) ::close(m_silentPeer);
    std::error_code ignored;
    if (!m_directory.empty()) fs::remove_all(m_directory, ignored);
}

bool NginxServer::StartOnFreePort(bool http2, int streams) {
    m_port = LoopbackSocket(0, false);
    const std::string d = m_directory.string();
    std::ofstream(d + "/nginx.conf") << Configuration(d, m_port, http2, streams, m_silentPort);
    std::vector<std::string> args = {kNginx,          "-p", d + "/", "-c", d + "/nginx.conf", "-e",
                                     d + "/error.log"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (d + "/stderr.log").c_str(),
                                     O_WRONLY | O_CREAT, 0644);
    if (posix_spawn(&m_child, kNginx, &actions, nullptr, argv.data(), environ) != 0) m_child = -1;
    posix_spawn_file_actions_destroy(&actions);

    int status = 0;
    bool ended = m_child <= 0;  // an nginx that ends at once most likely found the port taken
    const bool listening = WaitFor(
        [&] {
            ended = ended || ::waitpid(m_child, &status, WNOHANG) == m_child;
            return ended || LoopbackSocket(m_port, true) != 0;
        },
        std::chrono::seconds(10));
    if (listening && !ended) return true;
    if (ended) m_child = -1;
    Stop();
    m_startError = "nginx did not start:\n" + ReadFile(m_directory / "error.log").value_or("");
    return false;
}

void NginxServer::Stop() {
    if (m_child <= 0) return;
    ::kill(m_child, SIGTERM);
    int status = 0;
    if (!WaitFor([&] { return ::waitpid(m_child, &status, WNOHANG) != 0; },
                 std::chrono::seconds(5))) {
        ::kill(m_child, SIGKILL);
        ::waitpid(m_child, &status, 0);
    }
    m_child = -1;
}

void NginxServer::Put(const std::string& path, const std::string& bytes,
                      std::time_t modified) const {
    const fs::path file = m_directory / "root" / "c_avatar" / path;
    fs::create_directories(file.parent_path());
    const fs::path aside = file.string() + ".writing";  // nginx never sends half a file
    WriteFile(aside, bytes);
    if (modified != 0) SetModificationTime(aside, modified);
    fs::rename(aside, file);
}

std::vector<LoggedRequest> NginxServer::Requests() const {
    return ParseRequestLog(ReadFile(m_directory / "access.log").value_or(""));
}

size_t NginxServer::ErrorLogLines(const std::string& text) const {
    std::istringstream log(ReadFile(m_directory / "error.log").value_or(""));
    size_t found = 0;
    for (std::string line; std::getline(log, line);) found += line.find(text) != line.npos ? 1 : 0;
    return found;
}

}  // namespace nimbrel_test
