// The housekeeping sweep as the host meets it: LoadLibraryA of the module while a sweep is due
// and N files of the store are old enough to go (spread over Body, Face, Up and SNS). Only the
// load is timed; making the store and unloading are not. For comparison, the same files
// removed with plain unlink(). per_file is the time of one deletion.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/msgbox.h"
#include "temp_dir.h"
#include "afxwin.h"

namespace {

constexpr long long kDaySeconds = 24 * 3600;
const char* const kSwept[][2] = {
    {"Body", ".gif"}, {"Face", ".gif"}, {"Up", ".gif"}, {"SNS", ".txt"}};

// A store whose files were all created now, and whose last sweep was 30 days before now.
class OldStore {
public:
    OldStore() : m_root(m_dir / "App/Avatar") {
        mkdir((m_dir / "App").c_str(), 0777);
        mkdir(m_root.c_str(), 0777);
        for (const auto& swept : kSwept) mkdir((m_root + "/" + swept[0]).c_str(), 0777);
        mkdir((m_root + "/Default").c_str(), 0777);
        m_dir.Write(
            "hkcu.reg",
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n\"Path\"=\"" +
                m_dir.path() + "/App\"\r\n");
        setenv("PORTRIX_HKCU", (m_dir / "hkcu.reg").c_str(), 1);
    }

    // Creates count files; returns their paths.
    std::vector<std::string> Fill(int count) const {
        std::vector<std::string> paths;
        char name[32];
        for (int i = 0; i < count; ++i) {
            const auto& swept = kSwept[i % 4];
            std::snprintf(name, sizeof(name), "/%07d", i);
            paths.push_back(m_root + "/" + swept[0] + name + swept[1]);
            const int fd =
                open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0) close(fd);
        }
        return paths;
    }
    void MarkSweepDue() const {
        const time_t past = time(nullptr) - 30 * kDaySeconds;
        struct tm local;
        localtime_r(&past, &local);
        char text[64];
        strftime(text, sizeof(text), "[SYSTEM]\r\nLASTDELETETIME=%Y/%m/%d %H:%M:%S\r\n", &local);
        m_dir.Write("App/Avatar/config.ini", text);
    }
    bool Gone(const std::vector<std::string>& paths) const {
        for (const std::string& path : paths) {
            if (access(path.c_str(), F_OK) == 0) return false;
        }
        return true;
    }

private:
    portrix_test::TempDir m_dir;
    std::string m_root;
};

// $PORTRIX_SWEEP_MODULE, to compare another build of the module, else the one built beside.
const char* ModuleToLoad() {
    const char* chosen = std::getenv("PORTRIX_SWEEP_MODULE");
    return chosen != nullptr && *chosen != '\0' ? chosen : PORTRIX_SWEEP_MODULE;
}

void BM_LoadWithDueSweep(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    OldStore store;
    platform::SetMessageBoxSink([](LPCTSTR, UINT, UINT) { return IDOK; });
    // Every file created now is 20 days old by the layer's clock.
    platform::SetClockOffset(std::chrono::seconds(20 * kDaySeconds));
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<std::string> paths = store.Fill(files);
        store.MarkSweepDue();
        state.ResumeTiming();
        const HMODULE module = LoadLibraryA(ModuleToLoad());
        state.PauseTiming();
        if (module == nullptr || !store.Gone(paths)) {
            state.SkipWithError("the load did not sweep the store");
            break;
        }
        FreeLibrary(module);
        state.ResumeTiming();
    }
    platform::SetClockOffset(std::chrono::seconds(0));
    state.counters["per_file"] = benchmark::Counter(
        files, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LoadWithDueSweep)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PlainUnlink(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    OldStore store;
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<std::string> paths = store.Fill(files);
        state.ResumeTiming();
        for (const std::string& path : paths) unlink(path.c_str());
    }
    state.counters["per_file"] = benchmark::Counter(
        files, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlainUnlink)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
