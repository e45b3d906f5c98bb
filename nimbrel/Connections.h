// How transfers use connections: the multi handle's pool of kept connections, how many
// transfers may run against one server at once, and which HTTP version each one speaks.
//
// Idle connections are kept for reuse, and closed once the host has asked for nothing for
// kIdleConnectionBound (NIMBREL_IDLE_MS in the environment may shorten it, never lengthen it).
//
// What a cleartext server speaks is found out by one request in HTTP/1.1, which every server
// answers (the probe); the server's other requests wait for the probe's first answer, so that a
// server speaking only HTTP/2 (nginx's `listen ... http2` without TLS) hears one HTTP/1.1 request,
// not one per picture. Such a server refuses an HTTP/1.1 request at once: a probe that has had
// no answer for kProbePatience after it was sent no longer holds the others back, and they go in
// HTTP/1.1 too. A server that answers in
// HTTP/1.1 then gets up to kMaxConnectionsPerServer connections; one that answers an HTTP/1.1
// request with HTTP/2 frames gets that request again with prior knowledge, on a connection of its
// own (the opener), and every later request as a stream on that connection (a follower) as soon
// as the opener's answer begins (by then curl knows how many streams the server offers), or
// kProbePatience after the opener's request went when no answer comes. A server that refuses a
// prior-knowledge opener without any answer goes back to HTTP/1.1 for the rest of the process. So
// a server that speaks only HTTP/1.1 never receives anything but HTTP/1.1, and no request is sent
// twice unless its first answer was plainly of the other protocol. Only a request's own server
// is learned from: never the target of a redirect. Over TLS the version is agreed in the
// handshake.
//
// curl before 8.0 fails a prior-knowledge request on a connection it reuses ("Error in the HTTP2
// framing layer"), so an opener always opens a connection of its own, and followers ask for plain
// HTTP/2 and never open one: a follower that finds no room on the server's connection (closed,
// or at the number of streams the server offers) waits for a stream, or becomes the next opener.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace nimbrel {

// Kept idle connections are closed this long after the last transfer ended, and never reused
// once idle for longer: about what browsers keep, well under nginx's 75 s keep-alive.
inline constexpr std::chrono::milliseconds kIdleConnectionBound{60 * 1000};
// Transfers at once against one server speaking HTTP/1.1, one connection each: 200 pictures
// then take 7 round trips instead of 25, and 32 connections stay far below what a server is
// set up for (nginx's default worker_connections is 512 per worker process).
inline constexpr int kMaxConnectionsPerServer = 32;
// Transfers at once against one server speaking HTTP/2, all on one connection, when the server
// offers as many streams (nginx offers 128); fewer when it offers fewer.
inline constexpr int kMaxStreamsPerServer = 128;
// Transfers at once in all, whatever the servers: each holds up to four descriptors (its
// directory, lock, temporary file and socket; a stream of HTTP/2 shares its socket), which must
// leave the host most of its own.
inline constexpr size_t kMaxActiveTransfers = kMaxStreamsPerServer;
// How long a probe's request may go unanswered before the others go in HTTP/1.1 too, and an
// opener's before the others go on its connection all the same.
inline constexpr std::chrono::milliseconds kProbePatience{1000};

// The idle bound in effect for this process.
std::chrono::milliseconds IdleConnectionBound();

// A multi handle set up for the limits above, or null.
CURLM* NewMultiHandle();

// What the engine knows of each server for the life of the process, and of each transfer
// running against one. Worker thread only.
class Servers {
public:
    // "scheme://host:port" of a URL, the unit of the limits above; the URL itself when it
    // cannot be parsed.
    static std::string KeyOf(const std::string& url);

    // Whether another transfer may start against the URL's server: below its limit, not while
    // a probe finds out what the server speaks, nor while the HTTP/2 connection it would share
    // is being opened.
    bool HasRoom(const std::string& url, std::chrono::steady_clock::time_point now) const;
    // How many of the URL's requests may be set up ahead while its server holds them back only
    // until a first answer comes (the probe's, or that of the opener of its HTTP/2 connection):
    // as many as the answer will let go at once, whatever it says; none otherwise.
    int RoomAhead(const std::string& url) const;
    // Sets the transfer's HTTP version and connection options for its server and counts it
    // as running there; false when curl refuses an option.
    bool Begin(CURL* easy, const std::string& url);
    // After curl reports the transfer done and it has left the multi handle: true when it
    // failed only because the server speaks the other HTTP version, or is a follower that found
    // no room on the server's connection (nothing was sent). It then goes again, within what is
    // left of its time limit, as soon as TakeReady() hands it back (at once, or once the
    // connection it is to share is open or has room). Otherwise call End().
    bool SendAgain(CURL* easy, CURLcode result);
    // After curl has run: takes in what running transfers told of their servers (a first answer,
    // an opener's connection made); true when transfers may start or go on.
    bool Progress();
    // Transfers set up to go again, for the multi handle.
    std::vector<CURL*> TakeReady();
    // The transfer left the multi handle for good (or never got into it).
    void End(CURL* easy);
    // How long until a probe's or opener's patience runs out, when one is waited for.
    std::optional<std::chrono::milliseconds> NextPatienceEnd(
        std::chrono::steady_clock::time_point now) const;
    // The pool was emptied: HTTP/2 servers need a new connection opened.
    void ConnectionsClosed();
    // With `held` the requests of each server that wait for room there: connects sockets ahead
    // for those that wait for a probe's answer, and closes spare sockets no request waits for.
    void ConnectAhead(const std::map<std::string, int>& held);

