#include "Engine.h"

#include <dlfcn.h>

#include <atomic>

#include "Log.h"
#include "Transfer.h"

namespace nimbrel {
namespace {

// How long the worker sleeps when nothing happens; wake-ups cut it short, so this only
// bounds how often an idle worker looks around.
constexpr int kIdlePollMs = 1000;
// Transfers running at once. The rest wait in the worker's backlog rather than inside curl,
// so that each one's 30-second limit covers its own transfer, not a wait for a connection.
constexpr size_t kMaxActiveTransfers = 8;

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

void Engine::AddReference() {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    ++m_references;
}

void Engine::ReleaseReference() {
    std::lock_guard<std::mutex> lock(m_lifecycleMutex);
    // A copy made by the implicit copy constructor adds no reference, but its destruction
    // releases one; never count below zero.
    if (m_references > 0) --m_references;
    if (m_references == 0) StopWorkerLocked();
}

void Engine::Submit(Request request) {
    std::lock_guard<std::mutex> lifecycle(m_lifecycleMutex);
    if (!m_worker.joinable() && !StartWorkerLocked()) return;
    std::lock_guard<std::mutex> lock(m_queueMutex);
    const std::string key = request.Key();
    if (!m_pendingKeys.insert(key).second) {
        Log("joined the transfer of %s", request.url.c_str());
        return;
    }
    m_queued.push_back(std::move(request));
    curl_multi_wakeup(m_multi);
}

bool Engine::StartWorkerLocked() {
    CURLM* multi = curl_multi_init();
    if (multi == nullptr) return false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_multi = multi;
        m_stopping = false;
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
    CURLM* multi = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_stopping = true;
        multi = m_multi;
        curl_multi_wakeup(multi);
    }
    m_worker.join();
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_multi = nullptr;
    m_queued.clear();
    m_pendingKeys.clear();
    curl_multi_cleanup(multi);
}

void Engine::Run(CURLM* multi) {
    // Everything the transfers use lives on this thread's stack, so nothing of theirs can be
    // torn down by static destruction while they still run.
    StaleTempSweeper sweeper;
    std::deque<Request> backlog;
    std::map<CURL*, std::unique_ptr<Transfer>> active;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            if (m_stopping) break;
        }
        StartQueued(multi, backlog, active, sweeper);
        int running = 0;
        curl_multi_perform(multi, &running);
        FinishCompleted(multi, active);
        if (!backlog.empty() && active.size() < kMaxActiveTransfers) continue;  // slots came free
        curl_multi_poll(multi, nullptr, 0, kIdlePollMs, nullptr);
    }
    // Abandoned transfers: detach each from the multi handle before its easy handle goes;
    // the Transfer's destructor removes its temporary file.
    for (auto& [easy, transfer] : active) {
        Log("abandoned %s", transfer->GetRequest().url.c_str());
        curl_multi_remove_handle(multi, easy);
    }
    active.clear();
}

void Engine::StartQueued(CURLM* multi, std::deque<Request>& backlog,
                         std::map<CURL*, std::unique_ptr<Transfer>>& active, StaleTempSweeper& sweeper) {
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        for (Request& request : m_queued) backlog.push_back(std::move(request));
        m_queued.clear();
    }
    while (!backlog.empty() && active.size() < kMaxActiveTransfers) {
        Request request = std::move(backlog.front());
        backlog.pop_front();
        const std::string key = request.Key();
        auto transfer = std::make_unique<Transfer>(std::move(request), sweeper);
        CURL* easy = transfer->Prepare();
        if (easy == nullptr || curl_multi_add_handle(multi, easy) != CURLM_OK) {
            Forget(key);
            continue;
        }
        Log("started %s", transfer->GetRequest().url.c_str());
        active.emplace(easy, std::move(transfer));
    }
}

void Engine::FinishCompleted(CURLM* multi, std::map<CURL*, std::unique_ptr<Transfer>>& active) {
    int remaining = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &remaining)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;  // read before the handle is removed
        const auto found = active.find(easy);
        curl_multi_remove_handle(multi, easy);
        if (found == active.end()) continue;
        found->second->Finish(result);
        Forget(found->second->GetRequest().Key());
        active.erase(found);
    }
}

void Engine::Forget(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_pendingKeys.erase(key);
}

}  // namespace nimbrel
