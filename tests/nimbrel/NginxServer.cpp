#include "NginxServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace nimbrel_test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kStartAttempts = 5;  // another program may take the free port before nginx binds it
constexpr auto kStartLimit = std::chrono::seconds(10);
constexpr auto kStopLimit = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

std::string NginxProgram() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    return "";
}

// A port that was free a moment ago: the kernel picks it for a socket bound to port 0.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string Configuration(const fs::path& directory, int port) {
    const std::string d = directory.string();
    std::ostringstream conf;
    conf << "daemon off;\n"
            "master_process off;\n"
            "worker_processes 1;\n"
            "pid "
         << d << "/nginx.pid;\n"
         << "error_log " << d << "/error.log notice;\n"
         << "events { worker_connections 64; }\n"
            "http {\n"
            "    types { image/gif gif; }\n"
            "    default_type application/octet-stream;\n"
            "    log_format portrix '$request_uri\\t$status\\t$http_if_modified_since\\t$http_if_none_match"
            "\\t$http_accept_encoding';\n"
         << "    access_log " << d << "/access.log portrix;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        conf << "    " << temp << "_temp_path " << d << "/tmp/" << temp << ";\n";
    }
    conf << "    server {\n"
            "        listen 127.0.0.1:"
         << port << ";\n"
         << "        root " << d << "/root;\n"
         << "        location /c_avatar/ { }\n"
            "        location /c_avatar/Up/ { if_modified_since before; }\n"
            "        location ~ ^/c_avatar/([^/]+)/moved-(.+)$ { return 302 /c_avatar/$1/$2; }\n"
            "        location ~ ^/c_avatar/[^/]+/slow { limit_rate "
         << NginxServer::kSlowBytesPerSecond << "; }\n"
         << "    }\n"
            "}\n";
    return conf.str();
}

// nginx writes "-" for an empty variable and \xHH for bytes it escapes (quotes among them).
std::string LoggedValue(const std::string& field) {
    if (field == "-") return "";
    std::string value;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] == 'x') {
            value += static_cast<char>(std::strtol(field.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            value += field[i];
        }
    }
    return value;
}

}  // namespace

NginxServer::NginxServer() {
    std::string pattern = (fs::temp_directory_path() / "nginx-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_startError = "no temporary directory";
        return;
    }
    m_directory = pattern;
    fs::permissions(m_directory, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                     fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(m_directory / "root" / "c_avatar");
    fs::create_directories(m_directory / "tmp");
    if (NginxProgram().empty()) {
        m_startError = "nginx is not installed (scripts/deps.sh installs nginx-light)";
        return;
    }
    for (int attempt = 0; attempt < kStartAttempts && !Running(); ++attempt) StartOnFreePort();
}

NginxServer::~NginxServer() {
    Stop();
    std::error_code ignored;
    if (!m_directory.empty()) fs::remove_all(m_directory, ignored);
}

bool NginxServer::StartOnFreePort() {
    m_port = FreePort();
    if (m_port == 0) {
        m_startError = "no free port";
        return false;
    }
    const fs::path conf = m_directory / "nginx.conf";
    std::ofstream(conf) << Configuration(m_directory, m_port);

    const std::string program = NginxProgram();
    const std::string prefix = m_directory.string() + "/";
    const std::string errorLog = (m_directory / "error.log").string();
    const std::string output = (m_directory / "output.log").string();
    std::vector<std::string> args = {program, "-p", prefix, "-c", conf.string(), "-e", errorLog};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        m_startError = "cannot run " + program;
        return false;
    }
    m_child = child;
    if (WaitUntilListening()) return true;
    Stop();
    m_startError = "nginx did not start:\n" + ReadAll(errorLog) + ReadAll(output);
    return false;
}

bool NginxServer::WaitUntilListening() {
    const auto deadline = Clock::now() + kStartLimit;
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(m_child, &status, WNOHANG) == m_child) {
            m_child = -1;  // it ended: most likely the port was taken meanwhile
            return false;
        }
        if (Accepts(m_port)) return true;
        std::this_thread::sleep_for(kPollInterval);
    }
    return false;
}

void NginxServer::Stop() {
    if (m_child <= 0) return;
    ::kill(m_child, SIGTERM);
    const auto deadline = Clock::now() + kStopLimit;
    int status = 0;
    while (::waitpid(m_child, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    m_child = -1;
}

void NginxServer::Put(const std::string& path, const std::string& bytes, std::time_t modified) const {
    const fs::path file = m_directory / "root" / "c_avatar" / path;
    fs::create_directories(file.parent_path());
    // Written aside and moved into place, so nginx never sends half a file.
    const fs::path aside = file.string() + ".writing";
    std::ofstream(aside, std::ios::binary) << bytes;
    if (modified != 0) {
        const timeval times[2] = {{modified, 0}, {modified, 0}};
        ::utimes(aside.c_str(), times);
    }
    fs::rename(aside, file);
}

std::vector<LoggedRequest> NginxServer::Requests() const {
    std::vector<LoggedRequest> requests;
    std::istringstream log(ReadAll(m_directory / "access.log"));
    std::string line;
    while (std::getline(log, line)) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() != 5) continue;
        requests.push_back({fields[0], std::atoi(fields[1].c_str()), LoggedValue(fields[2]), LoggedValue(fields[3]),
                            LoggedValue(fields[4])});
    }
    return requests;
}

std::vector<LoggedRequest> NginxServer::RequestsFor(const std::string& path) const {
    std::vector<LoggedRequest> found;
    for (LoggedRequest& request : Requests()) {
        if (request.target == "/c_avatar/" + path) found.push_back(std::move(request));
    }
    return found;
}

bool NginxServer::WaitForRequests(const std::string& path, size_t count) const {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (RequestsFor(path).size() < count) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace nimbrel_test
