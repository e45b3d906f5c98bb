#include "Connections.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string_view>

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
    // curl's own bound on streams per connection: the server's offer is then the one that counts.
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

bool Servers::HasRoom(const std::string& url, std::chrono::steady_clock::time_point now) const {
    const auto found = m_servers.find(KeyOf(url));
    if (found == m_servers.end()) return true;
    const Server& server = found->second;
    switch (server.version) {
        case Version::unknown:
            // A server speaking only HTTP/2 refuses an HTTP/1.1 request at once: one that has
            // kept the probe's request unanswered for its patience is let have the others too.
            // Patience counts from the probe's request, not from its connection's set-up.
            if (server.probe != nullptr &&
                (server.probeSent == std::chrono::steady_clock::time_point{} ||
                 now - server.probeSent < kProbePatience))
                return false;
            break;
        case Version::http2:
            return server.connection != Http2Connection::opening && server.running < server.streams;
        case Version::http1:
        case Version::http1ForGood:
            break;
    }
    return server.running < kMaxConnectionsPerServer;
}

int Servers::RoomAhead(const std::string& url) const {
    const auto found = m_servers.find(KeyOf(url));
    if (found == m_servers.end()) return 0;
    const Server& server = found->second;
    if (server.version == Version::unknown && server.probe != nullptr)
        return std::min(kMaxConnectionsPerServer, server.streams) - server.running;
    if (server.version == Version::http2 && server.connection == Http2Connection::opening)
        return server.streams - server.running;
    return 0;
}

std::optional<std::chrono::milliseconds> Servers::NextPatienceEnd(
    std::chrono::steady_clock::time_point now) const {
    std::optional<std::chrono::milliseconds> next;
    const auto consider = [&](std::chrono::steady_clock::time_point sent) {
        // Waited for only once it has gone out: until then nothing is due.
        if (sent == std::chrono::steady_clock::time_point{}) return;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(sent + kProbePatience - now);
        if (left.count() > 0 && (!next || left < *next)) next = left;
    };
    for (const auto& entry : m_servers) {
        const Server& server = entry.second;
        if (server.version == Version::unknown && server.probe != nullptr)
            consider(server.probeSent);
        if (server.connection == Http2Connection::opening) consider(server.openerSent);
    }
    return next;
}

bool Servers::Begin(CURL* easy, const std::string& url) {
    const long idleSeconds =
        static_cast<long>(std::chrono::ceil<std::chrono::seconds>(IdleConnectionBound()).count());
    // A connection idle for longer than the bound is closed rather than reused, also while
    // other transfers keep the pool busy.
    if (curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, std::max(idleSeconds, 1L)) != CURLE_OK)
        return false;
    // The attempt's address is handed to curl's callbacks: it lives in the map until End().
    Attempt& attempt = m_running[easy];
    attempt.easy = easy;
    attempt.server = KeyOf(url);
    attempt.started = std::chrono::steady_clock::now();
    attempt.owner = this;
    ++m_servers[attempt.server].running;
    const bool ok =
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Servers::OnHeader) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &attempt) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &attempt) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, &attempt) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, &Servers::OnOpenSocket) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &attempt) == CURLE_OK &&
        curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, &Servers::OnSocketOptions) == CURLE_OK &&
        Configure(attempt);
    if (!ok) End(easy);
    return ok;
}

