// The system calls the user-interface thread makes for a dialog of avatars opened cold.
//
// A dialog of N controls (default 200) for users whose pictures are not in the store (the
// default pictures are) opens against Debian's nginx behind a relay that delays every byte by
// 25 ms each way, as bench_cold_dialog's does. From the first Display until every control
// shows its user's picture, strace counts the calls of the user-interface thread alone (it is
// attached to that thread, not to the process, so the download library's threads and the
// playback threads are not counted). Printed per control: the file-system calls (those that
// name a path, and those on a descriptor that only a file or directory has), the stat calls
// among them (lstat, stat, newfstatat, statx), every call, and the ten most frequent
// file-system calls. Each traced dialog is followed by the same dialog untraced, which gives
// the user-interface thread's CPU time in user and in kernel mode (getrusage of the thread).
//
//   bench_ui_file_calls [controls] [runs]
//
// Needs strace (apt-get install strace) and nginx; the program gives itself an avatar store
// under the build folder (it sets PORTRIX_HKCU and starts itself again).
#include <gif_lib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
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

const std::string kHome = UI_FILE_CALLS_HOME;
const std::string kInstall = kHome + "/install";
constexpr std::chrono::milliseconds kOneWay{25};
constexpr int kSide = kGridSide;
constexpr int kFirstUser = 200000;
constexpr int kDefaultControls = 200;
constexpr int kDefaultRuns = 3;
constexpr uint32_t kPictureColor = 0xC02020;
constexpr uint32_t kDefaultColor = 0x808080;
constexpr std::chrono::seconds kGiveUp{60};
constexpr std::chrono::seconds kAttachWait{10};
constexpr int kTopCalls = 10;
const char* const kDefaults[] = {"default1.gif", "default2.gif", "man1.gif",      "man2.gif",
                                 "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif"};

// Calls that reach the file system: by a path, or on a descriptor that only a file or a
// directory has. read, write, close and poll are left out: the thread also uses them on its
// event and wake-up descriptors, and every file it reads is opened first.
const std::set<std::string> kFileSystemCalls = {"open",
                                                "openat",
                                                "openat2",
                                                "creat",
                                                "stat",
                                                "lstat",
                                                "fstat",
                                                "newfstatat",
                                                "statx",
                                                "access",
                                                "faccessat",
                                                "faccessat2",
                                                "readlink",
                                                "readlinkat",
                                                "getdents64",
                                                "getdents",
                                                "statfs",
                                                "fstatfs",
                                                "flock",
                                                "fcntl",
                                                "lseek",
                                                "ftruncate",
                                                "truncate",
                                                "unlink",
                                                "unlinkat",
                                                "rename",
                                                "renameat",
                                                "renameat2",
                                                "mkdir",
                                                "mkdirat",
                                                "inotify_add_watch",
                                                "inotify_init1",
                                                "pread64",
                                                "pwrite64",
                                                "fsync",
                                                "fdatasync",
                                                "getcwd",
                                                "chdir",
                                                "fchdir",
                                                "utimensat",
                                                "fchmod"};

