// Running a helper program of the tests as a process of its own.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace nimbrel_test {

inline pid_t StartProbe(const std::vector<std::string>& args) {  // its pid, or -1
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    return posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? child : -1;
}

// Waits (generously) for a started helper; false when it had to be killed.
inline bool FinishProbe(pid_t child, int* status) {
    if (child <= 0) return false;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((done = waitpid(child, status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done != 0) return true;
    kill(child, SIGKILL);
    waitpid(child, status, 0);
    return false;
}

inline bool RunProbe(const std::vector<std::string>& args, int* status) {
    return FinishProbe(StartProbe(args), status);
}

}  // namespace nimbrel_test
