// Download library: what a caller's thread pays per request, and how long a picture takes
// from the request to its file being in place, against a server on the loopback interface.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

#include "AvatarDownload.h"
#include "TempStore.h"
#include "TestServer.h"

namespace {

// The caller's side of a request that goes to the worker: name checks, path mapping, queueing.
void BM_RequestReturns(benchmark::State& state) {
    nimbrel_test::TempStore store;
    CAvatarDownload download;
    const CString root = store.WindowsRoot().c_str();
    int id = 0;
    for (auto _ : state) {
        // Port 9 on the loopback refuses at once, so the worker never piles up work.
        download.StartDownload(std::to_string(++id).c_str(), "127.0.0.1:9", root, 2, 6);
    }
}
BENCHMARK(BM_RequestReturns);

// The caller's side of a refresh of a stored picture, which the call holds for writing before
// it returns. One picture, so most calls join the transfer already asked for.
void BM_RefreshOfStoredPictureReturns(benchmark::State& state) {
    nimbrel_test::TempStore store;
    nimbrel_test::WriteFile(store.Path("Up/stored_bs.gif"), "GIF89a-stored");
    CAvatarDownload download;
    const CString root = store.WindowsRoot().c_str();
    for (auto _ : state) download.VazirOridoStartGFU("stored", "127.0.0.1:9", root, 2, 6);
}
BENCHMARK(BM_RefreshOfStoredPictureReturns);

// The caller's side of a request refused for its user id: no work reaches the worker.
void BM_RefusedRequestReturns(benchmark::State& state) {
    nimbrel_test::TempStore store;
    CAvatarDownload download;
    const CString root = store.WindowsRoot().c_str();
    for (auto _ : state) download.StartDownload("..", "127.0.0.1:9", root, 2, 6);
}
BENCHMARK(BM_RefusedRequestReturns);

// From StartDownload to the complete file at its path, for a picture of the given size.
void BM_PictureArrives(benchmark::State& state) {
    nimbrel_test::TempStore store;
    nimbrel_test::TestServer server;
    const std::string body(static_cast<size_t>(state.range(0)), 'g');
    server.Http().Get("/c_avatar/Up/.*", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "image/gif");
    });
    server.Start();
    CAvatarDownload download;
    const CString root = store.WindowsRoot().c_str();
    const CString address = server.Address().c_str();
    int id = 0;
    for (auto _ : state) {
        const std::string user = std::to_string(++id);
        download.StartDownload(user.c_str(), address, root, 2, 0);
        const auto path = store.Path("Up/" + user + ".gif");
        while (!std::filesystem::exists(path))
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PictureArrives)
    ->Arg(4 * 1024)
    ->Arg(256 * 1024)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
