// One HTTP transfer of one picture, driven by the engine's multi handle. The body goes to
// a temporary file beside the destination, created at the first byte, and replaces the
// destination only after a complete 200 response within the size limit. Every file of the
// transfer is reached beneath the request's root without following links.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>

#include "Beneath.h"
#include "Request.h"
#include "TempFiles.h"
#include "TransferLock.h"
#include "Validators.h"

namespace nimbrel {

// Limits on what the network may make us do.
inline constexpr curl_off_t kMaxBodyBytes = 8 * 1024 * 1024;
inline constexpr long kMaxRedirects = 3;
inline constexpr long kConnectTimeoutMs = 5 * 1000;
inline constexpr long kTransferTimeoutMs = 30 * 1000;
inline constexpr char kAllowedProtocols[] = "http,https";

class Transfer {
public:
    enum class Start {
        running,  // Handle() is ready for the multi handle
        waiting,  // another process is fetching the picture: poll WaitIsOver()
        refused   // nothing to do; the reason has been logged
    };

    Transfer(Request request, StaleTempSweeper& sweeper);
    ~Transfer();  // abandons the transfer if it has not finished: the temporary file goes
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Opens the picture's directory, takes the picture's transfer lock and configures the
    // easy handle.
    Start Begin();
    // While waiting: true once the other process's transfer has ended, or has run longer
    // than one transfer may; this transfer is then over without a request of its own.
    bool WaitIsOver();
    // Called once curl reports the transfer done: moves the body into place, marks an
    // unchanged picture fresh, or discards everything; then ends the hold on the picture.
    void Finish(CURLcode result);

    CURL* Handle() const { return m_easy; }
    const Request& GetRequest() const { return m_request; }

private:
    bool Prepare();
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    size_t WriteBody(const char* data, size_t length);
    // The stored picture, open for reading: the held descriptor, else one of its own in `own`.
    int OpenStoredPicture(UniqueFd& own) const;
    Validators ResponseValidators() const;
    bool OpenTempFile();
    void DiscardTempFile();
    bool CommitTempFile();
    void MarkDestinationFresh();
    void LogFailure(CURLcode result, long status);
    std::string Name() const { return std::string(NameOf(m_request.relative)); }

    Request m_request;
    StaleTempSweeper& m_sweeper;
    UniqueFd m_directory;  // the picture's directory
    TransferLock m_lock;
    std::chrono::steady_clock::time_point m_waitingSince;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    bool m_conditional = false;  // the stored validators were sent
    UniqueFd m_temp;
    std::string m_tempName;
    std::string m_failure;  // why the body was refused, when it was
    curl_off_t m_bodyBytes = 0;
    char m_error[CURL_ERROR_SIZE] = {};
};

}  // namespace nimbrel