std::string SolidGifBytes(uint32_t rgb) {
    const std::string path = kHome + "/solid.gif";
    if (!WriteSolidGif(path, rgb, kSide)) return {};
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int PortOf(const std::string& address) {
    return std::atoi(address.substr(address.rfind(':') + 1).c_str());
}

void ResetStore() {
    for (const char* directory : {"Body", "Up", "Face", "Default", "SNS"}) {
        std::error_code ignored;
        for (const auto& entry :
             fs::directory_iterator(fs::path(kInstall) / "Avatar" / directory, ignored))
            fs::remove_all(entry.path(), ignored);
    }
    const std::string bytes = SolidGifBytes(kDefaultColor);
    for (const char* name : kDefaults) {
        std::ofstream out(kInstall + "/Avatar/Default/" + name, std::ios::binary);
        out << bytes;
    }
}

// strace attached to one thread of this process; its summary once stopped.
class ThreadTrace {
public:
    explicit ThreadTrace(pid_t thread) : m_output(kHome + "/strace.txt") {
        ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
        const std::string tid = std::to_string(thread);
        m_child = ::fork();
        if (m_child == 0) {
            ::execlp("strace", "strace", "-qq", "-c", "-U", "name,calls", "-o", m_output.c_str(),
                     "-p", tid.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = Clock::now() + kAttachWait;
        while (m_child > 0 && !Traced(thread) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        m_attached = m_child > 0 && Traced(thread);
    }
    ~ThreadTrace() { Stop(); }
    ThreadTrace(const ThreadTrace&) = delete;
    ThreadTrace& operator=(const ThreadTrace&) = delete;

    bool Attached() const { return m_attached; }

    // Detaches strace and reads its count of each call.
    std::map<std::string, long> Stop() {
        std::map<std::string, long> calls;
        if (m_child <= 0) return calls;
        ::kill(m_child, SIGINT);
        int status = 0;
        ::waitpid(m_child, &status, 0);
        m_child = -1;
        std::ifstream in(m_output);
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string name;
            long count = 0;
            if (fields >> name >> count && name != "total" && name.find('-') != 0)
                calls[name] += count;
        }
        return calls;
    }

private:
    static bool Traced(pid_t thread) {
        std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
        }
        return false;
    }

    std::string m_output;
    pid_t m_child = -1;
    bool m_attached = false;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// How many controls show the user's picture.
int Showing(const ControlGrid& dialog) {
    const std::vector<uint32_t> centres = dialog.Centres();
    return static_cast<int>(std::count(centres.begin(), centres.end(), kPictureColor));
}

// One cold dialog, traced or timed; false when it could not run.
bool RunOnce(int count, int run, bool traced) {
    nimbrel_test::NginxServer server(false);
    bench::DelayRelay relay(PortOf(server.Address()), kOneWay);
    if (!server.Running() || !relay.Running()) {
        std::fprintf(stderr, "no server: %s\n", server.StartError().c_str());
        return false;
    }
    const std::string picture = SolidGifBytes(kPictureColor);
    for (int i = 0; i < count; ++i)
        server.Put("Body/" + std::to_string(kFirstUser + i) + ".gif", picture);
    ResetStore();
    ControlGrid dialog("files", count, kFirstUser, relay.Address());

    std::unique_ptr<ThreadTrace> trace;
    if (traced) {
        trace = std::make_unique<ThreadTrace>(static_cast<pid_t>(::syscall(SYS_gettid)));
        if (!trace->Attached()) {
            std::fprintf(stderr, "strace could not attach (is it installed?)\n");
            return false;
        }
    }
    rusage before{};
    ::getrusage(RUSAGE_THREAD, &before);
    const auto start = Clock::now();
    for (auto& control : dialog.Controls()) control->Display();
    int showing = 0;
    while ((showing = Showing(dialog)) < count && Clock::now() - start < kGiveUp)
        platform::PumpMessagesUntil([] { return false; }, std::chrono::milliseconds(10));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!traced) {
        rusage after{};
        ::getrusage(RUSAGE_THREAD, &after);
        const double user = Seconds(after.ru_utime) - Seconds(before.ru_utime);
        const double kernel = Seconds(after.ru_stime) - Seconds(before.ru_stime);
        std::printf(
            "  untraced: %d/%d shown in %.2f s; UI thread CPU %.0f ms user, %.0f ms "
            "kernel (%.0f %% kernel)\n",
            showing, count, seconds, user * 1e3, kernel * 1e3,
            100.0 * kernel / std::max(user + kernel, 1e-9));
        std::fflush(stdout);
        return showing == count;
    }
    const std::map<std::string, long> calls = trace->Stop();

    long all = 0, files = 0, stats = 0;
    std::vector<std::pair<long, std::string>> ranked;
    for (const auto& [name, n] : calls) {
        all += n;
        if (name == "lstat" || name == "stat" || name == "newfstatat" || name == "statx")
            stats += n;
        if (kFileSystemCalls.count(name) == 0) continue;
        files += n;
        ranked.emplace_back(n, name);
    }
    std::sort(ranked.rbegin(), ranked.rend());
    const auto perControl = [count](long n) { return static_cast<double>(n) / count; };
    std::printf(
        "run %d: %d/%d shown in %.2f s traced; per control: file-system %.1f (stat %.1f), "
        "all calls %.1f\n  ",
        run, showing, count, seconds, perControl(files), perControl(stats), perControl(all));
    for (size_t i = 0; i < ranked.size() && i < static_cast<size_t>(kTopCalls); ++i)
        std::printf(" %s %.1f", ranked[i].second.c_str(), perControl(ranked[i].first));
    std::printf("\n");
    std::fflush(stdout);
    return showing == count;
}

}  // namespace

int main(int argc, char** argv) {
    RestartWithStore(kInstall, kHome + "/hkcu.reg", argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultControls;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultRuns;
    bool ok = true;
    for (int run = 1; run <= runs; ++run) {
        ok = RunOnce(count, run, true) && ok;
        ok = RunOnce(count, run, false) && ok;
    }
    return ok ? 0 : 1;
}
