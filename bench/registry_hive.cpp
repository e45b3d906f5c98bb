// What the library's load pays for the registry: opening HKEY_CURRENT_USER\Software\szDomain\Share
// and reading its Path value from a hive of N other keys (the Share key comes last). The hive
// is parsed afresh by every open, so the time is the parse of the whole file.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "temp_dir.h"
#include "windows.h"

namespace {

std::string HiveWithKeys(int count) {
    std::string text = "REGEDIT4\r\n";
    char line[160];
    for (int i = 0; i < count; ++i) {
        std::snprintf(
            line, sizeof(line),
            "\r\n[HKEY_CURRENT_USER\\Software\\Bench\\Key%07d]\r\n\"Value\"=\"data %d\"\r\n", i, i);
        text += line;
    }
    text += "\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n\"Path\"=\"/opt/app\"\r\n";
    return text;
}

void BM_OpenShareKeyAndReadPath(benchmark::State& state) {
    const int keys = static_cast<int>(state.range(0));
    portrix_test::TempDir dir;
    const std::string text = HiveWithKeys(keys);
    setenv("PORTRIX_HKCU", dir.Write("hkcu.reg", text).c_str(), 1);
    for (auto _ : state) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\szDomain\\Share", 0, KEY_QUERY_VALUE,
                          &key) != ERROR_SUCCESS) {
            state.SkipWithError("the Share key was not found");
            break;
        }
        char path[512];
        DWORD size = sizeof(path);
        const LONG result =
            RegQueryValueExA(key, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS) {
            state.SkipWithError("the Path value was not read");
            break;
        }
    }
    state.counters["hive_MB"] = static_cast<double>(text.size()) / 1e6;
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_OpenShareKeyAndReadPath)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
