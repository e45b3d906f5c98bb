// Another program saturating the disk: `dd ... conv=fsync` in a loop, in a process of its own,
// writing a file in `directory` (put it on the file system under test). It stops by itself after
// `seconds`, and the destructor stops it sooner and removes the file.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class DiskWriter {
public:
    static constexpr int kMegabytesPerPass = 256;

    DiskWriter(const std::string& directory, int seconds)
        : m_file(directory + "/disk_writer.fill") {
        const std::string loop = "end=$(($(date +%s) + " + std::to_string(seconds) +
                                 ")); while [ $(date +%s) -lt $end ]; do dd if=/dev/zero of='" +
                                 m_file + "' bs=1M count=" + std::to_string(kMegabytesPerPass) +
                                 " conv=fsync 2>/dev/null; done";
        m_child = ::fork();
        if (m_child == 0) {
            ::setpgid(0, 0);  // dd goes with the shell when it is stopped
            // Another program runs at the usual priority, not at one the benchmark was given.
            ::setpriority(PRIO_PROCESS, 0, 0);
            ::execl("/bin/sh", "sh", "-c", loop.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (m_child > 0) ::setpgid(m_child, m_child);
    }
    ~DiskWriter() {
        if (m_child > 0) {
            ::kill(-m_child, SIGTERM);
            ::waitpid(m_child, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove(m_file, ignored);
    }
    DiskWriter(const DiskWriter&) = delete;
    DiskWriter& operator=(const DiskWriter&) = delete;

    bool Running() const { return m_child > 0; }

private:
    std::string m_file;
    pid_t m_child = -1;
};

// The longest gap, the 99th percentile and the count of gaps over `over` (all in ms).
struct GapFigures {
    double longest = 0, p99 = 0;
    int over = 0;
};

inline GapFigures FiguresOf(std::vector<double> gaps, double over) {
    GapFigures figures;
    if (gaps.empty()) return figures;
    for (double gap : gaps) figures.over += gap > over ? 1 : 0;
    std::sort(gaps.begin(), gaps.end());
    figures.longest = gaps.back();
    figures.p99 = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
    return figures;
}

}  // namespace bench
