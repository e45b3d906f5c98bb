// One HTTP transfer of one picture over curl, driven by the engine's multi handle: the curl
// transport of the store's rules (StoreTransfer.h), which decide what becomes of the body.
#pragma once

#include <curl/curl.h>

#include "StoreTransfer.h"

namespace nimbrel {

inline constexpr char kAllowedProtocols[] = "http,https";

class Transfer {
public:
    using Start = StoreTransfer::Start;

    Transfer(Request request, StaleTempSweeper& sweeper);
    ~Transfer();  // abandons the transfer if it has not finished: the temporary file goes
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // StoreTransfer::Begin(), then configures the easy handle: running means Handle() is ready
    // for the multi handle.
    Start Begin();
    bool WaitIsOver() { return m_store.WaitIsOver(); }
    bool OtherDelivered() { return m_store.OtherDelivered(); }
    Request TakeRequest() { return m_store.TakeRequest(); }
    // Called once curl reports the transfer done: StoreTransfer's Finish(), or its three steps.
    void Finish(CURLcode result) { m_store.Finish(Answer(result)); }
    void Conclude(CURLcode result) { m_store.Conclude(Answer(result)); }
    bool PutInPlace() { return m_store.PutInPlace(); }
    void End() { m_store.End(); }
    int DirectoryFd() const { return m_store.Directory().Fd(); }

    CURL* Handle() const { return m_easy; }
    const Request& GetRequest() const { return m_store.GetRequest(); }

private:
    bool Prepare();
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    HttpAnswer Answer(CURLcode result) const;

    StoreTransfer m_store;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    char m_error[CURL_ERROR_SIZE] = {};
};

}  // namespace nimbrel
