// One HTTP transfer of one picture, driven by the engine's multi handle. The body goes to
// a temporary file beside the destination, created at the first byte, and replaces the
// destination only after a complete 200 response within the size limit.
#pragma once

#include <curl/curl.h>

#include <string>

#include "Request.h"
#include "TempFiles.h"

namespace nimbrel {

// Limits on what the network may make us do.
inline constexpr curl_off_t kMaxBodyBytes = 8 * 1024 * 1024;
inline constexpr long kMaxRedirects = 3;
inline constexpr long kConnectTimeoutMs = 5 * 1000;
inline constexpr long kTransferTimeoutMs = 30 * 1000;
inline constexpr char kAllowedProtocols[] = "http,https";

class Transfer {
public:
    Transfer(Request request, StaleTempSweeper& sweeper);
    ~Transfer();  // abandons the transfer if it has not finished: the temporary file goes
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Creates and configures the easy handle; null when curl refuses the request.
    CURL* Prepare();
    // Called once curl reports the transfer done: moves the body into place, marks an
    // unchanged picture fresh, or discards everything.
    void Finish(CURLcode result);

    CURL* Handle() const { return m_easy; }
    const Request& GetRequest() const { return m_request; }

private:
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    size_t WriteBody(const char* data, size_t length);
    bool OpenTempFile();
    void DiscardTempFile();
    bool CommitTempFile();
    void MarkDestinationFresh();

    Request m_request;
    StaleTempSweeper& m_sweeper;
    CURL* m_easy = nullptr;
    bool m_conditional = false;  // If-Modified-Since was sent
    int m_fd = -1;
    std::string m_tempPath;
    curl_off_t m_bodyBytes = 0;
    char m_error[CURL_ERROR_SIZE] = {};
};

}  // namespace nimbrel
