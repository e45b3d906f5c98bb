// The embedded avatar server's connections on Linux: cpp-httplib's server.
#include <httplib.h>

#include "AvatarServer.h"

namespace demo {

struct AvatarServer::Transport {
    httplib::Server server;
};

AvatarServer::AvatarServer(std::chrono::milliseconds delay)
    : transport_(std::make_unique<Transport>()), delay_(delay), modified_(time(nullptr)) {}

AvatarServer::~AvatarServer() {
    Stop();
}

bool AvatarServer::Start() {
    httplib::Server& server = transport_->server;
    server.Get(R"(/c_avatar/(.+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                   const std::string since = request.has_header("If-Modified-Since")
                                                 ? request.get_header_value("If-Modified-Since")
                                                 : std::string();
                   const Reply reply = Answer(request.matches[1].str(), since);
                   response.status = reply.status;
                   if (!reply.lastModified.empty())
                       response.set_header("Last-Modified", reply.lastModified);
                   if (reply.body != nullptr) response.set_content(*reply.body, "image/gif");
               });
    port_ = server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    // Connections wait in the socket's backlog until the loop runs.
    thread_ = std::thread([this] { transport_->server.listen_after_bind(); });
    return true;
}

void AvatarServer::Stop() {
    if (!thread_.joinable()) return;
    transport_->server.stop();
    thread_.join();
}

}  // namespace demo
