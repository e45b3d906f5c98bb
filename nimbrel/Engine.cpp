#include "Engine.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>

#include "Finisher.h"
#include "Log.h"
#include "Transfer.h"

namespace nimbrel {
namespace {

// How long the worker sleeps between looks around: a new request wakes it at once, so an
// idle worker only looks now and then, a busy one lets curl's own timers decide, and one
// that waits for another process's transfer looks often enough to end soon after it.
constexpr int kIdlePollMs = 10 * 60 * 1000;
constexpr int kBusyPollMs = 1000;
constexpr int kWaitingPollMs = 50;
// Transfers waiting for another process's, each with two descriptors (its directory and the
// lock file): the backlog beyond them waits as plain requests, which hold no descriptor.
constexpr size_t kMaxWaitingTransfers = 64;
// Requests set up ahead in one turn of the worker's loop: the turns between let curl send what
// is ready (an opener's request must not wait behind a hundred set-ups).
constexpr int kSetUpAheadPerTurn = 8;

// Whether another request of the backlog may be set up (and so may have to wait): transfers
// set up ahead hold descriptors as running ones do.
template <typename Ready, typename Active, typename Waiting>
bool HasRoom(const Ready& ready, const Active& active, const Waiting& waiting) {
    return ready.size() + active.size() < kMaxActiveTransfers &&
           waiting.size() < kMaxWaitingTransfers;
}

// Set once the engine's static storage is being torn down: late callers then do nothing.
std::atomic<bool> g_engineGone{false};

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Abandoned name lookups end on curl's resolver threads, in curl's code, possibly after this
// library is unloaded: keep libcurl mapped for the rest of the process.
void KeepCurlLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&curl_easy_init), &info) != 0 && info.dli_fname != nullptr) {
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

}  // namespace

Engine* Engine::Instance() {
    if (g_engineGone.load(std::memory_order_acquire)) return nullptr;
    static Engine engine;
    return &engine;
}

Engine::Engine() {
    // curl's global set-up may register exit handlers of its TLS library; doing it here,
    // inside the engine's construction, makes them run after the engine's destructor.
    InitialiseCurlOnce();
    KeepCurlLoaded();
}

Engine::~Engine() {
    g_engineGone.store(true, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    StopWorkerLocked();
}

void Engine::Submit(Request request) {
    HoldStoredPicture(request);
    std::lock_guard<std::mutex> lifecycle(m_lifecycleMutex);
    if (!m_worker.joinable() && !StartWorkerLocked()) return;
    std::lock_guard<std::mutex> lock(m_queueMutex);
    if (m_pending.Join(request)) return;
    m_queued.push_back(std::move(request));
    // A dialog asks for many pictures at once: the worker is woken once for all it has not yet
    // taken, not once for each.
    if (!m_woken) curl_multi_wakeup(m_multi);
    m_woken = true;
}

bool Engine::StartWorkerLocked() {
    CURLM* multi = NewMultiHandle();
    if (multi == nullptr) return false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_multi = multi;
        m_stopping = false;
        m_woken = false;
    }
    try {
        m_worker = std::thread(&Engine::Run, this, multi);
    } catch (...) {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_multi = nullptr;
        curl_multi_cleanup(multi);
        return false;
    }
    return true;
}

void Engine::StopWorkerLocked() {
    if (!m_worker.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopping = true;
        curl_multi_wakeup(m_multi);
    }
    m_worker.join();
    // Read only now: the worker may have renewed the handle after the wake-up.
    std::lock_guard<std::mutex> lock(m_queueMutex);
    CURLM* multi = m_multi;
    m_multi = nullptr;
    m_queued.clear();
    m_pending.Clear();
    curl_multi_cleanup(multi);
}

