// The control and the real download library in a process whose module found no install path,
// started in a working directory that looks like a store: without a store nothing names a
// picture, so nothing of that directory is shown, read, written or asked for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "ControlHarness.h"
#include "NginxServer.h"
#include "TestPictures.h"
#include "temp_dir.h"

namespace avatar_test {
namespace {

class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~WorkingDirectory() { std::filesystem::current_path(previous_); }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

TEST(NoStoreEndToEnd, NoPictureIsNamedRelativeToTheWorkingDirectory) {
    nimbrel_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.StartError();
    server.Put("Body/10001.gif", SolidGifBytes(ControlHarness::kPictureSide,
                                               ControlHarness::kPictureSide, kNewerUserColor));
    portrix_test::TempDir directory;
    for (const char* sub : {"Body", "default", "SNS"})
        std::filesystem::create_directory(directory / sub);
    const int side = ControlHarness::kPictureSide;
    ASSERT_TRUE(WriteSolidGif(directory / "Body/10001.gif", side, side, kUserColor));
    ASSERT_TRUE(WriteSolidGif(directory / "default/download1.gif", side, side, kPlaceholder1Color));
    std::string versions;
    for (int entry = 0; entry < 30; ++entry) versions += "00001";
    directory.Write("SNS/10001.txt", versions);
    const WorkingDirectory inside(directory.path());

    ControlHarness host;
    CPortrix& control = host.control();
    control.SetUserID("10001");
    control.SetImageType(1);
    control.SetImageSN(2);
    control.SetServerAddress(server.Address().c_str());
    // Each through the first polling phase (21 ticks of 50 ms) and into the second.
    for (int (CPortrix::*operation)() :
         {&CPortrix::DisplaySN, &CPortrix::DisplaywithDownload, &CPortrix::DisplaySN}) {
        (control.*operation)();
        const std::vector<uint32_t> shown = host.ColorsShownUntil([] { return false; }, 1500ms);
        for (uint32_t picture : {kUserColor, kPlaceholder1Color, kNewerUserColor}) {
            EXPECT_EQ(std::count(shown.begin(), shown.end(), picture), 0) << std::hex << picture;
        }
    }
    EXPECT_EQ(directory.Read("SNS/10001.txt"), versions);
    EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
}  // namespace avatar_test
