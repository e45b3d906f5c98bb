#include "Transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "Log.h"

namespace nimbrel {
namespace {

constexpr long kHttpOk = 200;
constexpr long kHttpNotModified = 304;
constexpr long kHttpNotFound = 404;
constexpr long kHttpFirstError = 400;
constexpr char kUserAgent[] = "Nimbrel/1.0";
// The picture as stored, byte for byte. A body that comes encoded all the same is decoded by
// curl when it knows the coding (gzip, deflate) and refused when it does not.
constexpr char kIdentityEncoding[] = "identity";

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

std::string ResponseHeader(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    // The last response of the last request: the one after any redirects.
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return "";
    return IsUsableValidator(header->value) ? header->value : "";
}

const char* StatusMeaning(long status) {
    if (status == kHttpNotFound) return "the server has no such picture";
    if (status == kHttpNotModified) return "a 304 although nothing was compared";
    if (status >= kHttpFirstError) return "the server refused";
    return "no picture in the answer";
}

}  // namespace

Transfer::Transfer(Request request, StaleTempSweeper& sweeper)
    : m_request(std::move(request)), m_sweeper(sweeper) {}

Transfer::~Transfer() {
    DiscardTempFile();
    if (m_easy != nullptr) curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

Transfer::Start Transfer::Begin() {
    const UniqueFd root(OpenDirectory(m_request.root));
    if (root)
        m_directory.Reset(
            OpenBeneath(root.Get(), ParentOf(m_request.relative), O_RDONLY | O_DIRECTORY));
    if (!m_directory) {
        LogPicture(m_request,
                   "refused: its directory is missing or reached through a symbolic link (%s)",
                   std::strerror(errno));
        return Start::refused;
    }
    // Looked at before the lock: a transfer that ends between the two still counts as new.
    const StoredState stored = ExamineStored();
    switch (m_lock.TryTake(m_directory.Get(), Name(), m_request.refresh)) {
        case TransferLock::State::busy:
            if (m_request.waited) {
                // Bounded: one wait, then a transfer of its own even beside the other.
                m_lock.Release();
                LogPicture(m_request, "the other process's transfer still runs; fetching anyway");
                break;
            }
            m_waitingSince = std::chrono::steady_clock::now();
            m_storedAtWait = stored;
            LogPicture(m_request,
                       "another process is fetching it; waiting for that transfer instead");
            return Start::waiting;
        case TransferLock::State::unavailable:
            LogPicture(m_request,
                       "no transfer lock in its directory; other processes may fetch it too");
            break;
        case TransferLock::State::taken:
            break;
    }
    if (!Prepare()) {
        LogPicture(m_request, "refused: the transfer cannot be set up");
        return Start::refused;
    }
    LogPicture(m_request, "started%s",
               m_conditional       ? " (a refresh, with the stored validators)"
               : m_request.refresh ? " (a refresh, but no validators are stored: fetching whole)"
                                   : "");
    return Start::running;
}

bool Transfer::WaitIsOver() {
    if (!m_lock.OtherStillRuns()) return true;
    if (std::chrono::steady_clock::now() - m_waitingSince >
        std::chrono::milliseconds(kTransferTimeoutMs)) {
        LogPicture(m_request, "the other process's transfer did not end within %ld s",
                   kTransferTimeoutMs / 1000);
        return true;
    }
    return false;
}

bool Transfer::OtherDelivered() {
    if (!(ExamineStored() == m_storedAtWait)) {
        LogPicture(m_request, "the other process's transfer brought it; no request of its own");
        return true;
    }
    LogPicture(m_request, "the other process's transfer did not bring it: asking for it again");
    m_request.waited = true;
    return false;
}

bool Transfer::StoredState::operator==(const StoredState& other) const {
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return present == other.present && device == other.device && inode == other.inode &&
           same(modified, other.modified) && same(changed, other.changed) && size == other.size;
}

Transfer::StoredState Transfer::ExamineStored() const {
    StoredState state;
    struct stat info {};
    if (::fstatat(m_directory.Get(), Name().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return state;
    state.present = true;
    state.device = info.st_dev;
    state.inode = info.st_ino;
    state.modified = info.st_mtim;
    state.changed = info.st_ctim;
    state.size = info.st_size;
    return state;
}

bool Transfer::Prepare() {
    m_easy = curl_easy_init();
    if (m_easy == nullptr) return false;
    bool ok = curl_easy_setopt(m_easy, CURLOPT_URL, m_request.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, kAllowedProtocols) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_MAXFILESIZE_LARGE, kMaxBodyBytes) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Removing a handle whose name lookup still runs would otherwise wait for the resolver
    // thread, as long as the name server takes: the caller's thread when the last object goes,
    // and every other transfer when a lookup times out. The lookup is left to end on its own.
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_ACCEPT_ENCODING, kIdentityEncoding) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_error) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this) == CURLE_OK;

