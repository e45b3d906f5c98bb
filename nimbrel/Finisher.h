// Ends completed transfers off the engine's worker thread: putting a picture in place waits
// for the disk (the body is synced before the rename and its directory after it), and the
// worker must meanwhile keep driving the other transfers' connections. One thread takes every
// transfer handed over since it last looked: their bodies are synced together (on up to
// kParallelSyncs threads, so that the file system commits them in a few goes rather than one
// picture after another), each renamed into place and ended as soon as its own body is synced,
// and each directory is synced once when the batch is done. It sleeps while there is nothing
// to do.
#pragma once

#include <curl/curl.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace nimbrel {

// Bodies synced at once, at most.
inline constexpr size_t kParallelSyncs = 8;

struct Request;
class Transfer;

class Finisher {
public:
    // `ended` is called with each transfer's request once it has ended, on the thread that
    // ended it.
    explicit Finisher(std::function<void(const Request&)> ended);
    ~Finisher();  // finishes what was handed over, then stops its threads
    Finisher(const Finisher&) = delete;
    Finisher& operator=(const Finisher&) = delete;

    // Calls transfer->Finish(result) on the thread, after those handed over before, then
    // destroys the transfer. Done at once on the caller's thread when the thread could not
    // be started.
    void Finish(std::unique_ptr<Transfer> transfer, CURLcode result);

private:
    using Batch = std::vector<std::pair<std::unique_ptr<Transfer>, CURLcode>>;
    void Run();
    void EndBatch(Batch& batch);

    std::function<void(const Request&)> m_ended;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::deque<std::pair<std::unique_ptr<Transfer>, CURLcode>> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace nimbrel
