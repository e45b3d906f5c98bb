// The embedded avatar server's connections on Windows, over Winsock: one thread accepts on
// 127.0.0.1, one thread per connection reads a GET, answers it and closes the connection
// (HTTP/1.1 with "Connection: close": the download library opens a new one for the next picture).
#include <winsock2.h>

#include <cctype>
#include <mutex>
#include <vector>

#include "AvatarServer.h"

namespace demo {

namespace {

constexpr size_t kMaxRequest = 16 * 1024;
constexpr DWORD kReadTimeoutMs = 5000;

const char* StatusLine(int status) {
    switch (status) {
        case 200:
            return "HTTP/1.1 200 OK\r\n";
        case 304:
            return "HTTP/1.1 304 Not Modified\r\n";
        case 400:
            return "HTTP/1.1 400 Bad Request\r\n";
        default:
            return "HTTP/1.1 404 Not Found\r\n";
    }
}

bool SendAll(SOCKET socket, const std::string& bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
        const int chunk =
            send(socket, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (chunk <= 0) return false;
        sent += static_cast<size_t>(chunk);
    }
    return true;
}

// The value of header `name` (any case) in the request's head, or empty.
std::string HeaderValue(const std::string& head, const std::string& name) {
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find("\r\n" + name + ":");
    if (at == std::string::npos) return "";
    size_t begin = at + 3 + name.size();
    const size_t end = head.find("\r\n", begin);
    while (begin < end && head[begin] == ' ') ++begin;
    return head.substr(begin, end - begin);
}

}  // namespace

struct AvatarServer::Transport {
    SOCKET listener = INVALID_SOCKET;
    bool started = false;  // WSAStartup succeeded
    std::mutex lock;
    std::vector<std::thread> connections;

    void Serve(AvatarServer* server, SOCKET client);
};

void AvatarServer::Transport::Serve(AvatarServer* server, SOCKET client) {
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&kReadTimeoutMs),
               sizeof kReadTimeoutMs);
    std::string head;
    char buffer[2048];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequest) {
        const int got = recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<size_t>(got));
    }
    // "GET /c_avatar/<path> HTTP/1.1"
    const std::string prefix = "GET /c_avatar/";
    const size_t targetEnd = head.find(' ', prefix.size());
    std::string response;
    if (head.find("\r\n\r\n") == std::string::npos || head.compare(0, prefix.size(), prefix) != 0 ||
        targetEnd == std::string::npos) {
        response = std::string(StatusLine(head.compare(0, 4, "GET ") == 0 ? 404 : 400)) +
                   "Content-Length: 0\r\nConnection: close\r\n\r\n";
    } else {
        const Reply reply = server->Answer(head.substr(prefix.size(), targetEnd - prefix.size()),
                                           HeaderValue(head, "if-modified-since"));
        response = StatusLine(reply.status);
        if (!reply.lastModified.empty())
            response += "Last-Modified: " + reply.lastModified + "\r\n";
        if (reply.body != nullptr) response += "Content-Type: image/gif\r\n";
        response += "Content-Length: " + std::to_string(reply.body ? reply.body->size() : 0) +
                    "\r\nConnection: close\r\n\r\n";
        if (reply.body != nullptr) response += *reply.body;
    }
    SendAll(client, response);
    shutdown(client, SD_SEND);
    closesocket(client);
}

AvatarServer::AvatarServer(std::chrono::milliseconds delay)
    : transport_(std::make_unique<Transport>()), delay_(delay), modified_(time(nullptr)) {}

AvatarServer::~AvatarServer() {
    Stop();
    if (transport_->started) WSACleanup();
}

bool AvatarServer::Start() {
    WSADATA data;
    if (!transport_->started) transport_->started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (!transport_->started) return false;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return false;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // the system picks the port
    int length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(listener);
        return false;
    }
    port_ = ntohs(address.sin_port);
    transport_->listener = listener;
    thread_ = std::thread([this, listener] {
        for (;;) {
            const SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) break;  // Stop closed the listener
            std::lock_guard<std::mutex> guard(transport_->lock);
            transport_->connections.emplace_back(
                [this, client] { transport_->Serve(this, client); });
        }
    });
    return true;
}

void AvatarServer::Stop() {
    if (!thread_.joinable()) return;
    closesocket(transport_->listener);
    thread_.join();
    // Every connection ends by itself: its request is read within the read timeout.
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> guard(transport_->lock);
        connections.swap(transport_->connections);
    }
    for (std::thread& connection : connections) connection.join();
}

}  // namespace demo