    // A refresh compares with what the server said of the stored copy, never with the copy's
    // local time: that only says when it was fetched. Without validators it fetches whole.
    if (ok && m_request.refresh) {
        UniqueFd own;
        const int stored = OpenStoredPicture(own);
        const Validators validators = stored >= 0 ? ReadValidators(stored) : Validators{};
        if (!validators.etag.empty())
            m_headers = curl_slist_append(m_headers, ("If-None-Match: " + validators.etag).c_str());
        if (!validators.lastModified.empty()) {
            m_headers = curl_slist_append(
                m_headers, ("If-Modified-Since: " + validators.lastModified).c_str());
        }
        m_conditional = m_headers != nullptr;
        ok = curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers) == CURLE_OK;
    }
    if (!ok) {
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
    return ok;
}

int Transfer::OpenStoredPicture(UniqueFd& own) const {
    if (m_request.hold) return m_request.hold.Fd();
    own.Reset(OpenBeneath(m_directory.Get(), Name(), O_RDONLY | O_NOCTTY | O_NONBLOCK));
    struct stat info {};
    if (own && (::fstat(own.Get(), &info) != 0 || !S_ISREG(info.st_mode))) own.Reset();
    return own.Get();
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->WriteBody(data, size * count);
}

size_t Transfer::WriteBody(const char* data, size_t length) {
    // The size limit counts every body byte: CURLOPT_MAXFILESIZE only looks at a declared
    // length, so a stream of unknown length must be stopped here.
    if (static_cast<curl_off_t>(length) > kMaxBodyBytes - m_bodyBytes) {
        m_failure = "the body is larger than " + std::to_string(kMaxBodyBytes) + " bytes";
        return 0;
    }
    m_bodyBytes += static_cast<curl_off_t>(length);

    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != kHttpOk) return length;  // an error page is read and dropped
    if (!m_temp && !OpenTempFile()) return 0;
    m_shape.Add(std::string_view(data, length));
    if (WriteAll(m_temp.Get(), data, length)) return length;
    m_failure = std::string("the body cannot be written: ") + std::strerror(errno);
    return 0;
}

Validators Transfer::ResponseValidators() const {
    return {ResponseHeader(m_easy, "ETag"), ResponseHeader(m_easy, "Last-Modified")};
}

