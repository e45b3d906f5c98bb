// Runs a program as a child process and reads its standard output line by line, with
// timeouts, so that a test can wait for what the program prints.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace demo_test {

class ChildProcess {
public:
    // Starts `argv[0]` with the given arguments; `environment` entries are added to (or replace
    // those of) the test's own environment. Standard error goes to the test's.
    ChildProcess(const std::vector<std::string>& argv,
                 const std::map<std::string, std::string>& environment = {});
    ~ChildProcess();  // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Reads lines until one satisfies `match` (returned) or the timeout passes (empty).
    std::string WaitForLine(const std::function<bool(const std::string&)>& match,
                            std::chrono::milliseconds timeout);
    // Reads until the output so far contains `text` anywhere; false at a timeout.
    bool WaitForText(const std::string& text, std::chrono::milliseconds timeout);
    // Reads everything until the child closes its output, then reaps it: its exit code,
    // kSignalled plus the signal's number when a signal ended it (as a shell reports it), or -1
    // at a timeout (the child is then killed).
    int WaitForExit(std::chrono::milliseconds timeout);
    static constexpr int kSignalled = 128;

    const std::string& output() const { return output_; }

private:
    bool ReadSome(std::chrono::milliseconds timeout);  // false at end of output or timeout

    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    size_t scanned_ = 0;  // lines before this offset were offered to a matcher
};

}  // namespace demo_test
