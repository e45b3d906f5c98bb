// One HTTP transfer of one picture, driven by the engine's multi handle. The body goes to
// a temporary file beside the destination, created at the first byte, and replaces the
// destination only after a complete 200 response within the size limit that holds a picture. Every
// file of the transfer is reached beneath the request's root without following links.
#pragma once

#include <curl/curl.h>

#include <sys/stat.h>

#include <chrono>
#include <string>

#include "Beneath.h"
#include "PictureCheck.h"
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
    // than one transfer may; OtherDelivered() then tells whether this one is over.
    bool WaitIsOver();
    // After the wait: true when the other transfer brought the picture (it differs from what
    // was stored when the wait began); else this transfer's request is to be asked again.
    bool OtherDelivered();
    Request TakeRequest() { return std::move(m_request); }
    // Called once curl reports the transfer done: moves the body into place, marks an
    // unchanged picture fresh, or discards everything; then ends the hold on the picture.
    void Finish(CURLcode result);
    // Finish() in three steps, so that many transfers' bodies can wait for the disk together:
    // Conclude() judges the answer and makes a body to be kept durable (it may run beside other
    // transfers' Conclude()); PutInPlace() then renames the body over the picture, true when the
    // picture's directory is to be synced (DirectoryFd(), before the transfer goes, for the new
    // name to last); End() lets the control see the picture. After a crash the picture is the
    // old one or the whole new one.
    void Conclude(CURLcode result);
    bool PutInPlace();
    void End();
    int DirectoryFd() const { return m_directory.Get(); }

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
    bool IsAPicture();
    // Writes the validators beside the body and syncs and closes it; false when it cannot.
    bool SyncTempFile();
    // Empty on success, else why the picture does not count as fetched now.
    std::string MarkDestinationFresh();
    // What tells the stored picture apart from another put in its place or touched since.
    struct StoredState {
        bool present = false;
        dev_t device = 0;
        ino_t inode = 0;
        timespec modified{}, changed{};
        off_t size = 0;
        bool operator==(const StoredState& other) const;
    };
    StoredState ExamineStored() const;
    void LogFailure(CURLcode result, long status);
    std::string Name() const { return std::string(NameOf(m_request.relative)); }

    Request m_request;
    StaleTempSweeper& m_sweeper;
    UniqueFd m_directory;  // the picture's directory
    TransferLock m_lock;
    std::chrono::steady_clock::time_point m_waitingSince;
    StoredState m_storedAtWait;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    bool m_conditional = false;  // the stored validators were sent
    UniqueFd m_temp;
    std::string m_tempName;
    std::string m_failure;  // why the body was refused, when it was
    curl_off_t m_bodyBytes = 0;
    BodyShape m_shape;            // of a 200 body
    bool m_toPutInPlace = false;  // concluded with a synced body that replaces the picture
    char m_error[CURL_ERROR_SIZE] = {};
};

}  // namespace nimbrel
