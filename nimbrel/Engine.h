// The library-wide download engine: one worker thread driving a curl multi handle.
//
// Shared by every CAvatarDownload object and independent of them: objects (and the copies a
// host may make of them) come and go without touching it. The worker starts with the first
// request and sleeps while there is nothing to do, keeping idle connections for a bounded
// time (Connections.h); it stops only when the library unloads, abandoning what is in flight
// (sockets closed, temporary files removed).
#pragma once

#include <curl/curl.h>

#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Connections.h"
#include "Request.h"

namespace nimbrel {

class Finisher;
class Transfer;
class StaleTempSweeper;

class Engine {
public:
    // The process's engine, or null while the library is being unloaded.
    static Engine* Instance();

    // Takes the hold on the stored picture, then queues the request unless a transfer that
    // serves it is queued or in flight already; never blocks on the network.
    void Submit(Request request);

    ~Engine();

private:
    using ActiveTransfers = std::map<CURL*, std::unique_ptr<Transfer>>;
    using WaitingTransfers = std::list<std::unique_ptr<Transfer>>;
    // Transfers set up (directory open, lock taken, handle configured) while their server's
    // first answer is awaited, so that they go the moment it comes; in order of arrival.
    using ReadyTransfers = std::list<std::unique_ptr<Transfer>>;

    Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    bool StartWorkerLocked();  // m_lifecycleMutex held
    void StopWorkerLocked();   // m_lifecycleMutex held
    void Run(CURLM* multi);
    // Replaces the multi handle by a fresh one; the old one goes with its idle connections.
    CURLM* RenewMultiHandle(CURLM* multi);
    // Starts what the backlog and each server's limit allow, the transfers set up ahead first,
    // and sets up ahead a few requests of servers whose first answer is awaited (`moreAhead`
    // set when more are left); true when a transfer went to the network.
    bool StartQueued(CURLM* multi, std::deque<Request>& backlog, ReadyTransfers& ready,
                     ActiveTransfers& active, WaitingTransfers& waiting, StaleTempSweeper& sweeper,
                     Servers& servers, bool& moreAhead);
    // Hands a set-up transfer to its server and the multi handle; true when it went.
    bool Launch(CURLM* multi, std::unique_ptr<Transfer> transfer, ActiveTransfers& active,
                Servers& servers);
    // Hands the transfers that ended to the finisher; true when one did (a slot came free).
    bool FinishCompleted(CURLM* multi, ActiveTransfers& active, Servers& servers,
                         Finisher& finisher);
    // Adds the transfers that go again to the multi handle; true when one ended instead.
    bool SendReady(CURLM* multi, ActiveTransfers& active, Servers& servers);
    // Ends the waits that are over, true when one did; a request whose wait brought no picture
    // goes back to the front of the backlog.
    bool EndFinishedWaits(WaitingTransfers& waiting, std::deque<Request>& backlog);
    void Forget(const Request& request);
    // Called by the finisher once a transfer has ended.
    void Finished(const Request& request);

    // Lifecycle: the worker and its multi handle. Taken before m_queueMutex.
    std::mutex m_lifecycleMutex;
    std::thread m_worker;

    // Hand-over between callers and the worker.
    std::mutex m_queueMutex;
    CURLM* m_multi = nullptr;  // valid while the worker runs
    bool m_stopping = false;
    bool m_woken = false;  // the worker has been woken and has not yet taken m_queued
    std::vector<Request> m_queued;
    PendingTransfers m_pending;
    std::multiset<std::string> m_finishing;  // by Request::Key(): done, not yet ended
};

}  // namespace nimbrel
