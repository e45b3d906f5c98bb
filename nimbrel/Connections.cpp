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
    const Server& server = found->second;
    if (server.version != Version::http2) return server.running < kMaxConnectionsPerServer;
    return server.connection != Http2Connection::opening && server.running < kMaxStreamsPerServer;
}

bool Servers::Begin(CURL* easy, const std::string& url) {
    Attempt attempt;
    attempt.server = KeyOf(url);
    attempt.started = std::chrono::steady_clock::now();
    const long idleSeconds =
        static_cast<long>(std::chrono::ceil<std::chrono::seconds>(IdleConnectionBound()).count());
    // A connection idle for longer than the bound is closed rather than reused, also while
    // other transfers keep the pool busy.
    if (curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, std::max(idleSeconds, 1L)) != CURLE_OK ||
        !Configure(easy, attempt))
        return false;
    ++m_servers[attempt.server].running;
    m_running[easy] = std::move(attempt);
    return true;
}

bool Servers::Configure(CURL* easy, Attempt& attempt) {
    Server& server = m_servers[attempt.server];
    if (!IsCleartext(attempt.server)) {
        attempt.kind = Kind::tls;
    } else if (server.version != Version::http2) {
        attempt.kind = Kind::http1;
    } else if (server.connection == Http2Connection::none) {
        attempt.kind = Kind::opener;
        server.connection = Http2Connection::opening;
    } else if (server.connection == Http2Connection::open) {
        attempt.kind = Kind::follower;
    } else if (attempt.sentAgain) {
        attempt.kind = Kind::parked;
        server.parked.push_back(easy);
        return true;
    } else {
        attempt.kind = Kind::opener;  // not held back by HasRoom: a connection of its own
    }
    long httpVersion = CURL_HTTP_VERSION_2TLS;  // over TLS the handshake agrees on a version
    if (attempt.kind == Kind::http1) httpVersion = CURL_HTTP_VERSION_1_1;
    if (attempt.kind == Kind::opener) httpVersion = CURL_HTTP_VERSION_2_PRIOR_KNOWLEDGE;
    if (attempt.kind == Kind::follower) httpVersion = CURL_HTTP_VERSION_2_0;
    // Against a server known to multiplex, a transfer waits for a stream on the connection
    // rather than opening one of its own.
    const long wait = server.version == Version::http2 ? 1L : 0L;
    bool ok = curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, httpVersion) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_PIPEWAIT, wait) == CURLE_OK;
    if (ok && attempt.sentAgain) {
        // The time limit covers every attempt together; one already over it ends at once.
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - attempt.started);
        const long leftMs = std::max(1L, kTransferTimeoutMs - static_cast<long>(spent.count()));
        ok = curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, leftMs) == CURLE_OK;
        if (ok) m_ready.push_back(easy);
    }
    return ok;
}

void Servers::Learn(const Attempt& attempt, Server& server, CURLcode result, long status,
                    long version) {
    if (status != 0) {
        // Any answer tells the version the server speaks (over TLS, the one agreed).
        if (version == CURL_HTTP_VERSION_2_0 && server.version == Version::http1)
            server.version = Version::http2;
        if (attempt.kind == Kind::opener) server.connection = Http2Connection::open;
        return;
    }
    // A failed HTTP/2 connection is opened anew by the next transfer.
    if (attempt.kind == Kind::opener || attempt.kind == Kind::follower)
        server.connection = Http2Connection::none;
    if (!IsCleartext(attempt.server)) return;
    if (attempt.kind == Kind::http1 && AnsweredInHttp2(result) &&
        server.version == Version::http1) {
        Log("%s answers in HTTP/2 (%s): speaking HTTP/2 to it from now on", attempt.server.c_str(),
            curl_easy_strerror(result));
        server.version = Version::http2;
    } else if (attempt.kind == Kind::opener && RefusedHttp2(result) &&
               server.version == Version::http2) {
        Log("%s refuses HTTP/2 (%s): speaking HTTP/1.1 to it from now on", attempt.server.c_str(),
            curl_easy_strerror(result));
        server.version = Version::http1ForGood;
    }
}

bool Servers::SendAgain(CURL* easy, CURLcode result) {
    const auto found = m_running.find(easy);
    if (found == m_running.end()) return false;
    Attempt& attempt = found->second;
    Server& server = m_servers[attempt.server];
    long status = 0;
    long redirects = 0;
    long version = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    curl_easy_getinfo(easy, CURLINFO_HTTP_VERSION, &version);
    Learn(attempt, server, result, status, version);
    Resume(server);

    // Only a first attempt at the request's own server that got no answer goes again, and
    // only when the failure says it spoke the wrong version: an HTTP/1.1 request answered in
    // HTTP/2 frames, a prior-knowledge one refused, or a follower whose connection was gone.
    if (status != 0 || attempt.sentAgain || redirects != 0 || !IsCleartext(attempt.server))
        return false;
    const bool wrongVersion =
        (attempt.kind == Kind::http1 && AnsweredInHttp2(result) &&
         server.version == Version::http2) ||
        (attempt.kind == Kind::opener && RefusedHttp2(result)) ||
        (attempt.kind == Kind::follower && (AnsweredInHttp2(result) || result == CURLE_HTTP2));
    if (!wrongVersion) return false;
    attempt.sentAgain = true;
    return Configure(easy, attempt);
}

void Servers::Resume(Server& server) {
    if (server.connection == Http2Connection::opening) return;
    std::vector<CURL*> parked;
    parked.swap(server.parked);
    for (CURL* easy : parked) {
        // Configure parks it again behind a new opener when there is no connection; a
        // handle curl refuses to set up ends at once, on its time limit.
        if (!Configure(easy, m_running[easy])) {
            curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 1L);
            m_ready.push_back(easy);
        }
    }
}

std::vector<CURL*> Servers::TakeReady() {
    std::vector<CURL*> ready;
    ready.swap(m_ready);
    return ready;
}

void Servers::End(CURL* easy) {
    const auto found = m_running.find(easy);
    if (found == m_running.end()) return;
    Server& server = m_servers[found->second.server];
    --server.running;
    server.parked.erase(std::remove(server.parked.begin(), server.parked.end(), easy),
                        server.parked.end());
    m_running.erase(found);
}

void Servers::ConnectionsClosed() {
    for (auto& entry : m_servers) entry.second.connection = Http2Connection::none;
}

}  // namespace nimbrel
