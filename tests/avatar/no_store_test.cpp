// A control in a process whose module found no install path: the store root stays empty.
#include "RecordingFixture.h"
#include "load_boxes.h"
#include "sides.h"

namespace avatar_test {
namespace {

class NoStoreTest : public ::testing::Test {
protected:
    void TearDown() override { SetDownloadAction(nullptr); }
    ControlHarness host;
};

// The module told the user why there is no store, once, while the program loaded.
TEST_F(NoStoreTest, TheLoadShowedTheReadFailureBox) {
    if (!portrix_test::WindowsOnly("the box",
                                   "without a display the layer writes the box's text "
                                   "to standard error (avatar_screen shows it)")) {
        return;
    }
    EXPECT_EQ(MessageBoxesAtLoad(),
              std::vector<std::string>{
                  "Read Reg Key Fail!\nHKEY_CURRENT_USER\\Software\\szDomain\\Share\\Path"});
}

TEST_F(NoStoreTest, NothingIsShownOrRequestedWithoutAStore) {
    CPortrix& control = host.control();
    control.SetUserID("10001");
    control.SetImageType(1);  // only stored: no default picture to draw
    control.SetServerAddress(kServer);
    EXPECT_EQ(control.Display(), 0);
    control.GetDefaultImg();
    host.PumpFor(100ms);
    EXPECT_TRUE(TakeDownloadCalls().empty());

    // DisplaySN makes no store test of its own: it asks for the picture all the same.
    EXPECT_EQ(control.DisplaySN(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].operation, "StartDownload");
    EXPECT_EQ(calls[0].storeRoot, "");
}

}  // namespace
}  // namespace avatar_test
