// An HTTP server inside the test process, on 127.0.0.1 and an ephemeral port, that counts
// the requests it answers. Routes are added before Start().
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nimbrel_test {

struct SeenRequest {
    std::string target;  // as sent, before any decoding
    std::string ifModifiedSince;
    std::string ifNoneMatch;
    std::string acceptEncoding;
};

class TestServer {
public:
    TestServer() {
        m_http.set_keep_alive_max_count(1);
        // More handler threads than the client runs transfers, so the client sets the limit.
        m_http.new_task_queue = [] { return new httplib::ThreadPool(48); };
        m_http.set_logger([this](const httplib::Request& request, const httplib::Response&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_seen.push_back({request.target, request.get_header_value("If-Modified-Since"),
                              request.get_header_value("If-None-Match"),
                              request.get_header_value("Accept-Encoding")});
            m_changed.notify_all();
        });
    }
    ~TestServer() {
        OpenGate();
        m_http.stop();
        if (m_thread.joinable()) m_thread.join();
    }

    httplib::Server& Http() { return m_http; }

    void Start() {
        m_port = m_http.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_http.listen_after_bind(); });
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

    std::vector<SeenRequest> Seen() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }
    int Hits(const std::string& target) const {
        int hits = 0;
        for (const SeenRequest& seen : Seen()) hits += seen.target == target ? 1 : 0;
        return hits;
    }
    // Waits (generously) until `target` has been answered `count` times.
    bool WaitForHits(const std::string& target, int count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] {
            int hits = 0;
            for (const SeenRequest& seen : m_seen) hits += seen.target == target ? 1 : 0;
            return hits >= count;
        });
    }

    // A gate that handlers can wait at, so a test decides when a response goes out.
    bool GateOpen() const { return m_gateOpen.load(); }
    void OpenGate() { m_gateOpen = true; }
    void WaitAtGate() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!m_gateOpen && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

private:
    httplib::Server m_http;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<SeenRequest> m_seen;
    std::atomic<bool> m_gateOpen{false};
};

}  // namespace nimbrel_test