bool Servers::Configure(Attempt& attempt) {
    CURL* easy = attempt.easy;
    Server& server = m_servers[attempt.server];
    attempt.connected = attempt.answered = attempt.answeredHttp2 = false;
    attempt.wantedConnection = attempt.waitsForStream = false;
    if (attempt.spare >= 0) ::close(attempt.spare);
    attempt.spare = -1;
    if (!IsCleartext(attempt.server)) {
        attempt.kind = Kind::tls;
    } else if (server.version == Version::unknown && server.probe == nullptr) {
        attempt.kind = Kind::probe;
        server.probe = easy;
        server.probeSent = {};
    } else if (server.version != Version::http2) {
        attempt.kind = Kind::http1;
    } else if (server.connection == Http2Connection::none) {
        attempt.kind = Kind::opener;
        server.connection = Http2Connection::opening;
        server.openerSent = {};
    } else if (server.connection == Http2Connection::open) {
        attempt.kind = Kind::follower;
    } else if (attempt.sentAgain) {
        Park(attempt, server);
        return true;
    } else {
        attempt.kind = Kind::opener;  // not held back by HasRoom: a connection of its own
    }
    if (attempt.kind == Kind::http1 || attempt.kind == Kind::opener)
        attempt.spare = TakeSpare(server);
    long httpVersion = CURL_HTTP_VERSION_2TLS;  // over TLS the handshake agrees on a version
    if (attempt.kind == Kind::http1 || attempt.kind == Kind::probe)
        httpVersion = CURL_HTTP_VERSION_1_1;
    if (attempt.kind == Kind::opener) httpVersion = CURL_HTTP_VERSION_2_PRIOR_KNOWLEDGE;
    if (attempt.kind == Kind::follower) httpVersion = CURL_HTTP_VERSION_2_0;
    // Against a server known to multiplex, a transfer waits for a stream on the connection
    // rather than opening one of its own.
    const long wait = server.version == Version::http2 ? 1L : 0L;
    const bool tellsConnection = attempt.kind == Kind::opener || attempt.kind == Kind::probe;
    bool ok = curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, httpVersion) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_PIPEWAIT, wait) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT,
                               attempt.kind == Kind::opener ? 1L : 0L) == CURLE_OK &&
              curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION,
                               tellsConnection ? &Servers::OnConnected : nullptr) == CURLE_OK;
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

void Servers::Park(Attempt& attempt, Server& server) {
    attempt.kind = Kind::parked;
    server.parked.push_back(attempt.easy);
}

size_t Servers::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto& attempt = *static_cast<Attempt*>(self);
    const size_t length = size * count;
    // The first status line is the request's own server's, whatever redirects follow.
    if (!attempt.answered) {
        constexpr std::string_view kHttp2 = "HTTP/2";
        attempt.answered = true;
        attempt.answeredHttp2 = std::string_view(data, length).substr(0, kHttp2.size()) == kHttp2;
        attempt.owner->m_told.push_back(attempt.easy);
    }
    return length;
}

int Servers::OnConnected(void* self, char*, char*, int, int) {
    auto& attempt = *static_cast<Attempt*>(self);
    if (!attempt.connected) {
        attempt.connected = true;
        attempt.owner->m_told.push_back(attempt.easy);
    }
    return CURL_PREREQFUNC_OK;
}

curl_socket_t Servers::OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
    auto& attempt = *static_cast<Attempt*>(self);
    Servers& servers = *attempt.owner;
    // A follower never opens a connection: curl would speak HTTP/1.1 on it.
    if (attempt.kind == Kind::follower) {
        attempt.wantedConnection = true;
        return CURL_SOCKET_BAD;
    }
    Server& server = servers.m_servers[attempt.server];
    const std::string bytes(reinterpret_cast<const char*>(&address->addr), address->addrlen);
    if (attempt.kind == Kind::probe && purpose == CURLSOCKTYPE_IPCXN && server.address != bytes) {
        CloseSpares(server, 0);
        server.address = bytes;
        server.family = address->family;
        server.socktype = address->socktype;
        server.protocol = address->protocol;
        servers.m_told.push_back(attempt.easy);  // the others' connections can be made now
    }
    const int spare = attempt.spare;
    attempt.spare = -1;
    if (spare >= 0 && server.address == bytes) {
        servers.m_connectedAhead.insert(spare);
        return spare;
    }
    if (spare >= 0) ::close(spare);
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

int Servers::OnSocketOptions(void* self, curl_socket_t socket, curlsocktype) {
    Servers& servers = *static_cast<Attempt*>(self)->owner;
    return servers.m_connectedAhead.erase(socket) != 0 ? CURL_SOCKOPT_ALREADY_CONNECTED
                                                       : CURL_SOCKOPT_OK;
}

int Servers::TakeSpare(Server& server) {
    while (!server.spare.empty()) {
        const int fd = server.spare.back();
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, 0) == 0) return -1;  // still connecting: a socket of its own
        server.spare.pop_back();
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) return fd;
        ::close(fd);
    }
    return -1;
}

void Servers::CloseSpares(Server& server, size_t keep) {
    while (server.spare.size() > keep) {
        ::close(server.spare.back());
        server.spare.pop_back();
    }
}