    Servers() = default;
    ~Servers();  // closes the spare sockets
    Servers(const Servers&) = delete;
    Servers& operator=(const Servers&) = delete;

private:
    enum class Version {
        unknown,      // not yet answered: one probe in HTTP/1.1, the others wait for it
        http1,        // answered in HTTP/1.1
        http2,        // answered in HTTP/2: spoken to with prior knowledge (or agreed over TLS)
        http1ForGood  // failed with prior knowledge after all: never tried again
    };
    enum class Http2Connection { none, opening, open };
    struct Server {
        Version version = Version::unknown;
        Http2Connection connection = Http2Connection::none;  // cleartext HTTP/2 servers
        int running = 0;                                     // parked ones included
        int streams = kMaxStreamsPerServer;  // what its connection takes, as far as known
        CURL* probe = nullptr;               // the probe waited for, if any
        std::chrono::steady_clock::time_point probeSent;
        std::chrono::steady_clock::time_point openerSent;  // its opener's request, once sent
        std::vector<CURL*> parked;  // to go once the connection is open or has room
        // Where the probe connects, and sockets connected there while it waits for its answer,
        // so that the requests waiting with it do not then also wait for connections.
        std::string address;  // the bytes of the probe's socket address
        int family = 0, socktype = 0, protocol = 0;
        std::vector<int> spare;
    };
    enum class Kind {
        probe,     // HTTP/1.1 to a server not yet answered, which the others wait for
        http1,     // HTTP/1.1
        opener,    // HTTP/2 with prior knowledge, opening the server's connection
        follower,  // HTTP/2 on the opened connection
        tls,       // over TLS, as the handshake agrees
        parked     // waiting for the opener, or for a stream
    };
    struct Attempt {
        CURL* easy = nullptr;
        std::string server;
        Kind kind = Kind::http1;
        bool sentAgain = false;
        std::chrono::steady_clock::time_point started;
        // Told by curl's callbacks while it runs, taken in by Progress().
        bool connected = false;         // its connection is made and its request about to go
        bool answered = false;          // the first status line came (from its own server)
        bool answeredHttp2 = false;     // ... and it was HTTP/2
        bool wantedConnection = false;  // a follower that found no room on the connection
        bool waitsForStream = false;    // ... while others ran there
        int refusedAlone = 0;           // ... while none did
        int spare = -1;                 // a socket connected ahead, for its connection
        Servers* owner = nullptr;
    };

    // Chooses the attempt's kind and sets the easy handle up for it, unless it has to wait
    // for the connection being opened.
    bool Configure(Attempt& attempt);
    void Park(Attempt& attempt, Server& server);
    // Hands parked transfers on as far as their server's connection allows.
    void Resume(Server& server);
    // The server's HTTP/2 connection takes the others now; true.
    bool Open(Server& server);
    // What the attempt's callbacks told, for its server; true when transfers may go on.
    bool TakeIn(Attempt& attempt, Server& server);
    // The outcome of an attempt for its server's version and connection.
    void Learn(Attempt& attempt, Server& server, CURLcode result, long redirects);

    static size_t OnHeader(char* data, size_t size, size_t count, void* attempt);
    static int OnConnected(void* attempt, char*, char*, int, int);
    static curl_socket_t OnOpenSocket(void* attempt, curlsocktype purpose, curl_sockaddr* address);
    static int OnSocketOptions(void* attempt, curl_socket_t socket, curlsocktype);
    // A spare socket of the server whose connection is made, or -1.
    static int TakeSpare(Server& server);
    static void CloseSpares(Server& server, size_t keep);

    std::map<std::string, Server> m_servers;
    std::map<CURL*, Attempt> m_running;
    std::vector<CURL*> m_ready;
    std::vector<CURL*> m_told;       // attempts whose callbacks told something since Progress()
    std::set<int> m_connectedAhead;  // spare sockets handed to curl, already connected
};

}  // namespace nimbrel
