// NginxServer's request log, read the same way whoever started nginx (the class on Linux, the
// Wine scripts beside Wine).
#include <chrono>
#include <sstream>
#include <thread>

#include "NginxServer.h"

namespace nimbrel_test {

std::vector<LoggedRequest> ParseRequestLog(const std::string& text) {
    std::vector<LoggedRequest> requests;
    std::istringstream log(text);
    // nginx writes "-" for a header not sent (and \x22 for a quote, which no test looks at).
    const auto value = [](const std::string& field) { return field == "-" ? "" : field; };
    for (std::string line; std::getline(log, line);) {
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() == 6)
            requests.push_back({fields[0], std::stoi(fields[1]), value(fields[2]), value(fields[3]),
                                std::stol(fields[4]), fields[5]});
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (RequestsFor(path).size() < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace nimbrel_test