void Servers::ConnectAhead(const std::map<std::string, int>& held) {
    for (auto& [key, server] : m_servers) {
        const auto found = held.find(key);
        const int waiting = found == held.end() ? 0 : found->second;
        const bool probing = server.version == Version::unknown && server.probe != nullptr &&
                             !server.address.empty();
        // With the transfers running there, never more than one server's connections; none
        // once it is known to multiplex (its opener took the one it needs).
        const int wanted =
            server.version == Version::http2
                ? 0
                : std::max(0, std::min(waiting, kMaxConnectionsPerServer - server.running));
        CloseSpares(server, static_cast<size_t>(wanted));
        while (probing && static_cast<int>(server.spare.size()) < wanted) {
            const int fd = ::socket(server.family, server.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    server.protocol);
            if (fd < 0) break;
            if (::connect(fd, reinterpret_cast<const sockaddr*>(server.address.data()),
                          static_cast<socklen_t>(server.address.size())) != 0 &&
                errno != EINPROGRESS) {
                ::close(fd);
                break;
            }
            server.spare.push_back(fd);
        }
    }
}

Servers::~Servers() {
    for (auto& entry : m_servers) CloseSpares(entry.second, 0);
    for (auto& entry : m_running) {
        if (entry.second.spare >= 0) ::close(entry.second.spare);
    }
}

bool Servers::Progress() {
    std::vector<CURL*> told;
    told.swap(m_told);
    bool changed = false;
    for (CURL* easy : told) {
        const auto found = m_running.find(easy);
        if (found != m_running.end())
            changed = TakeIn(found->second, m_servers[found->second.server]) || changed;
    }
    // An opener whose answer does not come holds the others back no longer than its patience.
    const auto now = std::chrono::steady_clock::now();
    for (auto& entry : m_servers) {
        Server& server = entry.second;
        if (server.connection == Http2Connection::opening &&
            server.openerSent != std::chrono::steady_clock::time_point{} &&
            now - server.openerSent >= kProbePatience)
            changed = Open(server) || changed;
    }
    return changed;
}

bool Servers::Open(Server& server) {
    // The server's settings came before any answer on the connection: curl now holds the
    // others to the streams the server offers.
    server.connection = Http2Connection::open;
    server.streams = kMaxStreamsPerServer;
    Resume(server);
    return true;
}

bool Servers::TakeIn(Attempt& attempt, Server& server) {
    if ((attempt.kind == Kind::probe || attempt.kind == Kind::http1) &&
        server.version == Version::unknown) {
        if (attempt.answered) {
            server.version = attempt.answeredHttp2 ? Version::http2 : Version::http1;
            server.probe = nullptr;
            return true;
        }
        if (attempt.connected && server.probe == attempt.easy &&
            server.probeSent == std::chrono::steady_clock::time_point{})
            server.probeSent = std::chrono::steady_clock::now();
        // Its address known: the others' connections can be made ahead.
        return !server.address.empty() && server.spare.empty();
    }
    if (attempt.kind == Kind::opener && server.connection == Http2Connection::opening) {
        if (attempt.answered) return Open(server);
        if (attempt.connected && server.openerSent == std::chrono::steady_clock::time_point{})
            server.openerSent = std::chrono::steady_clock::now();
        return false;
    }
    // Over TLS the handshake told: a server answering in HTTP/2 multiplexes.
    if (attempt.kind == Kind::tls && attempt.answered && attempt.answeredHttp2 &&
        server.version != Version::http2) {
        server.version = Version::http2;
        return true;
    }
    return false;
}

