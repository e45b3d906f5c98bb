// ctest-labels: threaded
// CAvatarDownload against Debian's nginx: conditional refreshes with the server's own
// validators, one transfer per picture for processes sharing a store, a store whose names
// have been replaced by symbolic links, and how connections are kept and spoken on.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "http_date.h"
#include "AvatarDownload.h"
#include "NginxServer.h"
#include "TempStore.h"
#include "run_program.h"

namespace {

namespace fs = std::filesystem;
using nimbrel_test::LoggedRequest;
using nimbrel_test::ModificationTime;
using nimbrel_test::ReadFile;
using nimbrel_test::SetModificationTime;
using nimbrel_test::WaitFor;
using nimbrel_test::WaitForContent;
using nimbrel_test::WriteFile;
using portrix_test::FinishProgram;
using portrix_test::RunProgram;
using portrix_test::StartProgram;

constexpr std::time_t kHour = 3600;
constexpr std::time_t kDay = 24 * kHour;
constexpr std::time_t kFreshnessSeconds = 60;
// Streams at once that an HTTP/2 server offers, far fewer than a client opens on its own.
constexpr int kFewStreams = 4;

using portrix_test::HttpDate;

bool FetchedJustNow(const fs::path& path) {
    return std::abs(std::time(nullptr) - ModificationTime(path)) <= kFreshnessSeconds;
}

class StoreProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Running()) << server.StartError();
        server.Put("Body/sentinel.gif", "GIF89a-sentinel");
    }

    CString Root() const { return store.WindowsRoot().c_str(); }
    CString Server() const { return server.Address().c_str(); }
    void Start(const char* userId, int imageType) {
        download->StartDownload(userId, Server(), Root(), imageType, 0);
    }
    void Refresh(const char* userId, int imageType) {
        download->VazirOridoStartGFU(userId, Server(), Root(), imageType, 0);
    }

    // A fetch probe's command line for a Face picture that the server sends over about three
    // seconds, and that the probe checks it received whole.
    std::vector<std::string> SlowPictureProbe(const std::string& name, char fill) {
        const std::string picture =
            "GIF89a" + std::string(3 * nimbrel_test::NginxServer::kSlowBytesPerSecond, fill);
        server.Put("Face/" + name + ".gif", picture);
        const fs::path expectedFile = store.Path("expected");
        WriteFile(expectedFile, picture);
        return {NIMBREL_FETCH_PROBE,  server.Address(), store.WindowsRoot(), name, "3",
                expectedFile.string()};
    }

    // Once a later request has been answered and stored, the earlier ones have been dealt with.
    void Settle() {
        const size_t before = server.RequestsFor("Body/sentinel.gif").size();
        fs::remove(store.Path("Body/sentinel.gif"));
        Start("sentinel", 1);
        ASSERT_TRUE(server.WaitForRequests("Body/sentinel.gif", before + 1));
        ASSERT_TRUE(WaitForContent(store.Path("Body/sentinel.gif"), "GIF89a-sentinel"));
    }

    // Fetches a picture in a host process of its own, as a host started earlier would have.
    void FetchInAnotherProcess(const std::string& userId, int imageType,
                               const std::string& expected) {
        const fs::path expectedFile = store.Path("expected-" + userId);
        WriteFile(expectedFile, expected);
        int status = 0;
        ASSERT_TRUE(
            FinishProgram(StartProgram({NIMBREL_FETCH_PROBE, server.Address(), store.WindowsRoot(),
                                        userId, std::to_string(imageType), expectedFile.string()}),
                          &status));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    nimbrel_test::NginxServer server;
    nimbrel_test::TempStore store;
    std::unique_ptr<CAvatarDownload> download = std::make_unique<CAvatarDownload>();
};

