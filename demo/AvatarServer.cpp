#include "AvatarServer.h"

#include <httplib.h>

namespace demo {

std::string HttpDate(time_t when) {
    struct tm parts = {};
    gmtime_r(&when, &parts);
    char text[64];
    strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

time_t ParseHttpDate(const std::string& text) {
    struct tm parts = {};
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    if (end == nullptr || *end != '\0') return -1;
    return timegm(&parts);
}

AvatarServer::AvatarServer(std::chrono::milliseconds delay)
    : server_(std::make_unique<httplib::Server>()), delay_(delay), modified_(time(nullptr)) {}

AvatarServer::~AvatarServer() {
    Stop();
}

void AvatarServer::Serve(const std::string& path, std::string bytes) {
    files_[path] = std::move(bytes);
}

bool AvatarServer::Start() {
    server_->Get(
        R"(/c_avatar/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
            ++requests_;
            std::this_thread::sleep_for(delay_);
            const auto found = files_.find(request.matches[1].str());
            if (found == files_.end()) {
                ++notFound_;
                response.status = 404;
                return;
            }
            response.set_header("Last-Modified", HttpDate(modified_));
            // A stored copy at least as new as ours is still good.
            if (request.has_header("If-Modified-Since")) {
                const time_t since = ParseHttpDate(request.get_header_value("If-Modified-Since"));
                if (since >= modified_) {
                    ++notModified_;
                    response.status = 304;
                    return;
                }
            }
            ++ok_;
            response.set_content(found->second, "image/gif");
        });
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) return false;
    // Connections wait in the socket's backlog until the loop runs.
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void AvatarServer::Stop() {
    if (!thread_.joinable()) return;
    server_->stop();
    thread_.join();
}

std::string AvatarServer::Address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

AvatarServer::Counts AvatarServer::GetCounts() const {
    return {requests_.load(), ok_.load(), notModified_.load(), notFound_.load()};
}

}  // namespace demo
