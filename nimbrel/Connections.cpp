#include "Connections.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "Log.h"
#include "Transfer.h"

namespace nimbrel {
namespace {

constexpr char kIdleBoundVariable[] = "NIMBREL_IDLE_MS";

// Kept connections in all, for every server: enough for one server's full set.
constexpr long kMaxKeptConnections = kMaxConnectionsPerServer;

bool IsCleartext(const std::string& server) {
    return server.compare(0, 7, "http://") == 0;
}

// The ways a request fails when the server speaks the other HTTP version, before any answer:
// to HTTP/1.1 an HTTP/2-only server sends frames, which curl takes for an HTTP/0.9 reply and
// refuses; to a prior-knowledge preface an HTTP/1.1 server answers 400 and closes, which curl
// sees as nothing or as a broken frame.
bool AnsweredInHttp2(CURLcode result) {
    return result == CURLE_UNSUPPORTED_PROTOCOL;
}
bool RefusedHttp2(CURLcode result) {
    return result == CURLE_GOT_NOTHING || result == CURLE_HTTP2 ||
           result == CURLE_WEIRD_SERVER_REPLY || result == CURLE_UNSUPPORTED_PROTOCOL;
}

}  // namespace

std::chrono::milliseconds IdleConnectionBound() {
    static const std::chrono::milliseconds bound = [] {
        const char* value = std::getenv(kIdleBoundVariable);
        if (value == nullptr || *value == '\0') return kIdleConnectionBound;
        char* end = nullptr;
        const long long ms = std::strtoll(value, &end, 10);
        if (*end != '\0' || ms < 0) return kIdleConnectionBound;
        return std::min(kIdleConnectionBound, std::chrono::milliseconds(ms));
    }();
    return bound;
}

CURLM* NewMultiHandle() {
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) return nullptr;
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, long{kMaxConnectionsPerServer});
    curl_multi_setopt(multi, CURLMOPT_MAX_CONCURRENT_STREAMS, long{kMaxStreamsPerServer});
    // Without it curl keeps four connections per transfer still added, so the pool shrinks
    // to a handful as the last transfers of a burst end.
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, kMaxKeptConnections);
    return multi;
}

std::string Servers::KeyOf(const std::string& url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) return url;
    std::string key = url.substr(0, schemeEnd);
    for (char& ch : key) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t hostStart = schemeEnd + 3;
    const size_t hostEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
    std::string host = url.substr(hostStart, hostEnd - hostStart);
    host.erase(0, host.find('@') + 1);  // no user information (npos + 1 is 0)
    for (char& ch : host) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t colon = host.rfind(':');
    const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
    if (!hasPort) host += key == "https" ? ":443" : ":80";
    return key + "://" + host;
}

bool Servers::HasRoom(const std::string& url) const {
    const auto found = m_servers.find(KeyOf(url));
    if (found == m_servers.end()) return true;
    const int limit =
        found->second.version == Version::http2 ? kMaxStreamsPerServer : kMaxConnectionsPerServer;
    return found->second.running < limit;
}

bool Servers::Begin(CURL* easy, const std::string& url) {
    Attempt attempt;
    attempt.server = KeyOf(url);
    const long idleSeconds =
        static_cast<long>(std::chrono::ceil<std::chrono::seconds>(IdleConnectionBound()).count());
    // A connection idle for longer than the bound is closed rather than reused, also while
    // other transfers keep the pool busy.
    if (curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, std::max(idleSeconds, 1L)) != CURLE_OK ||
        !SetVersion(easy, attempt))
        return false;
    ++m_servers[attempt.server].running;
    m_running[easy] = std::move(attempt);
    return true;
}

bool Servers::SetVersion(CURL* easy, Attempt& attempt) {
    Server& server = m_servers[attempt.server];
    attempt.kind = !IsCleartext(attempt.server)       ? Kind::tls
                   : server.version != Version::http2 ? Kind::http1
                   : !server.http2Connection          ? Kind::opener
                                                      : Kind::follower;
    long httpVersion = CURL_HTTP_VERSION_2TLS;  // over TLS the handshake agrees on a version
    switch (attempt.kind) {
        case Kind::http1:
            httpVersion = CURL_HTTP_VERSION_1_1;
            break;
        case Kind::opener:
            httpVersion = CURL_HTTP_VERSION_2_PRIOR_KNOWLEDGE;
            server.http2Connection = true;
            break;
        case Kind::follower:
            httpVersion = CURL_HTTP_VERSION_2_0;
            break;
        case Kind::tls:
            break;
    }
    // Against a server known to multiplex, a transfer waits for the connection being set up
    // rather than opening one of its own.
    const long wait = server.version == Version::http2 ? 1L : 0L;
    return curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, httpVersion) == CURLE_OK &&
           curl_easy_setopt(easy, CURLOPT_PIPEWAIT, wait) == CURLE_OK;
}

bool Servers::SendAgain(CURL* easy, CURLcode result) {
    const auto found = m_running.find(easy);
    if (found == m_running.end()) return false;
    Attempt& attempt = found->second;
    Server& server = m_servers[attempt.server];
    long status = 0;
    long redirects = 0;
    long version = 0;
    curl_off_t elapsedUs = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);
    curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &elapsedUs);

    if (status != 0) {
        // Any answer tells the version the server speaks (over TLS, the one agreed).
        if (version == CURL_HTTP_VERSION_2_0 && server.version == Version::http1)
            server.version = Version::http2;
        return false;
    }
    // A failed HTTP/2 connection is opened anew by the next transfer.
    if (attempt.kind == Kind::opener || attempt.kind == Kind::follower)
        server.http2Connection = false;
    // Only a first attempt at the request's own server is sent again: an answer after a
    // redirect came from another server.
    if (attempt.sentAgain || redirects != 0 || !IsCleartext(attempt.server)) return false;
    if (attempt.kind == Kind::http1 && AnsweredInHttp2(result) &&
        server.version != Version::http1ForGood) {
        if (server.version == Version::http1)
            Log("%s answers in HTTP/2 (%s): speaking HTTP/2 to it from now on",
                attempt.server.c_str(), curl_easy_strerror(result));
        server.version = Version::http2;
    } else if (attempt.kind == Kind::follower && AnsweredInHttp2(result)) {
        // No connection was left to follow: this one went out in HTTP/1.1.
    } else if (attempt.kind == Kind::opener && RefusedHttp2(result)) {
        if (server.version == Version::http2)
            Log("%s refuses HTTP/2 (%s): speaking HTTP/1.1 to it from now on",
                attempt.server.c_str(), curl_easy_strerror(result));
        server.version = Version::http1ForGood;
    } else {
        return false;
    }
    const long leftMs = kTransferTimeoutMs - static_cast<long>(elapsedUs / 1000);
    if (leftMs <= 0) return false;
    attempt.sentAgain = true;
    return curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, leftMs) == CURLE_OK &&
           SetVersion(easy, attempt);
}

void Servers::End(CURL* easy) {
    const auto found = m_running.find(easy);
    if (found == m_running.end()) return;
    --m_servers[found->second.server].running;
    m_running.erase(found);
}

void Servers::ConnectionsClosed() {
    for (auto& entry : m_servers) entry.second.http2Connection = false;
}

}  // namespace nimbrel