void Engine::Run(CURLM* multi) {
    // Everything the transfers use lives on this thread's stack, so nothing of theirs can be
    // torn down by static destruction while they still run.
    StaleTempSweeper sweeper;
    Servers servers;
    // Declared before the transfers: they end before it stops.
    Finisher finisher([this](const Request& request) { Finished(request); });
    std::deque<Request> backlog;
    ReadyTransfers ready;
    ActiveTransfers active;
    WaitingTransfers waiting;
    bool connected = false;  // transfers ran since the connections were last closed
    auto lastEnded = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_stopping) break;
        }
        bool moreAhead = false;  // requests left to set up ahead
        connected =
            StartQueued(multi, backlog, ready, active, waiting, sweeper, servers, moreAhead) ||
            connected;
        int running = 0;
        curl_multi_perform(multi, &running);
        // Before the transfers that ended: what they told of their servers counts for them.
        const bool serversChanged = servers.Progress();
        bool ended = FinishCompleted(multi, active, servers, finisher);
        ended = SendReady(multi, active, servers) || ended;
        const bool waitsEnded = EndFinishedWaits(waiting, backlog);
        const auto now = std::chrono::steady_clock::now();
        if (ended) lastEnded = now;
        if ((ended || waitsEnded || serversChanged) && (!backlog.empty() || !ready.empty()) &&
            HasRoom(ready, active, waiting)) {
            continue;  // slots came free, or a server may take more
        }
        if ((ended || serversChanged) && !ready.empty()) continue;  // they may go now
        int pollMs = !waiting.empty()  ? kWaitingPollMs
                     : !active.empty() ? kBusyPollMs
                                       : kIdlePollMs;
        if (const auto patience = servers.NextPatienceEnd(now))
            pollMs = std::min(pollMs, static_cast<int>(patience->count()) + 1);
        if (connected && backlog.empty() && ready.empty() && active.empty() && waiting.empty()) {
            // Idle connections are kept for the next request, but an idle host keeps none
            // for longer than the bound.
            const auto left = lastEnded + IdleConnectionBound() - now;
            if (left <= std::chrono::steady_clock::duration::zero()) {
                multi = RenewMultiHandle(multi);
                servers.ConnectionsClosed();
                connected = false;
                continue;  // a request queued meanwhile woke the old handle, not this one
            }
            const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            pollMs = static_cast<int>(std::min<long long>(pollMs, leftMs));
        }
        curl_multi_poll(multi, nullptr, 0, moreAhead ? 0 : pollMs, nullptr);
    }
    // Abandoned transfers: detach each from the multi handle before its easy handle goes;
    // the Transfer's destructor removes its temporary file and ends its hold.
    for (auto& [easy, transfer] : active) {
        LogPicture(transfer->GetRequest(), "abandoned: the library is unloading");
        curl_multi_remove_handle(multi, easy);
    }
    active.clear();
    waiting.clear();
    ready.clear();
}

CURLM* Engine::RenewMultiHandle(CURLM* multi) {
    CURLM* fresh = NewMultiHandle();
    if (fresh == nullptr) return multi;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_multi = fresh;
    }
    curl_multi_cleanup(multi);  // closes the connections it kept for reuse
    return fresh;
}

bool Engine::StartQueued(CURLM* multi, std::deque<Request>& backlog, ReadyTransfers& ready,
                         ActiveTransfers& active, WaitingTransfers& waiting,
                         StaleTempSweeper& sweeper, Servers& servers, bool& moreAhead) {
    bool started = false;
    int setUpAhead = 0;
    std::multiset<std::string> finishing;
    std::map<std::string, int> held;  // requests waiting for room at their server, by server
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        for (Request& request : m_queued) backlog.push_back(std::move(request));
        m_queued.clear();
        m_woken = false;
        // The worker comes here on every turn of its loop: copied only when there is a backlog
        // to check against it.
        if (!backlog.empty()) finishing = m_finishing;
    }
    // The transfers set up ahead arrived first: they go first, as their servers take them.
    std::map<std::string, int> ahead;  // transfers set up ahead and still held, by server
    for (auto next = ready.begin(); next != ready.end();) {
        if (!servers.HasRoom((*next)->GetRequest().url, now)) {
            const std::string key = Servers::KeyOf((*next)->GetRequest().url);
            ++held[key];
            ++ahead[key];
            ++next;
            continue;
        }
        started = Launch(multi, std::move(*next), active, servers) || started;
        next = ready.erase(next);
    }
    // In order of arrival, passing over requests whose server is at its limit. They wait here
    // rather than inside curl, so that each one's 30-second limit covers its own transfer,
    // not a wait for a connection. While a server's first answer is awaited (what it speaks,
    // or its HTTP/2 connection's settings), as many as it will then take are set up meanwhile.
    for (auto next = backlog.begin(); next != backlog.end() && HasRoom(ready, active, waiting);) {
        const std::string key = Servers::KeyOf(next->url);
        const bool room = servers.HasRoom(next->url, now);
        bool setUp = !room && ahead[key] < servers.RoomAhead(next->url);
        if (setUp && setUpAhead == kSetUpAheadPerTurn) {
            moreAhead = true;  // on the next turn, once curl has sent what it can
            setUp = false;
        }
        if ((!room && !setUp) || finishing.count(next->Key()) != 0) {
            ++held[key];
            ++next;
            continue;
        }
        if (setUp) ++setUpAhead;
        auto transfer = std::make_unique<Transfer>(std::move(*next), sweeper);
        next = backlog.erase(next);
        switch (transfer->Begin()) {
            case Transfer::Start::running:
                if (room) {
                    started = Launch(multi, std::move(transfer), active, servers) || started;
                } else {
                    ++held[key];
                    ++ahead[key];
                    ready.push_back(std::move(transfer));
                }
                break;
            case Transfer::Start::waiting:
                waiting.push_back(std::move(transfer));
                break;
            case Transfer::Start::refused:
                Forget(transfer->GetRequest());
                break;
        }
    }
    servers.ConnectAhead(held);
    return started;
}

