// The display decision: which picture the control shows and which download it asks for.
#include "RecordingFixture.h"
#include "platform/pump.h"

namespace avatar_test {
namespace {

using DisplayTest = RecordingControlTest;

std::string VersionTable(int offset, const char* entry) {
    std::string table;
    for (int i = 0; i < 30; ++i) table += "00001";
    if (offset >= 0) table.replace(static_cast<size_t>(offset), 5, entry);
    return table;
}

TEST_F(DisplayTest, NewControlShowsNothingBeforeItHasAUserId) {
    PutDefaultSet();
    EXPECT_EQ(host.control().Display(), 0);
    host.PumpFor(200ms);
    EXPECT_TRUE(TakeDownloadCalls().empty());
}

TEST_F(DisplayTest, FreshPictureIsShownWithoutDownloadOrTimer) {
    PutDefaultSet();
    PutPicture("Up\\10001_bs.gif", kUserColor);
    Configure("10001", 2, 6);
    EXPECT_EQ(host.control().Display(), 1);
    EXPECT_TRUE(host.WaitForColor(kUserColor));
    host.PumpFor(200ms);
    EXPECT_TRUE(TakeDownloadCalls().empty());
    EXPECT_FALSE(StoreFileExists("SNS\\10001.txt"));  // only a completed download records a version
}

TEST_F(DisplayTest, PathsFollowImageTypeAndFaceMode) {
    PutDefaultSet();
    struct Row {
        int row, type, mode;
        const char* relative;
    } const rows[] = {
        {1, 3, 9, "Face\\10001_bw.gif"},
        {2, 1, 10, "Body\\10001"},
        {3, 0, 0, ".gif"},
    };
    for (const Row& r : rows) {
        const uint32_t color = r.row % 2 ? kUserColor : kNewerUserColor;
        PutPicture(r.relative, color);
        Configure("10001", r.type, r.mode);
        EXPECT_EQ(host.control().Display(), 1) << "row " << r.row;
        EXPECT_TRUE(host.WaitForColor(color)) << "row " << r.row;
        EXPECT_TRUE(TakeDownloadCalls().empty()) << "row " << r.row;
    }
}

TEST_F(DisplayTest, PictureSixtyOneSecondsOldIsRefreshedAndShownByTheFirstTick) {
    PutDefaultSet();
    PutPicture("Up\\10001_bs.gif", kUserColor, 61);  // the exact boundary is a unit test's
    Configure("10001", 2, 6, 0, 12);
    EXPECT_EQ(host.control().Display(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    ExpectPictureCall(calls[0], "VazirOridoStartGFU", "10001", 2, 6);
    // The stale picture is still on disk, untouched by the stand-in: the first tick shows it but
    // records no version for it.
    EXPECT_TRUE(host.WaitForColor(kUserColor));
    host.PumpFor(200ms);
    EXPECT_FALSE(StoreFileExists("SNS\\10001.txt"));
}

TEST_F(DisplayTest, PictureOpenForWritingCountsAsMissing) {
    PutDefaultSet();
    PutPicture("Body\\10001.gif", kUserColor);
    Configure("10001", 1, 0);
    {
        CFile writer;
        ASSERT_TRUE(
            writer.Open(StoreRoot() + "Body\\10001.gif", CFile::modeWrite | CFile::shareDenyNone));
        EXPECT_EQ(host.control().Display(), 1);
        const std::vector<DownloadCall> calls = TakeDownloadCalls();
        ASSERT_EQ(calls.size(), 1u);
        ExpectPictureCall(calls[0], "VazirOridoStartGFU", "10001", 1, 0);
        EXPECT_TRUE(host.WaitForColor(kPlaceholder1Color));
        host.PumpFor(300ms);
        EXPECT_EQ(host.ShownColor(), kPlaceholder1Color);
    }
    EXPECT_TRUE(host.WaitForColor(kUserColor));
}

TEST_F(DisplayTest, FaceTypeHasNoPlaceholderAndAsksForMissingDefaultsFirst) {
    Configure("10001", 3, 9);
    EXPECT_EQ(host.control().Display(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 9u);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(calls[static_cast<size_t>(i)].operation, "VazirOridoStartN") << i;
    EXPECT_EQ(calls[0].localPath, std::string(StoreRoot()) + "default\\default1.gif");
    ExpectPictureCall(calls[8], "VazirOridoStartGFU", "10001", 3, 9);

    PutPicture("Face\\10001_bw.gif", kUserColor);
    EXPECT_TRUE(host.WaitForColor(kUserColor));
}

TEST_F(DisplayTest, MissingPictureShowsPlaceholderForItsTypeAndDownloads) {
    PutDefaultSet();
    Configure("10001", 2, 3, 1);
    EXPECT_EQ(host.control().Display(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    ExpectPictureCall(calls[0], "VazirOridoStartGFU", "10001", 2, 3);
    EXPECT_TRUE(host.WaitForColor(kPlaceholder2Color));
}

TEST_F(DisplayTest, UnsafeUserIdsNameNoPicture) {
    PutDefaultSet();
    // "..\Up\10001" under Body\ would name Up\10001.gif, which is there and fresh.
    PutPicture("Up\\10001.gif", kUserColor);
    const CString ids[] = {"..\\Up\\10001", "../Up/10001",         "..", ".", "C:10001",
                           "100\t01",       CString("10001\0x", 7)};
    for (const CString& id : ids) {
        Configure(id, 1, 0, 1);
        host.PumpFor(50ms);
        EXPECT_EQ(host.control().Display(), 0) << static_cast<LPCTSTR>(id);
        host.PumpFor(100ms);
        EXPECT_TRUE(TakeDownloadCalls().empty()) << static_cast<LPCTSTR>(id);
        EXPECT_EQ(host.ShownColor(), kMan1Color) << static_cast<LPCTSTR>(id);
    }
}

TEST_F(DisplayTest, DisplaySNComparesTheRecordedVersion) {
    PutDefaultSet();
    enum Picture { none, fresh, stale };
    struct Row {
        int row;
        Picture picture;
        const char* versionFile;  // null: no version file
        int type, version;
        const char* operation;  // null: no request, the picture is shown
    } const rows[] = {
        {1, fresh, nullptr, 1, 1, "StartDownload"}, {2, none, "00001", 1, 1, "StartDownload"},
        {3, fresh, "00004", 1, 4, nullptr},         {4, fresh, "00003", 1, 4, "StartDownload"},
        {5, fresh, "00005", 1, 4, nullptr},         {6, stale, "00004", 1, 4, "VazirOridoStartGFU"},
        {7, fresh, "-0005", 1, -5, nullptr},        {8, fresh, "     ", 1, 1, "StartDownload"},
        {9, fresh, "00009", 0, 1, "StartDownload"},  // image type 0 has no entry
    };
    for (const Row& r : rows) {
        EmptyStore();
        PutDefaultSet();
        const std::string relative = r.type == 1 ? "Body\\10001.gif" : ".gif";
        if (r.picture != none) PutPicture(relative, kUserColor, r.picture == stale ? 3600 : 0);
        if (r.versionFile) WriteStoreFile("SNS\\10001.txt", VersionTable(0, r.versionFile));
        Configure("10001", r.type, 0, 0, r.version);
        host.control().KillTimer(1);
        host.control().KillTimer(2);
        EXPECT_EQ(host.control().DisplaySN(), 1) << "row " << r.row;
        const std::vector<DownloadCall> calls = TakeDownloadCalls();
        if (r.operation == nullptr) {
            EXPECT_TRUE(calls.empty()) << "row " << r.row;
            if (r.picture != none) {
                EXPECT_TRUE(host.WaitForColor(kUserColor)) << "row " << r.row;
            }
        } else {
            ASSERT_EQ(calls.size(), 1u) << "row " << r.row;
            ExpectPictureCall(calls[0], r.operation, "10001", r.type, 0);
        }
    }
}

TEST_F(DisplayTest, DisplaySNWithUnsafeIdPollsNothing) {
    PutDefaultSet();
    PutPicture("Up\\10001.gif", kUserColor);
    WriteStoreFile("Up\\10001.txt", "");
    Configure("..\\Up\\10001", 1, 0, 2, 7);
    EXPECT_EQ(host.control().DisplaySN(), 1);
    const std::vector<DownloadCall> calls = TakeDownloadCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].operation, "StartDownload");
    // The first phase ends with the default picture, never with the picture the id points at,
    // and no version is written anywhere.
    EXPECT_TRUE(host.WaitForColor(kWoman1Color));
    host.PumpFor(200ms);
    EXPECT_EQ(host.ShownColor(), kWoman1Color);
    EXPECT_EQ(ReadStoreFile("Up\\10001.txt"), "");  // where "SNS\..\Up\10001.txt" would lead
}

}  // namespace
}  // namespace avatar_test
