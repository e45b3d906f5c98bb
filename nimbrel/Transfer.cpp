#include "Transfer.h"

#include <cctype>

#include "Log.h"

namespace nimbrel {
namespace {

constexpr char kUserAgent[] = "Nimbrel/1.0";
// The picture as stored, byte for byte. A body that comes encoded all the same is decoded by
// curl when it knows the coding (gzip, deflate) and refused when it does not.
constexpr char kIdentityEncoding[] = "identity";

std::string ResponseHeader(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    // The last response of the last request: the one after any redirects.
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return "";
    return header->value;
}

std::string UsableValidator(CURL* easy, const char* name) {
    const std::string value = ResponseHeader(easy, name);
    return IsUsableValidator(value) ? value : "";
}

}  // namespace

Transfer::Transfer(Request request, StaleTempSweeper& sweeper)
    : m_store(std::move(request), sweeper) {}

Transfer::~Transfer() {
    if (m_easy != nullptr) curl_easy_cleanup(m_easy);
    curl_slist_free_all(m_headers);
}

Transfer::Start Transfer::Begin() {
    const Start start = m_store.Begin();
    if (start != Start::running) return start;
    if (!Prepare()) {
        LogPicture(GetRequest(), "refused: the transfer cannot be set up");
        return Start::refused;
    }
    m_store.LogStarted();
    return Start::running;
}

bool Transfer::Prepare() {
    m_easy = curl_easy_init();
    if (m_easy == nullptr) return false;
    const long timeoutMs = static_cast<long>(TransferTimeLimit().count());
    bool ok = curl_easy_setopt(m_easy, CURLOPT_URL, GetRequest().url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, kAllowedProtocols) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_TIMEOUT_MS, timeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(m_easy, CURLOPT_MAXFILESIZE_LARGE,
                                static_cast<curl_off_t>(kMaxBodyBytes)) == CURLE_OK;
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

    const Validators& conditional = m_store.Conditional();
    if (!conditional.etag.empty())
        m_headers = curl_slist_append(m_headers, ("If-None-Match: " + conditional.etag).c_str());
    if (!conditional.lastModified.empty()) {
        m_headers = curl_slist_append(m_headers,
                                      ("If-Modified-Since: " + conditional.lastModified).c_str());
    }
    if (ok && m_headers != nullptr)
        ok = curl_easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers) == CURLE_OK;
    if (!ok) {
        curl_easy_cleanup(m_easy);
        m_easy = nullptr;
    }
    return ok;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
    // CURLOPT_MAXFILESIZE only looks at a declared length: the store counts every byte.
    auto* transfer = static_cast<Transfer*>(self);
    long status = 0;
    curl_easy_getinfo(transfer->m_easy, CURLINFO_RESPONSE_CODE, &status);
    return transfer->m_store.Body(data, size * count, status == kHttpOk) ? size * count : 0;
}

HttpAnswer Transfer::Answer(CURLcode result) const {
    HttpAnswer answer;
    curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &answer.status);
    if (result != CURLE_OK)
        answer.failure = m_error[0] != '\0' ? m_error : curl_easy_strerror(result);
    answer.validators = {UsableValidator(m_easy, "ETag"), UsableValidator(m_easy, "Last-Modified")};
    // curl checks a framed body's end itself and fails a transfer whose body was cut short.
    curl_off_t stated = -1;
    long version = 0;
    curl_easy_getinfo(m_easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &stated);
    curl_easy_getinfo(m_easy, CURLINFO_HTTP_VERSION, &version);
    std::string codings = ResponseHeader(m_easy, "Transfer-Encoding");
    for (char& ch : codings) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    answer.framed = stated >= 0 || codings.find("chunked") != std::string::npos ||
                    version >= CURL_HTTP_VERSION_2_0;
    return answer;
}

}  // namespace nimbrel
