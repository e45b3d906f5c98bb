#include "delay_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kReadBytes = 64 * 1024;
constexpr int kBacklog = 256;

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// Bytes read from one side, due on the other side at a moment; empty bytes stand for the end
// of that direction.
struct Chunk {
    Clock::time_point due;
    std::string bytes;
};

struct Direction {
    int from = -1;
    int to = -1;
    bool readEnded = false;
    bool done = false;
    std::deque<Chunk> pending;
};

struct Pair {
    Direction up, down;  // client to target, target to client
    // The client's first bytes leave only one round trip after this, as they would after a
    // TCP handshake over the delayed link (the client's connect returns at once here).
    Clock::time_point accepted;
    ~Pair() {
        ::close(up.from);
        ::close(up.to);
    }
};

bool WriteAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

DelayRelay::DelayRelay(int targetPort, std::chrono::milliseconds oneWay)
    : m_targetPort(targetPort), m_oneWay(oneWay) {
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0) return;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::listen(listener, kBacklog) != 0) {
        ::close(listener);
        return;
    }
    m_listener = listener;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread(&DelayRelay::Run, this);
}

DelayRelay::~DelayRelay() {
    if (m_thread.joinable()) {
        (void)!::write(m_stopPipe[1], "x", 1);
        m_thread.join();
    }
    if (m_listener >= 0) ::close(m_listener);
    for (int fd : m_stopPipe)
        if (fd >= 0) ::close(fd);
}

std::vector<DelayRelay::Event> DelayRelay::Events() const {
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    return m_events;
}

void DelayRelay::Record(Event::Kind kind, Clock::time_point at) {
    std::lock_guard<std::mutex> lock(m_eventsMutex);
    m_events.push_back({kind, at});
}

void DelayRelay::Run() {
    std::list<Pair> pairs;
    for (;;) {
        std::vector<pollfd> fds = {{m_stopPipe[0], POLLIN, 0}, {m_listener, POLLIN, 0}};
        struct Reader {
            Pair* pair;
            Direction* direction;
        };
        std::vector<Reader> readers;
        auto next = Clock::time_point::max();
        for (Pair& pair : pairs) {
            for (Direction* direction : {&pair.up, &pair.down}) {
                if (!direction->readEnded) {
                    fds.push_back({direction->from, POLLIN, 0});
                    readers.push_back({&pair, direction});
                }
                if (!direction->pending.empty())
                    next = std::min(next, direction->pending.front().due);
            }
        }
        int timeoutMs = -1;
        if (next != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
            timeoutMs = static_cast<int>(std::max<long long>(0, wait.count()));
        }
        ::poll(fds.data(), fds.size(), timeoutMs);
        if (fds[0].revents != 0) return;

        if (fds[1].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            const int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = Loopback(m_targetPort);
            if (client >= 0 && ::connect(target, reinterpret_cast<const sockaddr*>(&address),
                                         sizeof address) == 0) {
                const int one = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                ::setsockopt(target, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                Pair& pair = pairs.emplace_back();
                pair.accepted = Clock::now();
                Record(Event::accepted, pair.accepted);
                pair.up.from = pair.down.to = client;
                pair.up.to = pair.down.from = target;
                ++m_accepted;
            } else {
                if (client >= 0) ::close(client);
                ::close(target);
            }
        }
        const auto now = Clock::now();
        for (size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            Direction& direction = *readers[i - 2].direction;
            const bool up = &direction == &readers[i - 2].pair->up;
            auto due = now + m_oneWay;
            if (up) due = std::max(due, readers[i - 2].pair->accepted + 3 * m_oneWay);
            std::string bytes(kReadBytes, '\0');
            const ssize_t n = ::recv(direction.from, bytes.data(), bytes.size(), 0);
            bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
            direction.readEnded = n <= 0;
            if (n > 0) Record(up ? Event::sent : Event::received, up ? now : due);
            direction.pending.push_back({due, std::move(bytes)});
        }
        for (Pair& pair : pairs) {
            for (Direction* direction : {&pair.up, &pair.down}) {
                while (!direction->pending.empty() && direction->pending.front().due <= now) {
                    Chunk& chunk = direction->pending.front();
                    if (chunk.bytes.empty()) {
                        ::shutdown(direction->to, SHUT_WR);
                        direction->done = true;
                    } else if (!WriteAll(direction->to, chunk.bytes)) {
                        direction->readEnded = direction->done = true;
                    }
                    direction->pending.pop_front();
                }
            }
        }
        pairs.remove_if([](const Pair& pair) { return pair.up.done && pair.down.done; });
    }
}

}  // namespace bench
