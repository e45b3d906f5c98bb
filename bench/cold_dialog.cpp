// Avatars fetched over a network a round trip away: Debian's nginx started here, reached
// through a relay on the loopback interface that delays every byte by 25 ms each way.
//
// BM_ColdDialog/N/defaults/http2: a dialog opens with N avatar controls for N users whose
// pictures are not in the store (the store otherwise empty, or holding the default pictures),
// against an nginx speaking HTTP/1.1 (its default) or, with http2, HTTP/2 only. The time is
// from the first Display until every control shows its user's picture; the counters say
//   connections      connections the server accepted;
//   requests         requests it answered (pictures and default pictures);
//   default_first    controls that showed the default picture before their own;
//   stored_s         from the first Display until the last picture was written to the store
//                    (the download library's share of the time; the rest is the controls');
// and where the time went, in ms from the first Display, for the last picture (and the median
// one where it says med): the first connection the relay accepted (connect_ms), the first
// request bytes the client sent (request_ms), the first and last answer bytes the client got
// (byte1_ms, byteN_ms), the picture's body last written (written_ms, its modification time), put
// in place (placed_ms, placed_med_ms: the rename sets its change time) and shown by its control
// (shown_med_ms; the last one is the time itself).
// BM_PicturesOneAtATime/http2: 100 pictures asked for one at a time, 100 ms apart, through the
// download library alone: connections used, and the mean time for a picture to arrive.
//
// `bench_cold_dialog serve <count> [http2]` instead serves a page with <count> pictures through
// the same nginx and relay for a browser or curl to load (see cold_dialog_chromium.sh), and
// prints the connections and requests once its standard input closes.
//
// The program gives itself an avatar store under the build folder, or in the folder that
// COLD_DIALOG_INSTALL names (e.g. one on tmpfs, to set the disk's share of stored_s and of the
// time beside it): it sets PORTRIX_HKCU and starts itself again, since libportrix reads the
// registry while it loads.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "NginxServer.h"
#include "Portrix.h"
#include "control_grid.h"
#include "delay_relay.h"
#include "platform/capture.h"
#include "platform/pump.h"
#include "solid_gif.h"
#include "store_restart.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using nimbrel_test::NginxServer;

const std::string kInstall = [] {
    const char* chosen = std::getenv("COLD_DIALOG_INSTALL");
    return std::string(chosen != nullptr && *chosen != '\0' ? chosen : COLD_DIALOG_HOME "/install");
}();
constexpr std::chrono::milliseconds kOneWay{25};
constexpr int kSide = kGridSide;
constexpr int kFirstUser = 100000;
constexpr uint32_t kPictureColor = 0xC02020;
constexpr uint32_t kDefaultColor = 0x808080;
constexpr uint32_t kPlaceholderColor = 0x2020C0;
// Past this the placeholder has been painted: the default seen later is the fallback.
constexpr std::chrono::milliseconds kPlaceholderPainted{200};
constexpr std::chrono::seconds kGiveUp{60};
constexpr int kSequencePictures = 100;
constexpr std::chrono::milliseconds kSequenceGap{100};
const char* const kDefaults[] = {"default1.gif", "default2.gif", "man1.gif",      "man2.gif",
                                 "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif"};

std::string SolidGif(uint32_t rgb) {
    const std::string path = COLD_DIALOG_HOME "/solid.gif";
    const bool ok = WriteSolidGif(path, rgb, kSide);
    std::string bytes;
    if (FILE* file = ok ? std::fopen(path.c_str(), "rb") : nullptr) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            bytes.append(buffer, n);
        std::fclose(file);
    }
    return bytes;
}

uint32_t DefaultColorOf(const std::string& name) {
    return name.rfind("download", 0) == 0 ? kPlaceholderColor : kDefaultColor;
}

int PortOf(const std::string& address) {
    return std::atoi(address.substr(address.rfind(':') + 1).c_str());
}

// nginx with the users' pictures and the default pictures, and the relay in front of it.
struct DistantServer {
    DistantServer(bool http2, int users) : server(http2), relay(PortOf(server.Address()), kOneWay) {
        const std::string picture = SolidGif(kPictureColor);
        for (int i = 0; i < users; ++i)
            server.Put("Body/" + std::to_string(kFirstUser + i) + ".gif", picture);
        for (const char* name : kDefaults) server.Put(name, SolidGif(DefaultColorOf(name)));
    }
    bool Running() const { return server.Running() && relay.Running(); }
    size_t Connections() const {
        std::set<long> connections;
        for (const auto& request : server.Requests()) connections.insert(request.connection);
        return connections.size();
    }

