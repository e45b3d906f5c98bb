// The store's rules under faults no server can cause, through StoreTransfer with the test in
// the transport's place: the same source on Linux and, built for Windows, under Wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "AvatarStoreNames.h"
#include "StoreTransfer.h"
#include "TempFiles.h"
#include "sides.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace nimbrel;

constexpr char kOldPicture[] = "GIF89a-old-picture;";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return in ? content.str() : "<missing>";
}

// A picture directory of its own in the system's temporary folder.
class Store {
public:
    Store() : m_root(m_dir.path()) { fs::create_directories(m_root / "Up"); }
    Request RequestFor(const std::string& relative, bool refresh) const {
        Request request;
        request.url = "http://127.0.0.1:9/c_avatar/" + relative;
        request.root = m_root.string();
        request.relative = relative;
        request.destination = (m_root / relative).string();
        request.refresh = refresh;
        std::string why;
        request.hold = PictureHold::Take(request.root, relative, &why);
        return request;
    }
    fs::path Path(const std::string& relative) const { return m_root / relative; }
    // The library's temporary files in Up/.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(m_root / "Up")) {
            const std::string name = entry.path().filename().string();
            if (IsTempName(name)) names.push_back(name);
        }
        return names;
    }

private:
    portrix_test::TempDir m_dir;
    fs::path m_root;
};

// The disk full for temporary files from `bytes` on, for as long as it lives.
struct FullDisk {
    explicit FullDisk(long long bytes) { SimulateFullDisk(bytes); }
    ~FullDisk() { SimulateFullDisk(-1); }
};

// Sends `pieces` as a 200's body the way a transport does, stopping when the store says so.
StoreTransfer::Outcome Deliver(StoreTransfer& transfer, const std::vector<std::string>& pieces) {
    HttpAnswer answer;
    answer.status = 200;
    answer.framed = true;
    for (const std::string& piece : pieces) {
        if (!transfer.Body(piece.data(), piece.size(), true)) break;
    }
    return transfer.Finish(answer);
}

TEST(StoreRules, ADiskFullDuringABodyLeavesNoPartialPictureAndTheOldOneInPlace) {
    const std::vector<std::string> body = {"GIF89a", std::string(4096, 'n'), ";"};
    const std::string whole = body[0] + body[1] + body[2];
    StaleTempSweeper sweeper;
    struct Row {
        const char* what;
        bool stored;  // a picture is stored already, and held during its refresh
    };
    for (const Row& row : {Row{"a first fetch", false}, Row{"a refresh", true}}) {
        SCOPED_TRACE(row.what);
        const Store store;
        if (row.stored) std::ofstream(store.Path("Up/a.gif"), std::ios::binary) << kOldPicture;
        {
            const FullDisk full(1024);  // the first piece fits, the second does not
            StoreTransfer transfer(store.RequestFor("Up/a.gif", row.stored), sweeper);
            ASSERT_EQ(transfer.Begin(), StoreTransfer::Start::running);
            EXPECT_EQ(Deliver(transfer, body), StoreTransfer::Outcome::failed);
        }
        EXPECT_EQ(ReadFile(store.Path("Up/a.gif")), row.stored ? kOldPicture : "<missing>");
        EXPECT_TRUE(store.Leftovers().empty());
        // Nothing left behind keeps the next transfer out once there is room again.
        StoreTransfer again(store.RequestFor("Up/a.gif", false), sweeper);
        ASSERT_EQ(again.Begin(), StoreTransfer::Start::running);
        EXPECT_EQ(Deliver(again, body), StoreTransfer::Outcome::stored);
        EXPECT_EQ(ReadFile(store.Path("Up/a.gif")), whole);
    }
}

// A process that ended inside a replace that set the held picture aside (Windows: no open file
// is replaced there) left the old picture aside; the next transfer finds the picture whole.
TEST(StoreRules, AReplaceLeftHalfDoneByAnEndedProcessEndsWithTheOldPictureOrTheNewOne) {
    if (!portrix_test::WindowsOnly("every row", "renameat replaces the held picture in one step"))
        return;
    StaleTempSweeper sweeper;
    const std::string aside = "Up/" + AvatarStoreNames::SetAsideFileName("a.gif");
    struct Row {
        const char* what;
        const char* inPlace;  // what the picture's name holds, if anything
        const char* expected;
    };
    for (const Row& row : {Row{"between setting the old picture aside and moving the new one in",
                               nullptr, kOldPicture},
                           Row{"before deleting the old picture", "GIF89a-new;", "GIF89a-new;"}}) {
        SCOPED_TRACE(row.what);
        const Store store;
        std::ofstream(store.Path(aside), std::ios::binary) << kOldPicture;
        if (row.inPlace) std::ofstream(store.Path("Up/a.gif"), std::ios::binary) << row.inPlace;
        {
            StoreTransfer transfer(store.RequestFor("Up/a.gif", row.inPlace != nullptr), sweeper);
            ASSERT_EQ(transfer.Begin(), StoreTransfer::Start::running);
            EXPECT_EQ(Deliver(transfer, {}), StoreTransfer::Outcome::failed);  // an empty body
        }
        EXPECT_EQ(ReadFile(store.Path("Up/a.gif")), row.expected);
        EXPECT_EQ(ReadFile(store.Path(aside)), "<missing>");
    }
}

}  // namespace
