#include "WinHttpTransport.h"

#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "Handles.h"

namespace nimbrel {
namespace {

constexpr wchar_t kUserAgent[] = L"Nimbrel/1.0";
// The picture as stored, byte for byte: WinHTTP decodes nothing unless asked, and a body
// that comes encoded all the same is refused.
constexpr wchar_t kIdentityHeader[] = L"Accept-Encoding: identity\r\n";
constexpr DWORD kReadChunkBytes = 64 * 1024;

struct InternetCloser {
    void operator()(HINTERNET handle) const { ::WinHttpCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;

// One session for the process, so that connections are pooled across transfers; never closed,
// as the library stays loaded to the end of the process.
HINTERNET Session() {
    static HINTERNET session = [] {
        HINTERNET opened = ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
        if (opened != nullptr) {
            // HTTP/2 where the system has it; a system without it simply says no.
            DWORD protocols = WINHTTP_PROTOCOL_FLAG_HTTP2;
            ::WinHttpSetOption(opened, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &protocols,
                               sizeof protocols);
        }
        return opened;
    }();
    return session;
}

std::wstring QueryText(HINTERNET request, DWORD query) {
    DWORD bytes = 0;
    ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                          &bytes, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return L"";
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                               WINHTTP_NO_HEADER_INDEX))
        return L"";
    text.resize(bytes / sizeof(wchar_t));
    return text;
}

std::string Validator(HINTERNET request, DWORD query) {
    const std::string value = NarrowAscii(QueryText(request, query));
    return IsUsableValidator(value) ? value : "";
}

class Deadline {
public:
    explicit Deadline(std::chrono::milliseconds limit)
        : m_end(std::chrono::steady_clock::now() + limit) {}
    // What is left, at least 1 ms (WinHTTP takes 0 for no limit at all).
    int LeftMs() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_end - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(1, left.count()));
    }
    bool Passed() const { return std::chrono::steady_clock::now() >= m_end; }

private:
    std::chrono::steady_clock::time_point m_end;
};

// Every wait of the request ends by the deadline: each is given what is left of it.
// The wait for the response's headers has a limit of its own, which WinHttpSetTimeouts leaves.
bool LimitWaits(HINTERNET request, const Deadline& deadline) {
    const int left = deadline.LeftMs();
    const int connect = std::min<int>(left, kConnectTimeoutMs);
    DWORD response = static_cast<DWORD>(left);
    return ::WinHttpSetTimeouts(request, connect, connect, left, left) &&
           ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response,
                              sizeof response);
}

std::string Failure(DWORD error, const Deadline& deadline) {
    if (error == ERROR_WINHTTP_TIMEOUT || deadline.Passed())
        return "no answer within the time limit (" + ErrorText(error) + ")";
    if (error == ERROR_WINHTTP_REDIRECT_FAILED)
        return "the redirects lead nowhere allowed (" + ErrorText(error) + ")";
    return ErrorText(error);
}

}  // namespace

HttpAnswer HttpGet(const std::string& url, const Validators& conditional, const BodySink& sink) {
    HttpAnswer answer;
    const Deadline deadline(TransferTimeLimit());
    std::wstring wideUrl = Widen(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) {
        answer.failure = "the URL cannot be used: " + ErrorText(::GetLastError());
        return answer;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        answer.failure = "only http and https are spoken";
        return answer;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring target(parts.lpszUrlPath, parts.dwUrlPathLength);
    target.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (target.empty()) target = L"/";

    HINTERNET session = Session();
    if (session == nullptr) {
        answer.failure = "WinHTTP cannot be used: " + ErrorText(::GetLastError());
        return answer;
    }
    const UniqueInternet connection(::WinHttpConnect(session, host.c_str(), parts.nPort, 0));
    const UniqueInternet request(
        connection
            ? ::WinHttpOpenRequest(connection.get(), L"GET", target.c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
            : nullptr);
    DWORD redirects = static_cast<DWORD>(kMaxRedirects);
    // No cookies and no logons: a picture is asked for the same way every time.
    DWORD disabled = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    if (!request || !LimitWaits(request.get(), deadline) ||
        !::WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                            sizeof redirects) ||
        !::WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                            sizeof disabled)) {
        answer.failure = "the request cannot be set up: " + ErrorText(::GetLastError());
        return answer;
    }

    std::wstring headers = kIdentityHeader;
    if (!conditional.etag.empty())
        headers += L"If-None-Match: " + Widen(conditional.etag) + L"\r\n";
    if (!conditional.lastModified.empty())
        headers += L"If-Modified-Since: " + Widen(conditional.lastModified) + L"\r\n";
    if (!::WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !LimitWaits(request.get(), deadline) || !::WinHttpReceiveResponse(request.get(), nullptr)) {
        answer.failure = Failure(::GetLastError(), deadline);
        return answer;
    }

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        answer.failure = "the answer has no status: " + ErrorText(::GetLastError());
        return answer;
    }
    answer.status = static_cast<long>(status);
    answer.validators = {Validator(request.get(), WINHTTP_QUERY_ETAG),
                         Validator(request.get(), WINHTTP_QUERY_LAST_MODIFIED)};
    long long statedLength = -1;
    const std::wstring length = QueryText(request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty()) {
        wchar_t* end = nullptr;
        const long long stated = std::wcstoll(length.c_str(), &end, 10);
        if (*end == L'\0' && stated >= 0) statedLength = stated;
    }
    answer.framed = statedLength >= 0;
    // Anything but a 200 is only looked at; its body is dropped with the request.
    if (status != static_cast<DWORD>(kHttpOk)) return answer;

    const std::string coding =
        NarrowAscii(QueryText(request.get(), WINHTTP_QUERY_CONTENT_ENCODING));
    if (!coding.empty() && _stricmp(coding.c_str(), "identity") != 0) {
        answer.failure = "the body comes encoded (" + coding + "), which is not decoded here";
        return answer;
    }
    if (statedLength > kMaxBodyBytes) {
        answer.failure = "the body is larger than " + std::to_string(kMaxBodyBytes) + " bytes";
        return answer;
    }
    std::vector<char> buffer(kReadChunkBytes);
    long long bodyBytes = 0;
    for (;;) {
        DWORD read = 0;
        if (!LimitWaits(request.get(), deadline) ||
            !::WinHttpReadData(request.get(), buffer.data(), kReadChunkBytes, &read)) {
            answer.failure = Failure(::GetLastError(), deadline);
            return answer;
        }
        if (read == 0) break;
        bodyBytes += read;
        if (!sink(buffer.data(), read)) return answer;  // the sink keeps its reason
        if (deadline.Passed()) {
            answer.failure = "the body did not arrive within the time limit";
            return answer;
        }
    }
    if (statedLength >= 0 && bodyBytes != statedLength) {
        answer.failure = "the body ended after " + std::to_string(bodyBytes) + " of " +
                         std::to_string(statedLength) + " bytes";
    }
    return answer;
}

}  // namespace nimbrel
