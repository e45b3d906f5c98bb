// What showing windows on an X server costs the process: an idle shown dialog (nothing drawn,
// nothing should be spent), and a 48x48 animation playing in a dialog, on the screen against
// the same with the display turned off. Starts Xvfb itself and measures each case in a fresh
// process of its own, since a process decides once whether it has a display.
//   bench_screen_playback            runs both cases both ways and prints a table
//   bench_screen_playback --measure  one run in this process, printed as "idle_cpu_s
//                                     play_cpu_s frames"
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "playback_bench_common.h"
#include "platform/display.h"
#include "run_program.h"
#include "xvfb_server.h"

namespace {

using playback_bench::ProcessUsage;

constexpr int kSide = 48;
constexpr int kFrames = 20;
constexpr int kDelay = 1;  // hundredths, raised to the 100 ms minimum on playback
constexpr std::chrono::milliseconds kWarmUp{500};
constexpr std::chrono::milliseconds kMeasured{3000};
constexpr int kRuns = 3;

void Measure() {
    double idle = 0, play = 0;
    long frames = 0;
    {
        playback_bench::VisibleDialog dialog(200, 150);
        dialog.AddChild(20, 30, 64, 64);
        playback_bench::RunMessageLoop(dialog.hwnd, kWarmUp);
        const ProcessUsage before = ProcessUsage::Now();
        playback_bench::RunMessageLoop(dialog.hwnd, kMeasured);
        idle = (ProcessUsage::Now() - before).cpuSeconds;
    }
    {
        playback_bench::VisibleDialog dialog(200, 150);
        playback_bench::CountingPicture control;
        control.SubclassWindow(dialog.AddChild(20, 30, kSide, kSide));
        const std::vector<uint8_t> bytes = picture_bench::Animation(kFrames, kSide, kDelay);
        HGLOBAL block = picture_bench::ToGlobal(bytes);
        control.LoadMemory(block, static_cast<DWORD>(bytes.size()));
        control.StartDisplay();
        playback_bench::RunMessageLoop(dialog.hwnd, kWarmUp);
        const long paintsBefore = control.Paints();
        const ProcessUsage before = ProcessUsage::Now();
        playback_bench::RunMessageLoop(dialog.hwnd, kMeasured);
        play = (ProcessUsage::Now() - before).cpuSeconds;
        frames = control.Paints() - paintsBefore;
        control.StopPlayback();
        control.UnloadPicture();
        GlobalFree(block);
    }
    std::printf("%.6f %.6f %ld %d\n", idle, play, frames, platform::HasDisplay() ? 1 : 0);
}

struct Figures {
    double idle = 0, play = 0;
    long frames = 0;
    bool onScreen = false;
};

bool RunChild(const char* self, const std::vector<std::string>& environment, Figures* figures) {
    const portrix_test::ProgramRun run =
        portrix_test::RunProgram({self, "--measure"}, portrix_test::EnvironmentWith(environment));
    int onScreen = 0;
    if (run.status != 0 || std::sscanf(run.out.c_str(), "%lf %lf %ld %d", &figures->idle,
                                       &figures->play, &figures->frames, &onScreen) != 4)
        return false;
    figures->onScreen = onScreen != 0;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--measure") == 0) {
        Measure();
        return 0;
    }
    portrix_test::XvfbServer server("/usr/bin/Xvfb", "1024x768x24");
    if (server.display().empty()) {
        std::fprintf(stderr, "bench_screen_playback: needs Xvfb (Debian package xvfb)\n");
        return 1;
    }
    std::printf("%-10s %-4s %14s %14s %8s %16s\n", "where", "run", "idle cpu ms", "play cpu ms",
                "frames", "play us/frame");
    double totals[2] = {0, 0};
    for (int run = 1; run <= kRuns; ++run) {
        for (int screen = 0; screen < 2; ++screen) {
            Figures f;
            const std::vector<std::string> environment =
                screen
                    ? std::vector<std::string>{"DISPLAY=" + server.display(), "PORTRIX_NO_DISPLAY="}
                    : std::vector<std::string>{"PORTRIX_NO_DISPLAY=1"};
            if (!RunChild(argv[0], environment, &f) || f.onScreen != (screen == 1)) {
                std::fprintf(stderr, "bench_screen_playback: a measuring run failed\n");
                return 1;
            }
            totals[screen] += f.play;
            std::printf("%-10s %-4d %14.2f %14.2f %8ld %16.1f\n", screen ? "screen" : "headless",
                        run, f.idle * 1e3, f.play * 1e3, f.frames,
                        f.frames > 0 ? f.play * 1e6 / f.frames : 0.0);
        }
    }
    std::printf("playing on the screen costs %.2fx the headless CPU (over %d runs of %lld ms)\n",
                totals[0] > 0 ? totals[1] / totals[0] : 0.0, kRuns,
                static_cast<long long>(kMeasured.count()));
    return 0;
}
