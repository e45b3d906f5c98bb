// Which system calls of one thread wait on the disk, and where in the kernel: a watcher polls
// the thread's state every millisecond and, whenever it is in uninterruptible sleep (state D,
// which is how the kernel waits for a disk), notes the system call it is in, its first argument
// (a descriptor's file, when it is one) and its kernel stack, and how long the sleep lasted.
// Reading another thread's kernel stack needs root; without it the system call is still known.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace bench {

class DiskWaits {
public:
    using Clock = std::chrono::steady_clock;
    struct Wait {
        Clock::time_point start, last;
        std::string call;   // /proc/.../syscall: the number and its arguments
        std::string file;   // the file of the first argument, when it is a descriptor
        std::string stack;  // the kernel stack, innermost first
        double Ms() const {
            return std::chrono::duration<double, std::milli>(last - start).count();
        }
    };

    explicit DiskWaits(pid_t tid) : task_("/proc/self/task/" + std::to_string(tid)) {
        watcher_ = std::thread([this] { Watch(); });
    }
    ~DiskWaits() { Stop(); }
    void Stop() {
        stop_ = true;
        if (watcher_.joinable()) watcher_.join();
    }

    // The waits of at least `atLeastMs`, longest first; call after Stop.
    void Report(FILE* out, double atLeastMs) const {
        std::vector<Wait> long_waits;
        for (const Wait& wait : waits_)
            if (wait.Ms() >= atLeastMs) long_waits.push_back(wait);
        std::sort(long_waits.begin(), long_waits.end(),
                  [](const Wait& a, const Wait& b) { return a.Ms() > b.Ms(); });
        std::fprintf(out, "disk waits of the UI thread of %.0f ms or more: %zu (of %zu)\n",
                     atLeastMs, long_waits.size(), waits_.size());
        for (const Wait& wait : long_waits) {
            std::fprintf(out, "  %.1f ms in syscall %s%s%s\n%s", wait.Ms(), wait.call.c_str(),
                         wait.file.empty() ? "" : " on ", wait.file.c_str(), wait.stack.c_str());
        }
    }

private:
    static std::string Read(const std::string& path) {
        std::string text;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, size_t(n));
        ::close(fd);
        return text;
    }

    // The state letter of /proc/.../stat, after the parenthesised name.
    char State(int statFd) const {
        char text[512];
        const ssize_t n = ::pread(statFd, text, sizeof text - 1, 0);
        if (n <= 0) return '?';
        text[n] = 0;
        const char* close = std::strrchr(text, ')');
        return close != nullptr && close[1] == ' ' ? close[2] : '?';
    }

    void Watch() {
        const int statFd = ::open((task_ + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (statFd < 0) return;
        bool inWait = false;
        while (!stop_) {
            const auto now = Clock::now();
            if (State(statFd) == 'D') {
                if (!inWait) {
                    Wait wait{now, now, Read(task_ + "/syscall"), "", Read(task_ + "/stack")};
                    while (!wait.call.empty() && wait.call.back() == '\n') wait.call.pop_back();
                    long number = -1;
                    unsigned long first = 0;
                    char link[512] = {};
                    if (std::sscanf(wait.call.c_str(), "%ld %lx", &number, &first) == 2 &&
                        number >= 0 && first < 65536 &&
                        ::readlink(("/proc/self/fd/" + std::to_string(first)).c_str(), link,
                                   sizeof link - 1) > 0)
                        wait.file = link;
                    waits_.push_back(wait);
                    inWait = true;
                }
                waits_.back().last = Clock::now();
            } else {
                inWait = false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ::close(statFd);
    }

    const std::string task_;
    std::atomic<bool> stop_{false};
    std::vector<Wait> waits_;
    std::thread watcher_;
};

}  // namespace bench
