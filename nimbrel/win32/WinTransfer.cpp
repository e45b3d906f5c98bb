#include "WinTransfer.h"

#include <chrono>
#include <thread>

#include "Files.h"
#include "Log.h"
#include "PictureCheck.h"
#include "WinHttpTransport.h"

namespace nimbrel {
namespace {

constexpr DWORD kHttpOk = 200;
constexpr DWORD kHttpNotModified = 304;
constexpr DWORD kHttpNotFound = 404;
constexpr DWORD kHttpFirstError = 400;
// How often a transfer waiting for another process's looks whether it has ended.
constexpr auto kWaitingPoll = std::chrono::milliseconds(50);

const char* StatusMeaning(DWORD status) {
    if (status == kHttpNotFound) return "the server has no such picture";
    if (status == kHttpNotModified) return "a 304 although nothing was compared";
    if (status >= kHttpFirstError) return "the server refused";
    return "no picture in the answer";
}

class WinTransfer {
public:
    explicit WinTransfer(Request& request) : m_request(request), m_temp(m_directory) {}

    // False when the other process's transfer brought the picture or nothing is to be done.
    bool Begin();
    void Run(const std::function<void()>& placing);

private:
    enum class Wait { delivered, again };
    Wait WaitForOther(const PictureDirectory::StoredState& stored);
    bool WriteBody(const char* data, size_t length);
    bool Commit(const Validators& validators);
    std::string MarkDestinationFresh(const Validators& answered);
    void LogFailure(const HttpAnswer& answer);
    std::string Name() const { return std::string(NamePart(m_request.relative)); }

