// nimbrel_test::NginxServer built for Windows: the nginx that the script started on 127.0.0.1
// beside Wine (scripts/loopback_nginx.sh), configured as the Linux class configures its own,
// found through the environment:
//   NIMBREL_TEST_SERVER   "127.0.0.1:<port>"
//   NIMBREL_TEST_DOCROOT  the folder served as /c_avatar/, as a Windows path
//   NIMBREL_TEST_LOG      nginx's request log, in the Linux class's format
// A new server starts with an empty document root and an empty request log, as a fresh nginx
// would; the script stops nginx. HTTP/2 is not offered.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "NginxServer.h"
#include "file_seams.h"

namespace nimbrel_test {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

NginxServer::NginxServer(bool http2, int) {
    const std::string address = Env("NIMBREL_TEST_SERVER");
    m_directory = Env("NIMBREL_TEST_DOCROOT");
    if (http2 || address.empty() || m_directory.empty() || Env("NIMBREL_TEST_LOG").empty()) {
        m_startError = http2
                           ? "no HTTP/2 server beside Wine"
                           : "NIMBREL_TEST_SERVER, NIMBREL_TEST_DOCROOT or NIMBREL_TEST_LOG unset";
        return;
    }
    m_port = std::atoi(address.substr(address.find(':') + 1).c_str());
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(m_directory, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
    // nginx appends to its log: emptied here, it goes on at the new end.
    std::ofstream(Env("NIMBREL_TEST_LOG"), std::ios::trunc);
    m_child = 1;  // running: the script's
}

NginxServer::~NginxServer() = default;

void NginxServer::Put(const std::string& path, const std::string& bytes,
                      std::time_t modified) const {
    const std::filesystem::path file = m_directory / path;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    if (modified != 0) portrix_test::SetLastWriteTime(file.string(), modified);
}

std::vector<LoggedRequest> NginxServer::Requests() const {
    std::ifstream log(Env("NIMBREL_TEST_LOG"));
    std::stringstream text;
    text << log.rdbuf();
    return ParseRequestLog(text.str());
}

}  // namespace nimbrel_test