// nginx compares If-Modified-Since with the file's time exactly: only the server's own
// Last-Modified, kept from the first fetch (by another process here), earns a 304. Through a
// redirect the validators are those of the picture, not of the redirect.
TEST_F(StoreProtocolTest, AnUnchangedPictureIsConfirmedWithTheServersValidators) {
    const std::time_t published = std::time(nullptr) - kHour;
    const std::time_t stale = std::time(nullptr) - 2 * kHour;
    server.Put("Body/kept.gif", "GIF89a-kept", published);
    FetchInAnotherProcess("kept", 1, "GIF89a-kept");
    FetchInAnotherProcess("moved-kept", 1, "GIF89a-kept");
    WriteFile(store.Path("Body/gone.gif"), "GIF89a-gone");  // the server has none (any more)
    for (const char* name : {"kept", "moved-kept", "gone"}) {
        SetModificationTime(store.Path(std::string("Body/") + name + ".gif"), stale);
    }

    for (const char* name : {"kept", "moved-kept", "gone"}) Refresh(name, 1);
    ASSERT_TRUE(server.WaitForRequests("Body/gone.gif", 1));
    ASSERT_TRUE(server.WaitForRequests("Body/kept.gif", 4));
    Settle();

    for (const char* name : {"kept", "moved-kept"}) {
        EXPECT_TRUE(FetchedJustNow(store.Path(std::string("Body/") + name + ".gif"))) << name;
        EXPECT_EQ(ReadFile(store.Path(std::string("Body/") + name + ".gif")), "GIF89a-kept")
            << name;
    }
    for (const LoggedRequest& refresh :
         {server.RequestsFor("Body/kept.gif")[2], server.RequestsFor("Body/kept.gif")[3]}) {
        EXPECT_EQ(refresh.status, 304);
        EXPECT_EQ(refresh.ifModifiedSince, HttpDate(published));
        EXPECT_FALSE(refresh.ifNoneMatch.empty());
    }
    EXPECT_EQ(server.RequestsFor("Body/gone.gif").front().status, 404);
    EXPECT_EQ(ReadFile(store.Path("Body/gone.gif")), "GIF89a-gone");
    EXPECT_EQ(ModificationTime(store.Path("Body/gone.gif")), stale);
}

// Up/ answers 304 whenever If-Modified-Since is not older than the file. A server copy that
// differs from ours but carries an older date must still come through.
TEST_F(StoreProtocolTest, ARefreshNeverKeepsAPictureTheServerHasChanged) {
    const std::time_t now = std::time(nullptr);
    // Never validated: stored two hours ago, the server's copy a day old.
    WriteFile(store.Path("Up/unvalidated.gif"), "GIF89a-ours");
    SetModificationTime(store.Path("Up/unvalidated.gif"), now - 2 * kHour);
    server.Put("Up/unvalidated.gif", "GIF89a-the-servers", now - kDay);
    // Validated, then replaced on the server by a copy with an older date.
    server.Put("Up/restored.gif", "GIF89a-first", now - kHour);
    Start("restored", 2);
    ASSERT_TRUE(WaitForContent(store.Path("Up/restored.gif"), "GIF89a-first"));
    server.Put("Up/restored.gif", "GIF89a-restored-from-backup", now - kDay);
    SetModificationTime(store.Path("Up/restored.gif"), now - 2 * kHour);

    Refresh("unvalidated", 2);
    Refresh("restored", 2);
    EXPECT_TRUE(WaitForContent(store.Path("Up/unvalidated.gif"), "GIF89a-the-servers"));
    EXPECT_TRUE(WaitForContent(store.Path("Up/restored.gif"), "GIF89a-restored-from-backup"));
    EXPECT_EQ(server.RequestsFor("Up/unvalidated.gif").front().ifModifiedSince, "");
}

TEST_F(StoreProtocolTest, TwoProcessesAskingForOnePictureMakeOneRequest) {
    const std::vector<std::string> probe = SlowPictureProbe("slowshared", 'p');

    const pid_t first = StartProgram(probe);
    // The first one's body has begun to arrive when its temporary file appears.
    EXPECT_TRUE(WaitFor([&] { return !store.TempFiles("Face").empty(); }));
    const pid_t second = StartProgram(probe);
    int firstStatus = 0;
    int secondStatus = 0;
    ASSERT_TRUE(FinishProgram(first, &firstStatus));
    ASSERT_TRUE(FinishProgram(second, &secondStatus));
    EXPECT_TRUE(WIFEXITED(firstStatus) && WEXITSTATUS(firstStatus) == 0)
        << "status " << firstStatus;
    EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0)
        << "status " << secondStatus;
    EXPECT_EQ(server.RequestsFor("Face/slowshared.gif").size(), 1u);
}