    Request& m_request;
    PictureDirectory m_directory;
    TransferLock m_lock;
    TempFile m_temp;
    BodyShape m_shape;
    ContentDigest m_digest;  // of a 200 body
    bool m_conditional = false;
    std::string m_failure;  // why the body was refused, when it was
};

bool WinTransfer::Begin() {
    for (;;) {
        std::string why;
        if (!m_directory.Open(m_request.root, DirectoryPart(m_request.relative), &why)) {
            LogPicture(m_request, "refused: %s", why.c_str());
            return false;
        }
        // Looked at before the lock: a transfer that ends between the two still counts as new.
        const PictureDirectory::StoredState stored = m_directory.Examine(Name());
        switch (m_lock.TryTake(m_directory, Name(), m_request.refresh)) {
            case TransferLock::State::busy:
                if (m_request.waited) {
                    m_lock.Release();
                    LogPicture(m_request,
                               "the other process's transfer still runs; fetching anyway");
                    return true;
                }
                LogPicture(m_request,
                           "another process is fetching it; waiting for that transfer instead");
                if (WaitForOther(stored) == Wait::delivered) return false;
                continue;
            case TransferLock::State::unavailable:
                LogPicture(m_request,
                           "no transfer lock in its directory; other processes may fetch it too");
                return true;
            case TransferLock::State::taken:
                return true;
        }
    }
}

WinTransfer::Wait WinTransfer::WaitForOther(const PictureDirectory::StoredState& stored) {
    const auto since = std::chrono::steady_clock::now();
    while (m_lock.OtherStillRuns()) {
        if (std::chrono::steady_clock::now() - since > TransferTimeLimit()) {
            LogPicture(m_request, "the other process's transfer did not end within %ld s",
                       static_cast<long>(kTransferTimeoutMs / 1000));
            break;
        }
        std::this_thread::sleep_for(kWaitingPoll);
    }
    m_lock.Release();
    if (!(m_directory.Examine(Name()) == stored)) {
        LogPicture(m_request, "the other process's transfer brought it; no request of its own");
        return Wait::delivered;
    }
    LogPicture(m_request, "the other process's transfer did not bring it: asking for it again");
    m_request.waited = true;
    return Wait::again;
}

bool WinTransfer::WriteBody(const char* data, size_t length) {
    if (!m_temp && !m_temp.Create(&m_failure)) return false;
    m_shape.Add(std::string_view(data, length));
    m_digest.Add(std::string_view(data, length));
    if (m_temp.Write(data, length)) return true;
    m_failure = "the body cannot be written: " + ErrorText(::GetLastError());
    return false;
}

bool WinTransfer::Commit(const Validators& validators) {
    // The validators go first, bound to the new bytes: until the picture is in place they
    // count for nothing, and a process that ends before it leaves them counting for nothing.
    if (!m_directory.WriteValidators(Name(), validators, m_digest.Text())) {
        LogPicture(m_request,
                   "its validators cannot be kept (%s): the next refresh fetches it whole",
                   ErrorText(::GetLastError()).c_str());
    }
    // Windows replaces no file that is open, the hold included: it ends here, and a reader
    // that opens the old picture now delays the replace until it lets go.
    m_request.hold.Release();
    if (!m_temp.PlaceAs(Name())) {
        m_failure = "the body cannot be moved into place: " + ErrorText(::GetLastError());
        return false;
    }
    return true;
}

std::string WinTransfer::MarkDestinationFresh(const Validators& answered) {
    UniqueHandle own;
    HANDLE stored = m_request.hold.Handle();
    if (!m_request.hold) {
        own = m_directory.OpenFile(Name(), FILE_WRITE_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   OPEN_EXISTING);
        if (!own) return "it cannot be opened: " + ErrorText(::GetLastError());
        stored = own.Get();
    }
    const std::string why =
        MarkFresh(stored) ? "" : "its time cannot be reset: " + ErrorText(::GetLastError());
    // A 304 may bring validators that differ from the stored ones; those it brings replace them.
    if (answered.Empty()) return why;
    Validators validators = m_directory.ReadValidators(Name());
    if (!answered.etag.empty()) validators.etag = answered.etag;
    if (!answered.lastModified.empty()) validators.lastModified = answered.lastModified;
    m_directory.WriteValidators(Name(), validators, m_directory.DigestOf(Name()));
    return why;
}

void WinTransfer::Run(const std::function<void()>& placing) {
    // A refresh compares with what the server said of the stored copy, never with the copy's
    // local time. Without validators it fetches whole.
    Validators conditional;
    if (m_request.refresh && m_directory.Examine(Name()).present)
        conditional = m_directory.ReadValidators(Name());
    m_conditional = !conditional.Empty();
    LogPicture(m_request, "started%s",
               m_conditional       ? " (a refresh, with the stored validators)"
               : m_request.refresh ? " (a refresh, but no validators are stored: fetching whole)"
                                   : "");
    const HttpAnswer answer =
        HttpGet(m_request.url, conditional,
                [this](const char* data, size_t length) { return WriteBody(data, length); });
    placing();
    const bool complete = answer.failure.empty() && m_failure.empty();
    if (complete && answer.status == kHttpNotModified && m_conditional) {
        m_temp.Discard();
        const std::string notFresh = MarkDestinationFresh(answer.validators);
        if (notFresh.empty()) {
            LogPicture(
                m_request,
                "unchanged, status 304: the stored picture is kept and counts as fetched now");
        } else {
            LogPicture(m_request,
                       "unchanged, status 304: the stored picture is kept, but %s; it stays stale",
                       notFresh.c_str());
        }
    } else if (complete && answer.status == kHttpOk && m_temp &&
               (m_failure = m_shape.WhyNotAPicture(answer.statedLength >= 0)).empty() &&
               Commit(answer.validators)) {
        LogPicture(m_request, "stored, status 200, %lld bytes", answer.bodyBytes);
    } else {
        m_temp.Discard();
        LogFailure(answer);
    }
    m_lock.Release();
    m_request.hold.Release();
}

void WinTransfer::LogFailure(const HttpAnswer& answer) {
    std::string why = !m_failure.empty()         ? m_failure
                      : !answer.failure.empty()  ? answer.failure
                      : answer.status == kHttpOk ? "the body is empty"
                                                 : StatusMeaning(answer.status);
    if (answer.status != 0) {
        LogPicture(m_request, "failed, status %lu: %s; a stored picture stays as it was",
                   static_cast<unsigned long>(answer.status), why.c_str());
    } else {
        LogPicture(m_request, "failed, no answer: %s; a stored picture stays as it was",
                   why.c_str());
    }
}

}  // namespace

void RunTransfer(Request& request, const std::function<void()>& placing) {
    WinTransfer transfer(request);
    if (transfer.Begin()) {
        transfer.Run(placing);
    } else {
        placing();
    }
    request.hold.Release();
}

}  // namespace nimbrel
