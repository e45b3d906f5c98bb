// portrix-demo run as a user runs it: a short run against its embedded server must exit 0,
// leave its snapshots, and its final snapshot must show each control's picture, checked here
// against the artwork files the demo wrote (read back with giflib, not the platform's decoder).
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "DemoProcess.h"
#include "GifReading.h"
#include "platform/capture.h"
#include "run_program.h"
#include "temp_dir.h"

namespace demo_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct LayoutLine {
    std::string control;
    int left = 0, top = 0;
    std::string artwork;  // "-", a file name, or "animated:" and a file name
    int captionLeft = 0, captionTop = 0, captionRight = 0, captionBottom = 0;
};

std::vector<LayoutLine> ReadLayout(const std::string& path) {
    std::vector<LayoutLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (text.empty() || text[0] == '#') continue;
        std::istringstream fields(text);
        LayoutLine line;
        fields >> line.control >> line.left >> line.top >> line.artwork >> line.captionLeft >>
            line.captionTop >> line.captionRight >> line.captionBottom;
        lines.push_back(line);
    }
    return lines;
}

// Pixels of the snapshot that differ from the picture at (left, top). A still picture is
// compared where it is opaque; an animation where its first frame is never drawn over, since
// the snapshot may catch any later frame.
int Mismatches(const std::vector<uint32_t>& shot, int shotWidth, const LayoutLine& line,
               const ReadGif& gif, bool animated) {
    const ReadFrame& first = gif.frames.front();
    int mismatches = 0;
    for (int y = 0; y < first.height; ++y)
        for (int x = 0; x < first.width; ++x) {
            const uint32_t expected = first.rgb[static_cast<size_t>(y * first.width + x)];
            if (expected == kSeeThrough) continue;
            bool coveredLater = false;
            for (size_t f = 1; animated && f < gif.frames.size(); ++f) {
                const ReadFrame& later = gif.frames[f];
                coveredLater = coveredLater ||
                               (x + first.x >= later.x && x + first.x < later.x + later.width &&
                                y + first.y >= later.y && y + first.y < later.y + later.height);
            }
            if (coveredLater) continue;
            const int sx = line.left + first.x + x, sy = line.top + first.y + y;
            mismatches += shot[static_cast<size_t>(sy * shotWidth + sx)] != expected;
        }
    return mismatches;
}

// The throwaway install the demo names on its first line.
std::string InstallDir(const std::string& output) {
    const std::string label = "install directory ";
    const size_t start = output.find(label);
    if (start == std::string::npos) return "";
    const size_t from = start + label.size();
    return output.substr(from, output.find(' ', from) - from);
}

TEST(DemoRunTest, ShortRunEndsWithEveryControlOnItsPicture) {
    const portrix_test::TempDir outDir, homeDir;
    const std::string& out = outDir.path();
    const std::string& home = homeDir.path();
    ChildProcess demo({PORTRIX_DEMO_PROGRAM, "--out", out, "--seconds", "6"},
                      {{"HOME", home}, {"XDG_CONFIG_HOME", home + "/config"}});
    ASSERT_TRUE(demo.started());
    ASSERT_EQ(demo.WaitForExit(180s), 0) << demo.output();
    const std::string& output = demo.output();
    EXPECT_NE(output.find("every control ended where it should"), std::string::npos) << output;
    EXPECT_NE(output.find("snapshots in " + out), std::string::npos) << output;

    // It kept away from the user's own registry and removed its throwaway install.
    EXPECT_FALSE(fs::exists(home + "/config/portrix")) << "the user's hive was touched";
    EXPECT_FALSE(fs::exists(home + "/.config/portrix")) << "the user's hive was touched";
    const std::string installDir = InstallDir(output);
    ASSERT_FALSE(installDir.empty()) << output;
    EXPECT_FALSE(fs::exists(installDir)) << installDir;

    for (const char* file : {"final.png", "contact-sheet.png", "layout.txt"})
        EXPECT_TRUE(fs::exists(out + "/" + file)) << file;
    int snapshots = 0;
    for (const auto& entry : fs::directory_iterator(out))
        snapshots += entry.path().filename().string().rfind("snapshot-", 0) == 0;
    EXPECT_EQ(snapshots, 4);

    std::vector<uint32_t> shot;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::LoadPng(out + "/final.png", &shot, &width, &height));
    int compared = 0;
    for (const LayoutLine& line : ReadLayout(out + "/layout.txt")) {
        if (line.artwork == "-") continue;
        const bool animated = line.artwork.rfind("animated:", 0) == 0;
        const std::string file =
            out + "/artwork/" + (animated ? line.artwork.substr(9) : line.artwork);
        ReadGif gif;
        ASSERT_TRUE(ReadGifFile(file, &gif)) << file;
        ASSERT_LE(line.left + gif.width, width);
        ASSERT_LE(line.top + gif.height, height);
        EXPECT_EQ(Mismatches(shot, width, line, gif, animated), 0)
            << line.control << " does not show " << file;
        ++compared;
    }
    EXPECT_GE(compared, 8);

    // Each control is captioned with its name and what it shows, the latter in green once the
    // control is where it should end: dark ink on the light dialog, and some of it that green.
    const uint32_t kSettledGreen = 0x1B6E20;
    for (const LayoutLine& line : ReadLayout(out + "/layout.txt")) {
        ASSERT_LT(line.captionLeft, line.captionRight) << line.control;
        ASSERT_LE(line.captionBottom, height) << line.control;
        int dark = 0, green = 0;
        for (int y = line.captionTop; y < line.captionBottom; ++y)
            for (int x = line.captionLeft; x < line.captionRight; ++x) {
                const uint32_t pixel = shot[static_cast<size_t>(y * width + x)];
                dark += ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF) < 3 * 0x80;
                green += pixel == kSettledGreen;
            }
        EXPECT_GE(dark, 100) << line.control << " has no caption";
        EXPECT_GE(green, 10) << line.control << " is not captioned as settled";
    }
}