void Servers::Learn(Attempt& attempt, Server& server, CURLcode result, long redirects) {
    TakeIn(attempt, server);  // what its callbacks told, if Progress() has not seen it yet
    if (server.probe == attempt.easy) server.probe = nullptr;
    if (attempt.kind == Kind::opener && server.connection == Http2Connection::opening)
        server.connection = Http2Connection::none;  // it never got a connection
    if (attempt.answered || redirects != 0 || !IsCleartext(attempt.server)) return;
    if ((attempt.kind == Kind::probe || attempt.kind == Kind::http1) && AnsweredInHttp2(result) &&
        server.version != Version::http2 && server.version != Version::http1ForGood) {
        Log("%s answers in HTTP/2 (%s): speaking HTTP/2 to it from now on", attempt.server.c_str(),
            curl_easy_strerror(result));
        server.version = Version::http2;
        CloseSpares(server, 1);  // for its opener
    } else if (attempt.kind == Kind::opener && RefusedHttp2(result) &&
               server.version == Version::http2) {
        // The opener had a connection of its own: this is the server's answer to the preface.
        Log("%s refuses HTTP/2 (%s): speaking HTTP/1.1 to it from now on", attempt.server.c_str(),
            curl_easy_strerror(result));
        server.version = Version::http1ForGood;
        server.connection = Http2Connection::none;
    } else if (attempt.kind == Kind::follower && attempt.wantedConnection &&
               server.version == Version::http2 && server.connection == Http2Connection::open) {
        // No room on the connection: at the streams the server offers when others run there,
        // else gone (closed by the server, or failed), to be opened anew.
        // Streams that ended meanwhile may have made room: alone, it tries once more first.
        const int others = server.running - 1 - static_cast<int>(server.parked.size());
        attempt.waitsForStream = others > 0;
        if (others > 0)
            server.streams = std::min(server.streams, others);
        else if (attempt.refusedAlone++ > 0)
            server.connection = Http2Connection::none;
    }
}

bool Servers::SendAgain(CURL* easy, CURLcode result) {
    const auto found = m_running.find(easy);
    if (found == m_running.end()) return false;
    Attempt& attempt = found->second;
    Server& server = m_servers[attempt.server];
    long redirects = 0;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    const Kind kind = attempt.kind;
    Learn(attempt, server, result, redirects);
    Resume(server);

    if (attempt.answered || redirects != 0 || !IsCleartext(attempt.server)) return false;
    // A follower that found no room sent nothing: it waits for a stream while others run on
    // the connection; else it tries again, and then opens the connection anew.
    if (kind == Kind::follower && attempt.wantedConnection) {
        if (server.connection == Http2Connection::open && attempt.waitsForStream) {
            Park(attempt, server);
            return true;
        }
        attempt.sentAgain = true;
        return Configure(attempt);
    }
    // Only a first attempt at the request's own server that got no answer goes again, and
    // only when the failure says it spoke the wrong version: an HTTP/1.1 request answered in
    // HTTP/2 frames, a prior-knowledge one refused, or a follower whose connection broke.
    if (attempt.sentAgain) return false;
    const bool wrongVersion =
        ((kind == Kind::probe || kind == Kind::http1) && AnsweredInHttp2(result) &&
         server.version == Version::http2) ||
        (kind == Kind::opener && RefusedHttp2(result) && server.version == Version::http1ForGood) ||
        (kind == Kind::follower && result == CURLE_HTTP2);
    if (!wrongVersion) return false;
    attempt.sentAgain = true;
    return Configure(attempt);
}

void Servers::Resume(Server& server) {
    if (server.connection == Http2Connection::opening) return;
    // As many as the connection has room for; the rest stay parked. Without a connection the
    // first becomes its opener and the others park again behind it.
    int room = server.streams - (server.running - static_cast<int>(server.parked.size()));
    std::vector<CURL*> parked;
    parked.swap(server.parked);
    for (CURL* easy : parked) {
        Attempt& attempt = m_running[easy];
        if (server.connection == Http2Connection::open && room <= 0) {
            server.parked.push_back(easy);
            continue;
        }
        --room;
        attempt.sentAgain = true;
        // A handle curl refuses to set up ends at once, on its time limit.
        if (!Configure(attempt)) {
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
    // An opener or probe that never ran (curl refused it) leaves nothing waiting for it.
    if (server.probe == easy) server.probe = nullptr;
    if (found->second.kind == Kind::opener && server.connection == Http2Connection::opening)
        server.connection = Http2Connection::none;
    if (found->second.spare >= 0) ::close(found->second.spare);
    --server.running;
    server.parked.erase(std::remove(server.parked.begin(), server.parked.end(), easy),
                        server.parked.end());
    m_ready.erase(std::remove(m_ready.begin(), m_ready.end(), easy), m_ready.end());
    m_running.erase(found);
    Resume(server);
}

void Servers::ConnectionsClosed() {
    for (auto& entry : m_servers) entry.second.connection = Http2Connection::none;
}

}  // namespace nimbrel
