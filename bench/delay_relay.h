// A TCP relay on the loopback interface that holds every byte for a fixed delay in each
// direction, so that a server on this machine answers as if it were a round trip away; a new
// connection's first request also waits one round trip more, for the handshake. No privileges
// needed: it listens on a free port of 127.0.0.1 and opens one connection to the target for
// each connection it accepts. One thread serves every connection.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class DelayRelay {
public:
    DelayRelay(int targetPort, std::chrono::milliseconds oneWay);
    ~DelayRelay();
    DelayRelay(const DelayRelay&) = delete;
    DelayRelay& operator=(const DelayRelay&) = delete;

    bool Running() const { return m_listener >= 0; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    int Accepted() const { return m_accepted.load(); }  // connections made through it

    // What crossed the relay: a connection accepted, a client's bytes read (when the client
    // sent them), a server's bytes handed to the client (when the client got them).
    struct Event {
        enum Kind { accepted, sent, received } kind;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Event> Events() const;

private:
    void Run();
    void Record(Event::Kind kind, std::chrono::steady_clock::time_point at);

    int m_targetPort;
    std::chrono::milliseconds m_oneWay;
    int m_listener = -1;
    int m_port = 0;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<int> m_accepted{0};
    mutable std::mutex m_eventsMutex;
    std::vector<Event> m_events;
    std::thread m_thread;
};

}  // namespace bench
