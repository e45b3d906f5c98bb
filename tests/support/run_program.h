// Runs a program in a process of its own: to the end, with the environment and working directory
// given, collecting what it writes; or started with this process's environment and output, and
// waited for with a time limit.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
extern char** environ;
#endif

namespace portrix_test {

struct ProgramRun {
    int status = -1;  // the exit status; -1 when it did not start or end normally
    std::string out, err;
};

#ifdef _WIN32
// Built for Windows: the run to the end only. argv[0] is found as CreateProcessA finds a program
// (this program's folder first); the outputs go through pipes large enough for a probe's lines.
inline std::string ReadPipe(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
    CloseHandle(pipe);
    return text;
}

inline std::string QuotedArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else {
            // Backslashes before a quote are doubled, and the quote escaped.
            if (c == '"') quoted.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, '\\');
    return quoted + "\"";
}

inline ProgramRun RunProgram(const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment,
                             const std::string& directory = "") {
    ProgramRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 1 << 20)) return run;
    if (!CreatePipe(&errRead, &errWrite, &inherit, 1 << 20)) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        return run;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    std::string line;
    for (const std::string& arg : argv) line += (line.empty() ? "" : " ") + QuotedArgument(arg);
    std::string block;
    for (const std::string& entry : environment) block += entry + '\0';
    block += '\0';
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process = {};
    const bool started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, block.data(),
                       directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    run.err = ReadPipe(errRead);
    run.out = ReadPipe(outRead);
    if (started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (GetExitCodeProcess(process.hProcess, &code)) run.status = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return run;
}

#else

inline std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(fd);
    return text;
}

// argv[0] is the program's path; environment holds every NAME=value entry it gets; directory
// is where it starts (empty: where this process is).
inline ProgramRun RunProgram(const std::vector<std::string>& argv,
                             const std::vector<std::string>& environment,
                             const std::string& directory = "") {
    ProgramRun run;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    std::vector<char*> args, envp;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    const bool started =
        posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    run.err = ReadToEnd(err[0]);  // small outputs: neither pipe fills while the other is read
    run.out = ReadToEnd(out[0]);
    int status = 0;
    if (started && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    return run;
}

// Starts a program (argv[0] its path) with this process's environment and output, or with the
// environment given and its output (and errors) written to outFile (errFile); its pid, or -1.
inline pid_t StartProgram(const std::vector<std::string>& argv,
                          const std::vector<std::string>* environment = nullptr,
                          const std::string& outFile = "", const std::string& errFile = "") {
    std::vector<char*> args, envp;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    if (environment != nullptr) {
        for (const std::string& entry : *environment)
            envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!errFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = -1;
    const bool started = posix_spawn(&child, args[0], &actions, nullptr, args.data(),
                                     environment ? envp.data() : environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started ? child : -1;
}

// Waits (generously) for a started program and gives its wait status; false when it had to be
// killed.
inline bool FinishProgram(pid_t child, int* status) {
    if (child <= 0) return false;
    pid_t done = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((done = waitpid(child, status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (done != 0) return true;
    kill(child, SIGKILL);
    waitpid(child, status, 0);
    return false;
}

#endif  // _WIN32

inline char** ProcessEnvironment() {
#ifdef _WIN32
    return _environ;
#else
    return environ;
#endif
}

// This process's environment, with the given NAME=value entries in place of its own.
inline std::vector<std::string> EnvironmentWith(const std::vector<std::string>& entries) {
    std::vector<std::string> environment = entries;
    for (char** entry = ProcessEnvironment(); *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : entries) replaced = replaced || given.rfind(name, 0) == 0;
        if (!replaced) environment.push_back(text);
    }
    return environment;
}

}  // namespace portrix_test
