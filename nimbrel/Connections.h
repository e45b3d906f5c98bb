// How transfers use connections: the multi handle's pool of kept connections, how many
// transfers may run against one server at once, and which HTTP version each one speaks.
//
// Idle connections are kept for reuse, and closed once the host has asked for nothing for
// kIdleConnectionBound (NIMBREL_IDLE_MS in the environment may shorten it, never lengthen it).
//
// A server is first spoken to in HTTP/1.1, which every server answers. One that answers an
// HTTP/1.1 request with HTTP/2 frames speaks HTTP/2 only (nginx's `listen ... http2` without
// TLS): the request is sent again with prior knowledge, and so is every later one to that
// server, multiplexed on one connection. A server that then fails a prior-knowledge request
// without any answer goes back to HTTP/1.1 for the rest of the process. So a server that
// speaks only HTTP/1.1 never receives anything but HTTP/1.1, and no request is sent twice
// unless its first answer was plainly of the other protocol. Over TLS the version is agreed
// in the handshake.
//
// Only the transfer that opens an HTTP/2 connection asks for prior knowledge; the others ask
// for HTTP/2 and wait for that connection. curl before 8.0 fails a prior-knowledge request
// on a connection it reuses ("Error in the HTTP2 framing layer"), but sets up no second
// HTTP/2 layer for a plain HTTP/2 request on it.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <map>
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
// Transfers at once against one server speaking HTTP/2, all on one connection: curl's own
// default for concurrent streams, below nginx's limit of 128.
inline constexpr int kMaxStreamsPerServer = 100;
// Transfers at once in all, whatever the servers: each holds up to four descriptors (its
// directory, lock, temporary file and socket), which must leave the host most of its own.
inline constexpr size_t kMaxActiveTransfers = 100;

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

    // Whether another transfer may start against the URL's server: below its limit, and not
    // while the HTTP/2 connection it would share is being opened.
    bool HasRoom(const std::string& url) const;
    // Sets the transfer's HTTP version and connection options for its server and counts it
    // as running there; false when curl refuses an option.
    bool Begin(CURL* easy, const std::string& url);
    // After curl reports the transfer done and it has left the multi handle: true when it
    // failed only because the server speaks the other HTTP version. It then goes once more,
    // within what is left of its time limit, as soon as TakeReady() hands it back (at once,
    // or once the connection it is to share is open). Otherwise call End().
    bool SendAgain(CURL* easy, CURLcode result);
    // Transfers set up to go again, for the multi handle.
    std::vector<CURL*> TakeReady();
    void End(CURL* easy);
    // The pool was emptied: HTTP/2 servers need a new connection opened.
    void ConnectionsClosed();

private:
    enum class Version {
        http1,        // what every server is first spoken to in
        http2,        // answered in HTTP/2: spoken to with prior knowledge (or agreed over TLS)
        http1ForGood  // failed with prior knowledge after all: never tried again
    };
    enum class Http2Connection { none, opening, open };
    struct Server {
        Version version = Version::http1;
        Http2Connection connection = Http2Connection::none;  // cleartext HTTP/2 servers
        int running = 0;
        std::vector<CURL*> parked;  // to go again once the connection is open
    };
    enum class Kind {
        http1,     // HTTP/1.1
        opener,    // HTTP/2 with prior knowledge, opening the server's connection
        follower,  // HTTP/2 on the opened connection
        tls,       // over TLS, as the handshake agrees
        parked     // waiting for the opener
    };
    struct Attempt {
        std::string server;
        Kind kind = Kind::http1;
        bool sentAgain = false;
        std::chrono::steady_clock::time_point started;
    };

    // Chooses the attempt's kind and sets the easy handle up for it, unless it has to wait
    // for the connection being opened.
    bool Configure(CURL* easy, Attempt& attempt);
    // Hands parked transfers on once their server's connection is open or gone.
    void Resume(Server& server);
    // The outcome of an attempt for its server's version and connection.
    void Learn(const Attempt& attempt, Server& server, CURLcode result, long status, long version);

    std::map<std::string, Server> m_servers;
    std::map<CURL*, Attempt> m_running;
    std::vector<CURL*> m_ready;
};

}  // namespace nimbrel
