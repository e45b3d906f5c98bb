#include "Finisher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>
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
    // Each picture is renamed as soon as its own body is synced, so that one slow sync holds
    // back no other picture; the bodies of several are synced at once. A renamed picture is
    // whole, so the control may see it at once; the sync of its directory (once for all the
    // batch's renames there) only makes the new name last.
    std::mutex directoriesMutex;
    std::set<std::pair<dev_t, ino_t>> synced;
    std::vector<int> directories;
    std::atomic<size_t> next{0};
    const auto end = [&] {
        for (size_t i; (i = next++) < batch.size();) {
            Transfer& transfer = *batch[i].first;
            transfer.Conclude(batch[i].second);
            struct stat info {};
            if (transfer.PutInPlace() && ::fstat(transfer.DirectoryFd(), &info) == 0) {
                std::lock_guard<std::mutex> lock(directoriesMutex);
                if (synced.emplace(info.st_dev, info.st_ino).second)
                    directories.push_back(transfer.DirectoryFd());
            }
            transfer.End();
            m_ended(transfer.GetRequest());
        }
    };
    std::vector<std::thread> helpers;
    for (size_t i = 1; i < std::min(batch.size(), kParallelSyncs); ++i) {
        try {
            helpers.emplace_back(end);
        } catch (...) {
            break;  // the ones there are do the work
        }
    }
    end();
    for (std::thread& helper : helpers) helper.join();
    // The transfers are still there: their directories are open until the batch goes.
    for (int directory : directories) ::fsync(directory);
    batch.clear();
}

}  // namespace nimbrel
