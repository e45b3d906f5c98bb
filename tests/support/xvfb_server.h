// A virtual X server for one test program: Xvfb started as a child on the first free display
// number (it picks it itself with -displayfd), stopped when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace portrix_test {

class XvfbServer {
public:
    // program: the Xvfb binary; screen: its geometry, e.g. "1280x1024x24".
    XvfbServer(const std::string& program, const std::string& screen) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], kNumberFd);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const std::string fd = std::to_string(kNumberFd);
        std::vector<std::string> args = {program, "-displayfd", fd,          "-screen",
                                         "0",     screen,       "-nolisten", "tcp"};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        // Xvfb writes the number once it accepts connections.
        std::string number;
        pollfd readable{pipeFds[0], POLLIN, 0};
        char c;
        while (pid_ > 0 && poll(&readable, 1, kStartTimeoutMs) == 1 &&
               read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(pipeFds[0]);
        if (!number.empty()) display_ = ":" + number;
    }
    ~XvfbServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status;
        waitpid(pid_, &status, 0);
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", or empty when the server did not start.
    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }

private:
    static constexpr int kNumberFd = 3;
    static constexpr int kStartTimeoutMs = 30000;
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace portrix_test
