// The library-wide download engine on Windows: a few worker threads, each running one transfer
// at a time to its end with WinHTTP's blocking calls. The caller's thread starts only the first
// worker; from then on a worker that takes the last idle place starts the next one, so that a
// request finds one waiting and the caller never pays for a thread's creation (several system
// round trips, which a busy machine makes long). The same joining rules as the curl engine
// (Engine.h): a refresh joins any transfer of the picture queued or running, a fetch only
// another fetch, and a call made once the answer is in no longer joins the transfer that
// brought it; a request of a picture whose transfer is putting it in place waits for that.
//
// The library pins itself in the process with the first request, so that its workers, which
// may be inside WinHTTP when the host lets the library go, never run unmapped code; they end
// with the process.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "Log.h"
#include "Service.h"
#include "WinTransfer.h"

namespace nimbrel {
namespace {

// Transfers at once: WinHTTP's pool keeps the connections of a server for reuse between them.
constexpr size_t kMaxWorkers = 16;

class WinEngine {
public:
    void Submit(Request request);

private:
    void Run();
    // Starts a worker whose place m_workers already counts; gives the place back if it cannot.
    void StartWorker();

    std::mutex m_mutex;
    std::condition_variable m_work;
    std::deque<Request> m_queued;
    PendingTransfers m_pending;
    std::multiset<std::string> m_placing;  // by Request::Key(): answered, being put in place
    size_t m_workers = 0;
    size_t m_idle = 0;
};

bool PinLibrary() {
    static const bool pinned = [] {
        HMODULE self = nullptr;
        return ::GetModuleHandleExW(
                   GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                   reinterpret_cast<LPCWSTR>(&PinLibrary), &self) != FALSE;
    }();
    return pinned;
}

void WinEngine::Submit(Request request) {
    HoldStoredPicture(request);
    if (!PinLibrary()) {
        LogPicture(request, "refused: the library cannot stay loaded for its transfer");
        return;
    }

    bool first = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.Join(request)) return;
        m_queued.push_back(std::move(request));
        first = m_workers == 0;
        if (first) ++m_workers;
    }
    m_work.notify_one();
    if (first) StartWorker();
}

void WinEngine::StartWorker() {
    try {
        std::thread(&WinEngine::Run, this).detach();
    } catch (...) {
        // The workers there are take the queue in turn; with none, the next call starts one.
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_workers;
    }
}

void WinEngine::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        auto next = m_queued.end();
        ++m_idle;
        m_work.wait(lock, [&] {
            for (next = m_queued.begin(); next != m_queued.end(); ++next) {
                if (m_placing.count(next->Key()) == 0) return true;
            }
            return false;
        });
        --m_idle;
        Request request = std::move(*next);
        m_queued.erase(next);
        const bool spare = m_idle == 0 && m_workers < kMaxWorkers;
        if (spare) ++m_workers;
        lock.unlock();
        if (spare) StartWorker();
        const std::string key = request.Key();
        bool placing = false;
        RunTransfer(std::move(request), [&](const Request& placed) {
            std::lock_guard<std::mutex> held(m_mutex);
            m_pending.Forget(placed);
            m_placing.insert(key);
            placing = true;
        });
        lock.lock();
        if (placing) m_placing.erase(m_placing.find(key));
        m_work.notify_all();  // a request of the same picture may wait in the queue
    }
}

}  // namespace

void SubmitToEngine(Request request) {
    // Never destroyed: its workers may outlive every static object of the process.
    static WinEngine* const engine = new WinEngine;
    engine->Submit(std::move(request));
}

}  // namespace nimbrel