bool Engine::Launch(CURLM* multi, std::unique_ptr<Transfer> transfer, ActiveTransfers& active,
                    Servers& servers) {
    CURL* easy = transfer->Handle();
    if (servers.Begin(easy, transfer->GetRequest().url) &&
        curl_multi_add_handle(multi, easy) == CURLM_OK) {
        active.emplace(easy, std::move(transfer));
        return true;
    }
    servers.End(easy);
    LogPicture(transfer->GetRequest(), "refused: curl does not take the transfer");
    Forget(transfer->GetRequest());
    return false;
}

bool Engine::FinishCompleted(CURLM* multi, ActiveTransfers& active, Servers& servers,
                             Finisher& finisher) {
    bool ended = false;
    int remaining = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &remaining)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;  // read before the handle is removed
        const auto found = active.find(easy);
        curl_multi_remove_handle(multi, easy);
        if (found == active.end()) continue;
        if (servers.SendAgain(easy, result)) {
            LogPicture(found->second->GetRequest(),
                       "to be sent again, in the HTTP version its server answered in");
            continue;
        }
        servers.End(easy);
        // Forgotten before the picture is put in place: a call that sees the new picture
        // must never be joined to the transfer that brought it. Its next transfer waits
        // until this one has ended, rather than for this one's transfer lock.
        Forget(found->second->GetRequest());
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_finishing.insert(found->second->GetRequest().Key());
        }
        finisher.Finish(std::move(found->second), result);
        active.erase(found);
        ended = true;
    }
    return ended;
}

bool Engine::SendReady(CURLM* multi, ActiveTransfers& active, Servers& servers) {
    bool ended = false;
    for (CURL* easy : servers.TakeReady()) {
        if (curl_multi_add_handle(multi, easy) == CURLM_OK) continue;
        const auto found = active.find(easy);
        servers.End(easy);
        if (found == active.end()) continue;
        LogPicture(found->second->GetRequest(), "refused: curl does not take the transfer");
        Forget(found->second->GetRequest());
        found->second->Finish(CURLE_FAILED_INIT);
        active.erase(found);
        ended = true;
    }
    return ended;
}

bool Engine::EndFinishedWaits(WaitingTransfers& waiting, std::deque<Request>& backlog) {
    bool ended = false;
    for (auto it = waiting.begin(); it != waiting.end();) {
        if ((*it)->WaitIsOver()) {
            ended = true;
            // Still pending when asked again: later calls keep joining it.
            if ((*it)->OtherDelivered())
                Forget((*it)->GetRequest());
            else
                backlog.push_front((*it)->TakeRequest());
            it = waiting.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

void Engine::Finished(const Request& request) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    const auto found = m_finishing.find(request.Key());
    if (found != m_finishing.end()) m_finishing.erase(found);
    curl_multi_wakeup(m_multi);  // a request of the same picture may wait in the backlog
}

void Engine::Forget(const Request& request) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_pending.Forget(request);
}

}  // namespace nimbrel