    NginxServer server;
    bench::DelayRelay relay;
};

void ResetStore(bool withDefaults) {
    for (const char* directory : {"Body", "Up", "Face", "Default", "SNS"}) {
        std::error_code ignored;
        for (const auto& entry :
             fs::directory_iterator(fs::path(kInstall) / "Avatar" / directory, ignored))
            fs::remove_all(entry.path(), ignored);
    }
    if (!withDefaults) return;
    for (const char* name : kDefaults) {
        const std::string bytes = SolidGif(DefaultColorOf(name));
        if (FILE* file = std::fopen((kInstall + "/Avatar/Default/" + name).c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
    }
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Milliseconds(const timespec& to, const timespec& from) {
    return static_cast<double>(to.tv_sec - from.tv_sec) * 1e3 +
           static_cast<double>(to.tv_nsec - from.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

double Last(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// Where the time of one cold dialog went, counted from `start` (`startReal` on the file
// system's clock), for pictures `first`..`first + count - 1` shown after `shownMs`.
void CountPhases(benchmark::State& state, const bench::DelayRelay& relay, Clock::time_point start,
                 const timespec& startReal, int first, int count,
                 const std::vector<double>& shownMs) {
    std::vector<double> accepted, sent, received;
    for (const auto& event : relay.Events()) {
        auto& times = event.kind == bench::DelayRelay::Event::accepted ? accepted
                      : event.kind == bench::DelayRelay::Event::sent   ? sent
                                                                       : received;
        times.push_back(Milliseconds(event.at - start));
    }
    std::vector<double> written, placed;
    for (int i = 0; i < count; ++i) {
        struct stat info {};
        if (::stat((kInstall + "/Avatar/Body/" + std::to_string(first + i) + ".gif").c_str(),
                   &info) != 0)
            continue;
        written.push_back(Milliseconds(info.st_mtim, startReal));
        placed.push_back(Milliseconds(info.st_ctim, startReal));
    }
    const auto firstOf = [](const std::vector<double>& values) {
        return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
    };
    if (std::getenv("COLD_DIALOG_EVENTS") != nullptr) {
        const std::vector<const std::vector<double>*> all = {&accepted, &sent,   &received,
                                                             &written,  &placed, &shownMs};
        for (const std::vector<double>* times : all) {
            std::vector<double> sorted = *times;
            std::sort(sorted.begin(), sorted.end());
            for (double ms : sorted) std::fprintf(stderr, " %.0f", ms);
            std::fprintf(stderr, "\n");
        }
    }
    state.counters["connect_ms"] = firstOf(accepted);
    state.counters["request_ms"] = firstOf(sent);
    state.counters["byte1_ms"] = firstOf(received);
    state.counters["byteN_ms"] = Last(received);
    state.counters["written_ms"] = Last(written);
    state.counters["placed_med_ms"] = Median(placed);
    state.counters["placed_ms"] = Last(placed);
    state.counters["shown_med_ms"] = Median(shownMs);
}

void BM_ColdDialog(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool withDefaults = state.range(1) != 0;
    const bool http2 = state.range(2) != 0;
    for (auto _ : state) {
        DistantServer distant(http2, count);
        if (!distant.Running()) {
            state.SkipWithError(("no server: " + distant.server.StartError()).c_str());
            return;
        }
        ResetStore(withDefaults);
        ControlGrid dialog("cold", count, kFirstUser, distant.relay.Address());
        std::vector<bool> showing(static_cast<size_t>(count), false);
        std::vector<bool> defaultFirst(static_cast<size_t>(count), false);
        int showingCount = 0;
        std::vector<double> shownMs;

        const auto start = Clock::now();
        const auto startOnTheClock = fs::file_time_type::clock::now();
        timespec startReal{};
        ::clock_gettime(CLOCK_REALTIME, &startReal);
        for (auto& control : dialog.Controls()) control->Display();
        while (showingCount < count && Clock::now() - start < kGiveUp) {
            platform::PumpPendingMessages();
            const std::vector<uint32_t> shown = dialog.Centres();
            const bool placeholderPainted = Clock::now() - start > kPlaceholderPainted;
            for (size_t i = 0; i < shown.size(); ++i) {
                if (showing[i]) continue;
                if (shown[i] == kPictureColor) {
                    showing[i] = true;
                    ++showingCount;
                    shownMs.push_back(Milliseconds(Clock::now() - start));
                } else if (shown[i] == kDefaultColor && placeholderPainted) {
                    defaultFirst[i] = true;
                }
            }
            if (showingCount < count)
                platform::PumpMessagesUntil([] { return false; }, std::chrono::milliseconds(10));
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (showingCount < count) state.SkipWithError("not every picture showed");
        state.SetIterationTime(seconds);
        int defaults = 0;
        for (bool seen : defaultFirst) defaults += seen ? 1 : 0;
        state.counters["connections"] = static_cast<double>(distant.Connections());
        state.counters["requests"] = static_cast<double>(distant.server.Requests().size());
        state.counters["default_first"] = defaults;
        auto lastStored = startOnTheClock;
        for (int i = 0; i < count; ++i) {
            std::error_code ignored;
            const auto written = fs::last_write_time(
                kInstall + "/Avatar/Body/" + std::to_string(kFirstUser + i) + ".gif", ignored);
            if (!ignored) lastStored = std::max(lastStored, written);
        }
        state.counters["stored_s"] =
            std::chrono::duration<double>(lastStored - startOnTheClock).count();
        CountPhases(state, distant.relay, start, startReal, kFirstUser, count, shownMs);
    }
}
BENCHMARK(BM_ColdDialog)
    ->ArgNames({"n", "defaults", "http2"})
    ->ArgsProduct({{50, 200, 500}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void BM_PicturesOneAtATime(benchmark::State& state) {
    const bool http2 = state.range(0) != 0;
    for (auto _ : state) {
        DistantServer distant(http2, kSequencePictures);
        if (!distant.Running()) {
            state.SkipWithError(("no server: " + distant.server.StartError()).c_str());
            return;
        }
        ResetStore(true);
        CAvatarDownload download;
        const CString root = (kInstall + "\\Avatar\\").c_str();
        const CString address = distant.relay.Address().c_str();
        double arrivalSeconds = 0;
        for (int i = 0; i < kSequencePictures; ++i) {
            const std::string user = std::to_string(kFirstUser + i);
            const auto asked = Clock::now();
            download.StartDownload(user.c_str(), address, root, 1, 0);
            const fs::path path = kInstall + "/Avatar/Body/" + user + ".gif";
            while (!fs::exists(path) && Clock::now() - asked < kGiveUp)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            arrivalSeconds += std::chrono::duration<double>(Clock::now() - asked).count();
            std::this_thread::sleep_until(asked + kSequenceGap);
        }
        state.SetIterationTime(arrivalSeconds / kSequencePictures);
        state.counters["connections"] = static_cast<double>(distant.Connections());
        state.counters["requests"] = static_cast<double>(distant.server.Requests().size());
    }
}
BENCHMARK(BM_PicturesOneAtATime)
    ->ArgName("http2")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A page of <count> pictures for a browser, served as the dialog's are.
int ServeForBrowser(int count, bool http2) {
    DistantServer distant(http2, count);
    if (!distant.Running()) {
        std::cerr << "no server: " << distant.server.StartError() << "\n";
        return 1;
    }
    std::string page =
        "<!DOCTYPE html><html><head><script>"
        "window.addEventListener('load', () => {"
        " const pictures = performance.getEntriesByType('resource');"
        " const first = Math.min(...pictures.map(e => e.fetchStart));"
        " document.title = 'ms=' + (performance.now() - first).toFixed(1);"
        "});</script></head><body>";
    for (int i = 0; i < count; ++i)
        page += "<img src=\"/c_avatar/Body/" + std::to_string(kFirstUser + i) + ".gif\">";
    page += "</body></html>";
    distant.server.Put("page.html", page);
    std::cout << "http://" << distant.relay.Address() << "/c_avatar/page.html" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
    }
    std::cout << "connections " << distant.Connections() << " requests "
              << distant.server.Requests().size() << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    RestartWithStore(kInstall, kInstall + "/hkcu.reg", argv);
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "serve")
        return ServeForBrowser(std::atoi(argv[2]), argc == 4 && std::string(argv[3]) == "http2");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
