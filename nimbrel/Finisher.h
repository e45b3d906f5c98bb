// Ends completed transfers off the engine's worker thread: putting a picture in place waits
// for the disk (the body and its directory are synced before and after the rename), and the
// worker must meanwhile keep driving the other transfers' connections. One thread, so that
// transfers still end in the order they completed; it sleeps while there is nothing to do.
#pragma once

#include <curl/curl.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace nimbrel {

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
    void Run();

    std::function<void(const Request&)> m_ended;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::deque<std::pair<std::unique_ptr<Transfer>, CURLcode>> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace nimbrel
