// The library-wide download engine: one worker thread driving a curl multi handle.
//
// Shared by every CAvatarDownload object. Live objects hold a reference; the worker starts
// with the first request and stops when the last object goes or the library unloads,
// abandoning what is in flight (sockets closed, temporary files removed).
#pragma once

#include <curl/curl.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Request.h"

namespace nimbrel {

class Transfer;
class StaleTempSweeper;

class Engine {
public:
    // The process's engine, or null while the library is being unloaded.
    static Engine* Instance();

    void AddReference();
    void ReleaseReference();
    // Queues a request unless an identical one is queued or in flight; never blocks on the
    // network.
    void Submit(Request request);

    ~Engine();

private:
    Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool StartWorkerLocked();  // m_lifecycleMutex held
    void StopWorkerLocked();   // m_lifecycleMutex held
    void Run(CURLM* multi);
    void StartQueued(CURLM* multi, std::deque<Request>& backlog, std::map<CURL*, std::unique_ptr<Transfer>>& active,
                     StaleTempSweeper& sweeper);
    void FinishCompleted(CURLM* multi, std::map<CURL*, std::unique_ptr<Transfer>>& active);
    void Forget(const std::string& key);

    // Lifecycle: references, the worker and its multi handle. Taken before m_queueMutex.
    std::mutex m_lifecycleMutex;
    long m_references = 0;
    std::thread m_worker;

    // Hand-over between callers and the worker.
    std::mutex m_queueMutex;
    CURLM* m_multi = nullptr;        // valid while the worker runs
    bool m_stopping = false;
    std::vector<Request> m_queued;
    std::set<std::string> m_pendingKeys;  // queued or in flight
};

}  // namespace nimbrel
