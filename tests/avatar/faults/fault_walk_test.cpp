// Every failure point of a refresh confirmed by a 304, a download that replaces a picture, the
// version-file writes after them and the store sweep at load, failed one at a time: the test
// runs itself as a host process under the fault shim (fault_shim.c), once per call that may
// fail, and checks what the store holds afterwards.
//
// Only opens for writing count as failure points: a failed open for reading is a missing file
// to every caller, which the control's own tests cover.
// ctest-labels: threaded
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "http_date.h"
#include "ControlHarness.h"
#include "NginxServer.h"
#include "TestPictures.h"
#include "run_program.h"

namespace avatar_test {
namespace {

namespace fs = std::filesystem;

constexpr int kFreshnessSeconds = 60;
constexpr char kProbeFlag[] = "FAULT_PROBE";
constexpr char kReportPrefix[] = "fault shim: ";  // then the calls counted and the failed one

std::string Gif(uint32_t rgb) {
    return SolidGifBytes(ControlHarness::kPictureSide, ControlHarness::kPictureSide, rgb);
}

using portrix_test::HttpDate;

// The host side, run in the child: a refresh of "kept" (answered 304), then a newer version of
// "walker" (answered with a new picture), each followed until the control shows a picture.
TEST(FaultProbe, OneHostRun) {
    if (std::getenv(kProbeFlag) == nullptr) GTEST_SKIP() << "run by FaultWalk only";
    ControlHarness host;
    CPortrix& control = host.control();
    control.SetSex(0);
    control.SetImageType(1);
    control.SetFaceMode(0);
    control.SetImageSN(2);
    control.SetServerAddress(std::getenv("FAULT_SERVER"));
    control.SetUserID("kept");
    control.Display();
    host.WaitForColor(kWoman2Color, 10s);
    control.SetUserID("walker");
    control.DisplaySN();
    WaitUntil(
        [&] {
            const uint32_t shown = host.ShownColor();
            return shown == kUserColor || shown == kNewerUserColor;
        },
        10s);
    host.PumpFor(100ms);
}

struct Fault {
    const char* kind;
    int error;
};

class FaultWalk : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Running()) << server.StartError(); }

    // A store with a stale picture confirmed by the server, a stale one the server has replaced,
    // and a config.ini whose last sweep is long past, with a section of someone else's.
    void PrepareStore() {
        EmptyStore();
        PutDefaultSet();
        WriteStoreFile("config.ini",
                       "[SYSTEM]\r\nLASTDELETETIME=2001/01/01 00:00:00\r\n[OTHER]\r\nkept=yes\r\n");
        PutPicture("Body\\kept.gif", kWoman2Color, 2 * kFreshnessSeconds);
        const std::string validator = HttpDate(published);
        ASSERT_EQ(::setxattr(StorePath("Body\\kept.gif").c_str(), "user.nimbrel.last-modified",
                             validator.data(), validator.size(), 0),
                  0);
        PutPicture("Body\\walker.gif", kUserColor, 2 * kFreshnessSeconds);
        std::string versions;
        for (int entry = 0; entry < 30; ++entry) versions += "00001";
        WriteStoreFile("SNS\\kept.txt", versions);
        WriteStoreFile("SNS\\walker.txt", versions);
    }

    // Runs the host process with the nth call of the fault's kind failing (none for 0); false
    // when it did not end well within a minute. Gives the number of such calls and the log.
    bool RunHost(const Fault& fault, long nth, long* calls, std::string* failedPath,
                 std::string* log) {
        const portrix_test::ProgramRun run = portrix_test::RunProgram(
            {"/usr/bin/timeout", "60", fs::read_symlink("/proc/self/exe").string(),
             "--gtest_filter=FaultProbe.*"},
            portrix_test::EnvironmentWith({
                std::string(kProbeFlag) + "=1",
                "FAULT_SERVER=" + server.Address(),
                std::string("FAULT_KIND=") + fault.kind,
                "FAULT_NTH=" + std::to_string(nth),
                "FAULT_ERRNO=" + std::to_string(fault.error),
                "FAULT_UNDER=" + StorePath(""),
                "NIMBREL_LOG=1",
                std::string("LD_PRELOAD=") + FAULT_SHIM,
            }));
        *log = run.err;
        const size_t report = log->rfind(kReportPrefix);
        if (report != std::string::npos)
            std::istringstream(log->substr(report + sizeof kReportPrefix - 1)) >> *calls >>
                *failedPath;
        return run.status == 0;
    }

    // What must hold whatever failed.
    void CheckInvariants(const std::string& where, const std::string& log) {
        SCOPED_TRACE(where);
        const std::string walker = ReadStoreFile("Body\\walker.gif");
        EXPECT_TRUE(walker == Gif(kUserColor) || walker == Gif(kNewerUserColor))
            << "a partial or foreign picture of " << walker.size() << " bytes";
        EXPECT_EQ(ReadStoreFile("Body\\kept.gif"), Gif(kWoman2Color));
        for (const auto& entry : fs::directory_iterator(StorePath("Body")))
            EXPECT_EQ(entry.path().filename().string().rfind(".nimbrel-", 0), std::string::npos)
                << entry.path();
        // A version only for what came: the new picture, or the confirmed (touched) one.
        for (const char* user : {"walker", "kept"}) {
            const std::string relative = std::string("SNS\\") + user + ".txt";
            if (!StoreFileExists(relative)) continue;  // dropped after a failed write: asked again
            const std::string versions = ReadStoreFile(relative);
            ASSERT_EQ(versions.size(), 150u) << user;
            if (versions.substr(0, 5) != "00002") continue;
            if (std::string(user) == "walker") {
                EXPECT_EQ(walker, Gif(kNewerUserColor));
            } else {
                EXPECT_LE(std::time(nullptr) - ModifiedAt("Body\\kept.gif"), kFreshnessSeconds);
            }
        }
        // A 304 reported as a fresh picture left a fresh picture.
        if (log.find("kept.gif <- ") != std::string::npos &&
            log.find("counts as fetched now") != std::string::npos) {
            EXPECT_LE(std::time(nullptr) - ModifiedAt("Body\\kept.gif"), kFreshnessSeconds);
        }
        // Nothing else of the store is lost.
        EXPECT_NE(ReadStoreFile("config.ini").find("[OTHER]\r\nkept=yes"), std::string::npos);
        EXPECT_TRUE(StoreFileExists("default\\default1.gif"));
    }

    static std::time_t ModifiedAt(const std::string& relative) {
        struct stat info {};
        return ::stat(StorePath(relative).c_str(), &info) == 0 ? info.st_mtime : 0;
    }

    const std::time_t published = std::time(nullptr) - 3600;
    nimbrel_test::NginxServer server;
};

TEST_F(FaultWalk, EveryFailurePointKeepsTheInvariants) {
    server.Put("Body/kept.gif", Gif(kWoman2Color), published);
    server.Put("Body/walker.gif", Gif(kNewerUserColor));
    const Fault faults[] = {
        {"open", EMFILE}, {"write", ENOSPC}, {"fsync", EIO}, {"rename", EIO}, {"futimens", EPERM},
    };
    for (const Fault& fault : faults) {
        // Run 0 fails nothing and counts the failure points; later runs may count more.
        long points = 0;
        for (long nth = 0; nth <= points; ++nth) {
            long calls = 0;
            std::string failed, log;
            PrepareStore();
            const std::string where = std::string(fault.kind) + " #" + std::to_string(nth);
            ASSERT_TRUE(RunHost(fault, nth, &calls, &failed, &log)) << where << ": hung or crashed";
            CheckInvariants(where + " (" + failed + ")", log);
            points = std::max(points, calls);
            EXPECT_GT(points, 0) << where;
        }
    }
}

}  // namespace
}  // namespace avatar_test
