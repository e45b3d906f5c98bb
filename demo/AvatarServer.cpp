#include "AvatarServer.h"

#ifdef _WIN32
#include <iomanip>
#include <sstream>
#endif

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
#ifdef _WIN32
    // The C runtime has no strptime; the C++ library reads the same format.
    std::istringstream in(text);
    in >> std::get_time(&parts, "%a, %d %b %Y %H:%M:%S GMT");
    if (in.fail() || in.peek() != std::char_traits<char>::eof()) return -1;
    return _mkgmtime(&parts);
#else
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    if (end == nullptr || *end != '\0') return -1;
    return timegm(&parts);
#endif
}

void AvatarServer::Serve(const std::string& path, std::string bytes) {
    files_[path] = std::move(bytes);
}

AvatarServer::Reply AvatarServer::Answer(const std::string& path,
                                         const std::string& ifModifiedSince) {
    ++requests_;
    std::this_thread::sleep_for(delay_);
    Reply reply;
    const auto found = files_.find(path);
    if (found == files_.end()) {
        ++notFound_;
        return reply;
    }
    reply.lastModified = HttpDate(modified_);
    // A stored copy at least as new as ours is still good.
    if (!ifModifiedSince.empty() && ParseHttpDate(ifModifiedSince) >= modified_) {
        ++notModified_;
        reply.status = 304;
        return reply;
    }
    ++ok_;
    reply.status = 200;
    reply.body = &found->second;
    return reply;
}

std::string AvatarServer::Address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

AvatarServer::Counts AvatarServer::GetCounts() const {
    return {requests_.load(), ok_.load(), notModified_.load(), notFound_.load()};
}

}  // namespace demo