// Ctrl-C ends the run, removes the throwaway install, and is never reported as success, even
// when every control already shows what it should.
TEST(DemoRunTest, InterruptedRunIsNotASuccess) {
    const portrix_test::TempDir outDir;
    ChildProcess demo({PORTRIX_DEMO_PROGRAM, "--out", outDir.path(), "--seconds", "30"});
    ASSERT_TRUE(demo.started());
    for (const char* state : {"over the handed background", "unknown-man    default man1.gif",
                              "unknown-woman  default woman2.gif"})
        ASSERT_TRUE(demo.WaitForText(state, 60s)) << state << "\n" << demo.output();
    kill(demo.pid(), SIGINT);
    EXPECT_EQ(demo.WaitForExit(60s), ChildProcess::kSignalled + SIGINT) << demo.output();
    const std::string installDir = InstallDir(demo.output());
    ASSERT_FALSE(installDir.empty()) << demo.output();
    EXPECT_FALSE(fs::exists(installDir)) << installDir;
}

TEST(DemoRunTest, CommandLine) {
    const struct {
        int row;
        std::vector<std::string> arguments;
        int exitCode;
        const char* printed;  // expected in the output (standard output only)
    } rows[] = {
        {1, {"--help"}, 0, "usage: portrix-demo"},
        {2, {"--seconds", "1"}, 2, ""},
        {3, {"--delay-ms", "-5"}, 2, ""},
        {4, {"--server"}, 2, ""},
        {5, {"--bogus"}, 2, ""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> argv = {PORTRIX_DEMO_PROGRAM};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        ChildProcess demo(argv);
        EXPECT_EQ(demo.WaitForExit(30s), row.exitCode) << "row " << row.row;
        EXPECT_NE(demo.output().find(row.printed), std::string::npos)
            << "row " << row.row << ": " << demo.output();
    }
}

// --window with no screen to show on says why, before it makes any folder or starts its server.
TEST(DemoRunTest, WindowWithoutAScreenSaysWhyBeforeMakingAnything) {
    const portrix_test::TempDir dir;
    const std::string out = dir.path() + "/out";
    const struct {
        const char* display;
        const char* said;
    } rows[] = {{"", "DISPLAY is not set"}, {":4093", "cannot be reached"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.said);
        const portrix_test::ProgramRun run = portrix_test::RunProgram(
            {PORTRIX_DEMO_PROGRAM, "--window", "--out", out},
            portrix_test::EnvironmentWith({std::string("DISPLAY=") + row.display,
                                           "PORTRIX_NO_DISPLAY=", "TMPDIR=" + dir.path()}));
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
        EXPECT_TRUE(fs::is_empty(dir.path())) << "a folder was made before the check";
    }
}

}  // namespace
}  // namespace demo_test