// The process that waits for another's transfer asks for the picture itself when that one is
// killed mid-body and so never brings it.
TEST_F(StoreProtocolTest, AWaitingProcessFetchesThePictureWhenTheOtherIsKilled) {
    const std::vector<std::string> probe = SlowPictureProbe("slowkilled", 'k');
    // A process has reached the transfer lock when it holds the lock file open.
    const auto holdsLockFile = [&](pid_t process) {
        const fs::path fds = "/proc/" + std::to_string(process) + "/fd";
        std::error_code ignored;
        for (const auto& fd : fs::directory_iterator(fds, ignored)) {
            if (fs::read_symlink(fd.path(), ignored).filename() == ".nimbrel.lock") return true;
        }
        return false;
    };

    const pid_t first = StartProgram(probe);
    ASSERT_TRUE(WaitFor([&] { return !store.TempFiles("Face").empty(); }));
    const pid_t second = StartProgram(probe);
    ASSERT_TRUE(WaitFor([&] { return holdsLockFile(second); }));
    ::kill(first, SIGKILL);
    int status = 0;
    FinishProgram(first, &status);
    ASSERT_TRUE(FinishProgram(second, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_TRUE(server.WaitForRequests("Face/slowkilled.gif", 2));
    EXPECT_EQ(server.RequestsFor("Face/slowkilled.gif").size(), 2u);
}

TEST_F(StoreProtocolTest, SymbolicLinksInTheStoreAreNeverFollowed) {
    nimbrel_test::TempStore outside;
    const std::time_t now = std::time(nullptr);
    // A picture name that points outside; the server's copy is older, so a refresh that
    // judged by the target's date would get a 304 and touch the target.
    WriteFile(outside.Path("target.gif"), "GIF89a-outside");
    SetModificationTime(outside.Path("target.gif"), now - kDay);
    fs::create_symlink(outside.Path("target.gif"), store.Path("Up/linked.gif"));
    server.Put("Up/linked.gif", "GIF89a-linked", now - 3 * kDay);
    // A picture directory replaced by a link to a directory outside.
    fs::remove(store.Path("Face"));
    fs::create_directory_symlink(outside.Path("Face"), store.Path("Face"));
    server.Put("Face/away.gif", "GIF89a-away");

    Refresh("linked", 2);
    Start("away", 3);
    ASSERT_TRUE(server.WaitForRequests("Up/linked.gif", 1));
    Settle();

    EXPECT_EQ(ReadFile(outside.Path("target.gif")), "GIF89a-outside");
    EXPECT_EQ(ModificationTime(outside.Path("target.gif")), now - kDay);
    EXPECT_TRUE(fs::is_empty(outside.Path("Face")));
    // The link itself is replaced by the picture, which now lives in the store.
    EXPECT_FALSE(fs::is_symlink(store.Path("Up/linked.gif")));
    EXPECT_EQ(ReadFile(store.Path("Up/linked.gif")), "GIF89a-linked");
}

// A connection outlives the queue that drained, a burst of pictures goes out in parallel, and
// each server is spoken to in the version it speaks: an HTTP/1.1 server never receives an
// HTTP/2 preface (nginx would log it as a 400), an HTTP/2-only one gets every picture on one
// connection once the first request taught the library what it speaks. (Against a server on
// the loopback a burst may well go out on one HTTP/1.1 connection too.) The HTTP/2 server offers
// fewer streams than the burst: the rest wait for one.
TEST(ServerProtocol, ConnectionsAreKeptAndEachServerIsSpokenToInItsVersion) {
    constexpr int kBurst = 12;
    const struct {
        bool http2;
        const char* protocol;
        bool allOnOneConnection;
    } rows[] = {
        {false, "HTTP/1.1", false},
        {true, "HTTP/2.0", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.protocol);
        nimbrel_test::NginxServer server(row.http2, kFewStreams);
        ASSERT_TRUE(server.Running()) << server.StartError();
        nimbrel_test::TempStore store;
        CAvatarDownload download;
        const CString address = server.Address().c_str();
        const CString root = store.WindowsRoot().c_str();
        for (int i = 0; i < kBurst + 2; ++i)
            server.Put("Face/" + std::to_string(i) + ".gif", "GIF89a-" + std::to_string(i));

        // A burst first, so that on the HTTP/2 server most of it waits for the connection
        // that the first request's second attempt opens.
        for (int i = 2; i < kBurst + 2; ++i)
            download.StartDownload(std::to_string(i).c_str(), address, root, 3, 0);
        for (int i = 2; i < kBurst + 2; ++i)
            EXPECT_TRUE(WaitForContent(store.Path("Face/" + std::to_string(i) + ".gif"),
                                       "GIF89a-" + std::to_string(i)));
        for (int i = 0; i < 2; ++i) {  // one after the other, the queue drained in between
            download.StartDownload(std::to_string(i).c_str(), address, root, 3, 0);
            ASSERT_TRUE(WaitForContent(store.Path("Face/" + std::to_string(i) + ".gif"),
                                       "GIF89a-" + std::to_string(i)));
        }
        const std::vector<LoggedRequest> requests = server.Requests();
        ASSERT_EQ(requests.size(), static_cast<size_t>(kBurst + 2));
        std::set<long> connections;
        for (const LoggedRequest& request : requests) {
            EXPECT_EQ(request.status, 200) << request.target;
            EXPECT_EQ(request.protocol, row.protocol) << request.target;
            connections.insert(request.connection);
        }
        EXPECT_EQ(server.RequestsFor("Face/0.gif").at(0).connection,
                  server.RequestsFor("Face/1.gif").at(0).connection);
        EXPECT_TRUE(!row.allOnOneConnection || connections.size() == 1u) << connections.size();
    }
}

// A picture whose answer never comes, or whose stream the server resets, holds none of the
// others back and never changes what its server is taken to speak; a server that speaks only
// HTTP/2 hears one HTTP/1.1 request, not one per picture, and the pictures beyond the streams it
// offers wait for one rather than go on a connection of their own.
TEST(ServerProtocol, APictureWithoutAnAnswerHoldsNoneBackAndTeachesNothing) {
    constexpr int kGood = 2 * kFewStreams;
    const struct {
        bool http2;
        const char* first;  // the first picture asked of the server
        const char* protocol;
    } rows[] = {
        {true, "silent", "HTTP/2.0"},
        {true, "reset", "HTTP/2.0"},
        {false, "silent", "HTTP/1.1"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.protocol) + ", first " + row.first);
        nimbrel_test::NginxServer server(row.http2, kFewStreams);
        ASSERT_TRUE(server.Running()) << server.StartError();
        nimbrel_test::TempStore store;
        CAvatarDownload download;
        const CString address = server.Address().c_str();
        const CString root = store.WindowsRoot().c_str();
        for (int i = 0; i < kGood; ++i)
            server.Put("Face/" + std::to_string(i) + ".gif", "GIF89a-" + std::to_string(i));

        download.StartDownload(row.first, address, root, 3, 0);
        // A reset is over at once: the pictures after it find its connection gone or kept.
        if (std::string(row.first) == "reset") {
            ASSERT_TRUE(server.WaitForRequests("Face/reset.gif", 1));
        }
        for (int i = 0; i < kGood; ++i)
            download.StartDownload(std::to_string(i).c_str(), address, root, 3, 0);
        for (int i = 0; i < kGood; ++i)
            EXPECT_TRUE(WaitForContent(store.Path("Face/" + std::to_string(i) + ".gif"),
                                       "GIF89a-" + std::to_string(i)));
        for (const LoggedRequest& request : server.Requests())
            EXPECT_EQ(request.protocol, row.protocol) << request.target;
        EXPECT_LE(server.ErrorLogLines("invalid connection preface"), 1u);
    }
}

// What a server speaks is learned from its own answers only: a redirect to a server that
// speaks only HTTP/2 teaches nothing of the server that sent it.
TEST(ServerProtocol, ARedirectTargetTeachesNothingOfTheServerThatSentIt) {
    nimbrel_test::NginxServer first;
    nimbrel_test::NginxServer target(true);
    ASSERT_TRUE(first.Running()) << first.StartError();
    ASSERT_TRUE(target.Running()) << target.StartError();
    nimbrel_test::TempStore store;
    CAvatarDownload download;
    first.Put("Face/stays.gif", "GIF89a-stays");
    target.Put("Face/away.gif", "GIF89a-away");

    // Followed in HTTP/1.1, which the target refuses: the picture is not fetched.
    const std::string away = "away/Face/away.gif?to=" + target.Address();
    download.VazirOridoStartN(("http://" + first.Address() + "/c_avatar/" + away).c_str(),
                              (store.WindowsRoot() + "default\\away.gif").c_str());
    ASSERT_TRUE(first.WaitForRequests(away, 1));
    ASSERT_TRUE(WaitFor([&] { return target.ErrorLogLines("invalid connection preface") == 1; }));
    download.StartDownload("stays", first.Address().c_str(), store.WindowsRoot().c_str(), 3, 0);
    EXPECT_TRUE(WaitForContent(store.Path("Face/stays.gif"), "GIF89a-stays"));
    for (const LoggedRequest& request : first.Requests())
        EXPECT_EQ(request.protocol, "HTTP/1.1") << request.target;
}

// Kept connections do not outlive the idle bound (shortened here through the environment).
TEST_F(StoreProtocolTest, AKeptConnectionIsClosedOnceIdleForTheBound) {
    server.Put("Body/idle.gif", "GIF89a-idle");
    const fs::path expectedFile = store.Path("expected-idle");
    WriteFile(expectedFile, "GIF89a-idle");
    std::vector<std::string> environment = {"NIMBREL_IDLE_MS=200"};
    for (char** entry = environ; *entry != nullptr; ++entry) environment.push_back(*entry);

    const portrix_test::ProgramRun run =
        RunProgram({NIMBREL_FETCH_PROBE, server.Address(), store.WindowsRoot(), "idle", "1",
                    expectedFile.string(), "idle"},
                   environment);
    EXPECT_EQ(run.status, 0) << "2: no picture, 3: no connection kept, 4: never closed\n"
                             << run.err;
}

}  // namespace
