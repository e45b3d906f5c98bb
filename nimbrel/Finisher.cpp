#include "Finisher.h"

#include "Transfer.h"

namespace nimbrel {

Finisher::Finisher(std::function<void(const Request&)> ended) : m_ended(std::move(ended)) {
    try {
        m_thread = std::thread(&Finisher::Run, this);
    } catch (...) {
        // No thread: Finish() does the work itself.
    }
}

Finisher::~Finisher() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_work.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void Finisher::Finish(std::unique_ptr<Transfer> transfer, CURLcode result) {
    if (!m_thread.joinable()) {
        transfer->Finish(result);
        m_ended(transfer->GetRequest());
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.emplace_back(std::move(transfer), result);
    }
    m_work.notify_one();
}

void Finisher::Run() {
    for (;;) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_work.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_queue.empty()) return;  // stopping, and everything handed over has ended
        auto [transfer, result] = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        transfer->Finish(result);
        m_ended(transfer->GetRequest());
        transfer.reset();
    }
}

}  // namespace nimbrel
