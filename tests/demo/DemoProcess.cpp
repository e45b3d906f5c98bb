#include "DemoProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace demo_test {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::map<std::string, std::string>& environment) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr)
            merged[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
    }
    for (const auto& [name, value] : environment) merged[name] = value;
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : merged) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (std::string& text : envStrings) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argCopies = argv;
    for (std::string& text : argCopies) args.push_back(text.data());
    args.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

bool ChildProcess::ReadSome(std::chrono::milliseconds timeout) {
    if (out_ < 0) return false;
    pollfd fd = {out_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<size_t>(got));
    return true;
}

std::string ChildProcess::WaitForLine(const std::function<bool(const std::string&)>& match,
                                      std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        size_t end;
        while ((end = output_.find('\n', scanned_)) != std::string::npos) {
            const std::string line = output_.substr(scanned_, end - scanned_);
            scanned_ = end + 1;
            if (match(line)) return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !ReadSome(left)) return "";
    }
}

bool ChildProcess::WaitForText(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || !ReadSome(left)) return false;
    }
    return true;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (pid_ > 0 && Clock::now() < deadline) {
        if (ReadSome(std::chrono::milliseconds(100))) continue;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            while (ReadSome(std::chrono::milliseconds(0))) {
            }
            pid_ = -1;
            if (WIFSIGNALED(status)) return kSignalled + WTERMSIG(status);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        usleep(20000);  // output closed, the process not yet gone
    }
    return -1;  // the destructor kills it
}

}  // namespace demo_test