bool Transfer::OpenTempFile() {
    m_sweeper.BeforeWriting(m_request.root + "/" + std::string(ParentOf(m_request.relative)),
                            m_directory.Get());
    for (int attempt = 0; attempt < 4 && !m_temp; ++attempt) {
        m_tempName = MakeTempName();
        m_temp.Reset(::openat(m_directory.Get(), m_tempName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    }
    if (!m_temp) {
        m_failure =
            std::string("no temporary file can be created beside it: ") + std::strerror(errno);
        m_tempName.clear();
        return false;
    }
    return true;
}

void Transfer::DiscardTempFile() {
    m_temp.Reset();
    if (!m_tempName.empty()) {
        ::unlinkat(m_directory.Get(), m_tempName.c_str(), 0);
        m_tempName.clear();
    }
}

bool Transfer::IsAPicture() {
    // curl checks a framed body's end itself and fails a transfer whose body was cut short.
    curl_off_t stated = -1;
    long version = 0;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &stated);
    curl_easy_getinfo(m_easy, CURLINFO_HTTP_VERSION, &version);
    curl_header* coding = nullptr;
    std::string codings;
    if (curl_easy_header(m_easy, "Transfer-Encoding", 0, CURLH_HEADER, -1, &coding) == CURLHE_OK)
        codings = coding->value;
    for (char& ch : codings) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const bool chunked = codings.find("chunked") != std::string::npos;
    const bool framed = stated >= 0 || chunked || version >= CURL_HTTP_VERSION_2_0;
    m_failure = m_shape.WhyNotAPicture(framed);
    return m_failure.empty();
}

bool Transfer::SyncTempFile() {
    // The validators travel with the new file, so that no process ever sees the picture of
    // one answer with the validators of another.
    const Validators validators = ResponseValidators();
    if (!validators.Empty() && !WriteValidators(m_temp.Get(), validators)) {
        LogPicture(m_request,
                   "its validators cannot be kept (%s): the next refresh fetches it whole",
                   std::strerror(errno));
    }
    const bool synced = ::fsync(m_temp.Get()) == 0;
    const bool closed = ::close(m_temp.Release()) == 0;
    if (!synced || !closed) {
        m_failure = std::string("the body cannot be moved into place: ") + std::strerror(errno);
        DiscardTempFile();
        return false;
    }
    return true;
}

std::string Transfer::MarkDestinationFresh() {
    UniqueFd own;
    const int stored = OpenStoredPicture(own);
    if (stored < 0) return std::string("it cannot be opened: ") + std::strerror(errno);
    // The real time, as a picture written now would carry: the control judges freshness by
    // the file's modification time, and a new file gets the file system's clock.
    const std::string why = ::futimens(stored, nullptr) == 0
                                ? ""
                                : std::string("its time cannot be reset: ") + std::strerror(errno);
    // A 304 may bring validators that differ from the stored ones (a new ETag for the same
    // bytes, say); those it brings replace them.
    Validators validators = ReadValidators(stored);
    const Validators answered = ResponseValidators();
    if (answered.Empty()) return why;
    if (!answered.etag.empty()) validators.etag = answered.etag;
    if (!answered.lastModified.empty()) validators.lastModified = answered.lastModified;
    WriteValidators(stored, validators);
    return why;
}

void Transfer::Finish(CURLcode result) {
    Conclude(result);
    const bool renamed = PutInPlace();
    End();
    if (renamed) ::fsync(m_directory.Get());
}

void Transfer::Conclude(CURLcode result) {
    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);

    if (result == CURLE_OK && status == kHttpNotModified && m_conditional) {
        DiscardTempFile();
        const std::string notFresh = MarkDestinationFresh();
        if (notFresh.empty()) {
            LogPicture(
                m_request,
                "unchanged, status 304: the stored picture is kept and counts as fetched now");
        } else {
            LogPicture(m_request,
                       "unchanged, status 304: the stored picture is kept, but %s; it stays stale",
                       notFresh.c_str());
        }
    } else if (result == CURLE_OK && status == kHttpOk && m_temp && IsAPicture() &&
               SyncTempFile()) {
        m_toPutInPlace = true;
    } else {
        // An empty 200 body counts as a failure too: it is no picture, and it must not
        // replace one that works.
        DiscardTempFile();
        LogFailure(result, status);
    }
}

bool Transfer::PutInPlace() {
    if (!m_toPutInPlace) return false;
    m_toPutInPlace = false;
    if (::renameat(m_directory.Get(), m_tempName.c_str(), m_directory.Get(), Name().c_str()) != 0) {
        m_failure = std::string("the body cannot be moved into place: ") + std::strerror(errno);
        DiscardTempFile();
        LogFailure(CURLE_OK, kHttpOk);
        return false;
    }
    m_tempName.clear();
    LogPicture(m_request, "stored, status 200, %lld bytes", static_cast<long long>(m_bodyBytes));
    return true;
}

void Transfer::End() {
    // Only now that the picture is in place (or left as it was) may the control see it.
    m_lock.Release();
    m_request.hold.Release();
}

void Transfer::LogFailure(CURLcode result, long status) {
    std::string why;
    if (!m_failure.empty()) {
        why = m_failure;
    } else if (result != CURLE_OK) {
        why = m_error[0] != '\0' ? m_error : curl_easy_strerror(result);
    } else if (status == kHttpOk) {
        why = "the body is empty";
    } else {
        why = StatusMeaning(status);
    }
    if (status != 0) {
        LogPicture(m_request, "failed, status %ld: %s; a stored picture stays as it was", status,
                   why.c_str());
    } else {
        LogPicture(m_request, "failed, no answer: %s; a stored picture stays as it was",
                   why.c_str());
    }
}

}  // namespace nimbrel
