#include "Transfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "Log.h"

namespace nimbrel {
namespace {

constexpr long kHttpOk = 200;
constexpr long kHttpNotModified = 304;
constexpr char kUserAgent[] = "Nimbrel/1.0";

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

void SyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

Transfer::Transfer(Request request, StaleTempSweeper& sweeper) : m_request(std::move(request)), m_sweeper(sweeper) {}

Transfer::~Transfer() {
    DiscardTempFile();
    if (m_easy != nullptr) curl_easy_cleanup(m_easy);
}

CURL* Transfer::Prepare() {
    m_easy = curl_easy_init();
    if (m_easy == nullptr) return nullptr;
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
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_ERRORBUFFER, m_error) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_PRIVATE, this) == CURLE_OK;

    struct stat info {};
    if (ok && m_request.refresh && ::stat(m_request.destination.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        m_conditional = true;
        ok = curl_easy_setopt(m_easy, CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_IFMODSINCE)) ==
                 CURLE_OK &&
             curl_easy_setopt(m_easy, CURLOPT_TIMEVALUE_LARGE, static_cast<curl_off_t>(info.st_mtime)) == CURLE_OK;
    }
    if (!ok) {
        Log("refused %s", m_request.url.c_str());
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
    return m_easy;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    return static_cast<Transfer*>(self)->WriteBody(data, size * count);
}

size_t Transfer::WriteBody(const char* data, size_t length) {
    // The size limit counts every body byte: CURLOPT_MAXFILESIZE only looks at a declared
    // length, so a stream of unknown length must be stopped here.
    if (static_cast<curl_off_t>(length) > kMaxBodyBytes - m_bodyBytes) {
        Log("body over %lld bytes from %s", static_cast<long long>(kMaxBodyBytes), m_request.url.c_str());
        return 0;
    }
    m_bodyBytes += static_cast<curl_off_t>(length);

    long status = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    if (status != kHttpOk) return length;  // an error page is read and dropped
    if (m_fd < 0 && !OpenTempFile()) return 0;
    return WriteAll(m_fd, data, length) ? length : 0;
}

bool Transfer::OpenTempFile() {
    const std::string directory = DirectoryOf(m_request.destination);
    m_sweeper.BeforeWriting(directory);
    for (int attempt = 0; attempt < 4 && m_fd < 0; ++attempt) {
        m_tempPath = directory + "/" + MakeTempName();
        m_fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    }
    if (m_fd < 0) {
        Log("cannot create a temporary file in %s", directory.c_str());
        m_tempPath.clear();
        return false;
    }
    return true;
}

void Transfer::DiscardTempFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

bool Transfer::CommitTempFile() {
    const bool synced = ::fsync(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (!synced || !closed || ::rename(m_tempPath.c_str(), m_request.destination.c_str()) != 0) {
        DiscardTempFile();
        return false;
    }
    m_tempPath.clear();
    SyncDirectory(DirectoryOf(m_request.destination));
    return true;
}

void Transfer::MarkDestinationFresh() {
    // The real time, as a picture written now would carry: the control judges freshness
    // by the file's modification time, and a new file gets the file system's clock.
    ::utimensat(AT_FDCWD, m_request.destination.c_str(), nullptr, 0);
}

void Transfer::Finish(CURLcode result) {
    long status = 0;
    long conditionUnmet = 0;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(m_easy, CURLINFO_CONDITION_UNMET, &conditionUnmet);

    if (result == CURLE_OK && m_conditional && (status == kHttpNotModified || conditionUnmet != 0)) {
        DiscardTempFile();
        MarkDestinationFresh();
        Log("unchanged %s", m_request.url.c_str());
    } else if (result == CURLE_OK && status == kHttpOk && m_fd >= 0 && CommitTempFile()) {
        Log("stored %s as %s (%lld bytes)", m_request.url.c_str(), m_request.destination.c_str(),
            static_cast<long long>(m_bodyBytes));
    } else {
        // An empty 200 body counts as a failure too: it is no picture, and it must not
        // replace one that works.
        DiscardTempFile();
        Log("failed %s: status %ld, %s", m_request.url.c_str(), status,
            m_error[0] != '\0' ? m_error : curl_easy_strerror(result));
    }
}

}  // namespace nimbrel
