#include "Finisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <set>

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
        Batch batch(std::make_move_iterator(m_queue.begin()),
                    std::make_move_iterator(m_queue.end()));
        m_queue.clear();
        lock.unlock();
        EndBatch(batch);
    }
}

void Finisher::EndBatch(Batch& batch) {
    // Each body synced before any is renamed; the syncs of several bodies at once.
    std::atomic<size_t> next{0};
    const auto conclude = [&] {
        for (size_t i; (i = next++) < batch.size();) batch[i].first->Conclude(batch[i].second);
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < std::min(batch.size(), kParallelSyncs); ++i) {
        try {
            helpers.emplace_back(conclude);
        } catch (...) {
            break;  // the ones there are do the work
        }
    }
    conclude();
    for (std::thread& helper : helpers) helper.join();

    // In the order they completed. A renamed picture is whole, so the control may see it at
    // once; the sync of its directory (once for all its renames) only makes the new name last.
    std::set<std::pair<dev_t, ino_t>> synced;
    std::vector<int> directories;
    for (auto& [transfer, result] : batch) {
        struct stat info {};
        if (transfer->PutInPlace() && ::fstat(transfer->DirectoryFd(), &info) == 0 &&
            synced.emplace(info.st_dev, info.st_ino).second)
            directories.push_back(transfer->DirectoryFd());
        transfer->End();
        m_ended(transfer->GetRequest());
    }
    for (int directory : directories) ::fsync(directory);
    batch.clear();
}

}  // namespace nimbrel
