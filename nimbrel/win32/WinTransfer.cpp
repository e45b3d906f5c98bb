#include "WinTransfer.h"

#include <chrono>
#include <thread>

#include "StoreTransfer.h"
#include "WinHttpTransport.h"

namespace nimbrel {
namespace {

// How often a transfer waiting for another process's looks whether it has ended.
constexpr auto kWaitingPoll = std::chrono::milliseconds(50);

}  // namespace

void RunTransfer(Request request, const std::function<void(const Request&)>& placing) {
    static StaleTempSweeper sweeper;
    for (;;) {
        StoreTransfer transfer(std::move(request), sweeper);
        switch (transfer.Begin()) {
            case StoreTransfer::Start::refused:
                placing(transfer.GetRequest());
                return;
            case StoreTransfer::Start::waiting:
                while (!transfer.WaitIsOver()) std::this_thread::sleep_for(kWaitingPoll);
                if (transfer.OtherDelivered()) {
                    placing(transfer.GetRequest());
                    return;
                }
                request = transfer.TakeRequest();
                continue;
            case StoreTransfer::Start::running:
                break;
        }
        transfer.LogStarted();
        const HttpAnswer answer = HttpGet(
            transfer.GetRequest().url, transfer.Conditional(),
            [&](const char* data, size_t length) { return transfer.Body(data, length, true); });
        placing(transfer.GetRequest());
        transfer.Finish(answer);
        return;
    }
}

}  // namespace nimbrel
