// ctest-labels: threaded
// CAvatarDownload against a real HTTP server in the test process: where pictures land,
// what the network may not make the library do, and that nothing is ever half-visible.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AvatarDownload.h"
#include "TempStore.h"
#include "TestServer.h"
#include "afx.h"
#include "run_program.h"

// Debian's cpp-httplib is a prebuilt, uninstrumented library: ThreadSanitizer sees the
// memcpy/memcmp of its worker threads but not the synchronisation around them, and now and
// then reports a race entirely inside it. The test server shares no memory with the code
// under test, so only reports from inside that library are silenced.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libcpp-httplib.so\n";
}

namespace {

using nimbrel_test::ReadFile;
using nimbrel_test::TempStore;
using nimbrel_test::TestServer;
using nimbrel_test::WaitForContent;
using nimbrel_test::WriteFile;
using portrix_test::FinishProgram;
using portrix_test::StartProgram;

constexpr char kPicture[] = "GIF89a-new-picture";
constexpr char kOldPicture[] = "GIF89a-old-picture";
// A GIF's signature, then its trailer.
constexpr char kWholeGif[] = "GIF89a-whole-picture;";
constexpr char kSentinelTarget[] = "/c_avatar/Body/sentinel.gif";
constexpr char kSentinel[] = "GIF89a-sentinel";

void ServeText(httplib::Server& http, const std::string& target, const std::string& body,
               int status = 200) {
    http.Get(target, [body, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, "image/gif");
    });
}

// A body of no stated length, ended by closing the connection.
void ServeUntilClose(httplib::Server& http, const std::string& target, const std::string& body) {
    http.Get(target, [body](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider("image/gif", [body](size_t offset, httplib::DataSink& sink) {
            if (offset < body.size())
                sink.write(body.data() + offset, body.size() - offset);
            else
                sink.done();
            return true;
        });
    });
}

// A body sent in chunks, whose end the chunked framing marks.
void ServeChunked(httplib::Server& http, const std::string& target, const std::string& body) {
    http.Get(target, [body](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("image/gif", [body](size_t, httplib::DataSink& sink) {
            sink.write(body.data(), body.size());
            sink.done();
            return true;
        });
    });
}

long OpenDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                         std::filesystem::directory_iterator());
}

// The avatar control's existence test: open for reading while denying others write access.
bool PassesExistenceTest(const std::filesystem::path& path) {
    CFile file;
    return file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite) != FALSE;
}

// The text compressed in the zlib format, as "Content-Encoding: deflate" sends it.
std::string Deflate(const std::string& text) {
    std::string packed(compressBound(text.size()), '\0');
    uLongf length = packed.size();
    compress(reinterpret_cast<Bytef*>(packed.data()), &length,
             reinterpret_cast<const Bytef*>(text.data()), text.size());
    return packed.substr(0, length);
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override { ServeText(server.Http(), kSentinelTarget, kSentinel); }

    CString Root() const { return store.WindowsRoot().c_str(); }
    CString Server() const { return server.Address().c_str(); }

    void Start(const char* userId, int imageType, int faceMode) {
        download->StartDownload(userId, Server(), Root(), imageType, faceMode);
    }
    void Refresh(const char* userId, int imageType, int faceMode) {
        download->VazirOridoStartGFU(userId, Server(), Root(), imageType, faceMode);
    }

    // The worker handles one transfer after another's response in order of arrival: once a
    // later request has been stored, every earlier response has been dealt with.
    void Settle() {
        const int before = server.Hits(kSentinelTarget);
        std::remove(store.Path("Body/sentinel.gif").c_str());
        Start("sentinel", 1, 0);
        ASSERT_TRUE(server.WaitForHits(kSentinelTarget, before + 1));
        ASSERT_TRUE(WaitForContent(store.Path("Body/sentinel.gif"), kSentinel));
    }

    TempStore store;
    TestServer server;
    std::unique_ptr<CAvatarDownload> download = std::make_unique<CAvatarDownload>();
};

TEST_F(DownloadTest, StoresPicturesWhereTheControlLooks) {
    ServeText(server.Http(), "/c_avatar/Up/10001_bs.gif", kPicture);
    ServeText(server.Http(), "/c_avatar/Face/10001.gif", "GIF89a-face");
    ServeText(server.Http(), "/c_avatar/man2.gif", "GIF89a-man2");
    ServeText(server.Http(), "/c_avatar/redirected.gif", "GIF89a-after-redirect");
    ServeUntilClose(server.Http(), "/c_avatar/Face/10001_s.gif", kWholeGif);
    // Framed bodies are whole however they end: a byte after the trailer, or no trailer.
    ServeChunked(server.Http(), "/c_avatar/Face/10001_c.gif", std::string(kWholeGif) + "\n");
    ServeChunked(server.Http(), "/c_avatar/Face/10001_a.gif", "GIF89a-no-trailer");
    server.Http().Get("/c_avatar/Body/10001_w.gif",
                      [](const httplib::Request&, httplib::Response& response) {
                          response.set_redirect("/c_avatar/redirected.gif");
                      });
    server.Start();

    Start("10001", 2, 6);
    Start("10001", 3, 0);
    Start("10001", 1, 4);
    Start("10001", 3, 1);
    Start("10001", 3, 2);
    Start("10001", 3, 3);
    // The control addresses the Default directory as "default\".
    download->VazirOridoStartN(("http://" + server.Address() + "/c_avatar/man2.gif").c_str(),
                               Root() + "default\\man2.gif");

    EXPECT_TRUE(WaitForContent(store.Path("Up/10001_bs.gif"), kPicture));
    EXPECT_TRUE(WaitForContent(store.Path("Face/10001.gif"), "GIF89a-face"));
    EXPECT_TRUE(WaitForContent(store.Path("Face/10001_s.gif"), kWholeGif));
    EXPECT_TRUE(WaitForContent(store.Path("Face/10001_c.gif"), std::string(kWholeGif) + "\n"));
    EXPECT_TRUE(WaitForContent(store.Path("Face/10001_a.gif"), "GIF89a-no-trailer"));
    EXPECT_TRUE(WaitForContent(store.Path("Default/man2.gif"), "GIF89a-man2"));
    EXPECT_TRUE(WaitForContent(store.Path("Body/10001_w.gif"), "GIF89a-after-redirect"));
    EXPECT_FALSE(std::filesystem::exists(store.Path("default")));
    for (const char* sub : {"Body", "Up", "Face", "Default"})
        EXPECT_TRUE(store.TempFiles(sub).empty()) << sub;
}

TEST_F(DownloadTest, FailedResponsesLeaveNothingAndKeepTheOldPicture) {
    ServeText(server.Http(), "/c_avatar/Up/missing.gif", "not found page", 404);
    ServeText(server.Http(), "/c_avatar/Up/broken.gif", "server error page", 500);
    ServeText(server.Http(), "/c_avatar/Up/kept.gif", "not found page", 404);
    ServeText(server.Http(), "/c_avatar/Up/empty.gif", "");
    ServeText(server.Http(), "/c_avatar/Up/portal.gif",
              "<html><body>Please sign in to use this network</body></html>");
    ServeUntilClose(server.Http(), "/c_avatar/Up/cut.gif",
                    std::string(kWholeGif, sizeof kWholeGif - 2));
    server.Http().Get("/c_avatar/Up/loop.gif",
                      [](const httplib::Request&, httplib::Response& response) {
                          response.set_redirect("/c_avatar/Up/loop.gif");
                      });
    server.Http().Get("/c_avatar/Up/scheme.gif",
                      [](const httplib::Request&, httplib::Response& response) {
                          response.set_redirect("file:///etc/hostname");
                      });
    server.Start();
    WriteFile(store.Path("Up/kept.gif"), kOldPicture);
    WriteFile(store.Path("Up/empty.gif"), kOldPicture);
    WriteFile(store.Path("Up/loop.gif"), kOldPicture);
    WriteFile(store.Path("Up/portal.gif"), kOldPicture);
    WriteFile(store.Path("Up/cut.gif"), kOldPicture);

    for (const char* id : {"missing", "broken", "kept", "empty", "loop", "scheme", "portal", "cut"})
        Start(id, 2, 0);
    download->VazirOridoStartN(("ftp://" + server.Address() + "/c_avatar/man1.gif").c_str(),
                               Root() + "default\\man1.gif");
    ASSERT_TRUE(server.WaitForHits("/c_avatar/Up/scheme.gif", 1));
    ASSERT_TRUE(
        server.WaitForHits("/c_avatar/Up/loop.gif", 4));  // the first try and three redirects
    Settle();

    EXPECT_FALSE(std::filesystem::exists(store.Path("Up/missing.gif")));
    EXPECT_FALSE(std::filesystem::exists(store.Path("Up/broken.gif")));
    EXPECT_FALSE(std::filesystem::exists(store.Path("Up/scheme.gif")));
    EXPECT_FALSE(std::filesystem::exists(store.Path("Default/man1.gif")));
    EXPECT_EQ(ReadFile(store.Path("Up/kept.gif")), kOldPicture);
    EXPECT_EQ(ReadFile(store.Path("Up/empty.gif")), kOldPicture);
    EXPECT_EQ(ReadFile(store.Path("Up/loop.gif")), kOldPicture);
    EXPECT_EQ(ReadFile(store.Path("Up/portal.gif")), kOldPicture);
    EXPECT_EQ(ReadFile(store.Path("Up/cut.gif")), kOldPicture);
    EXPECT_EQ(server.Hits("/c_avatar/Up/loop.gif"), 4);
    EXPECT_TRUE(store.TempFiles("Up").empty());
}

TEST_F(DownloadTest, SlowBodyIsNeverVisibleHalfWritten) {
    // Owned with the server's handlers, which outlive the test and may still be sending it.
    const auto body =
        std::make_shared<const std::string>(std::string("GIF89a") + std::string(4000, 'x'));
    server.Http().Get(
        "/c_avatar/Body/slow.gif", [body](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                body->size(), "image/gif", [body](size_t offset, size_t, httplib::DataSink& sink) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    return sink.write(body->data() + offset,
                                      std::min<size_t>(500, body->size() - offset));
                });
        });
    server.Start();
    WriteFile(store.Path("Body/slow.gif"), kOldPicture);

    Start("slow", 1, 0);
    bool sawTempFile = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::optional<std::string> seen;
    do {
        seen = ReadFile(store.Path("Body/slow.gif"));
        ASSERT_TRUE(seen == kOldPicture || seen == *body)
            << "partial file of " << (seen ? seen->size() : 0) << " bytes";
        sawTempFile = sawTempFile || !store.TempFiles("Body").empty();
    } while (seen != *body && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(seen, *body);
    EXPECT_TRUE(sawTempFile);
    EXPECT_TRUE(store.TempFiles("Body").empty());
}

TEST_F(DownloadTest, OversizedBodiesAreRefused) {
    constexpr size_t kOverLimit = 8 * 1024 * 1024 + 1;
    // Declared too large: refused from the header alone.
    server.Http().Get("/c_avatar/Body/declared.gif",
                      [](const httplib::Request&, httplib::Response& response) {
                          response.set_content(std::string(kOverLimit, 'd'), "image/gif");
                      });
    // No declared length: must be counted while it streams.
    server.Http().Get(
        "/c_avatar/Body/streamed.gif", [](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "image/gif", [sent = size_t{0}](size_t, httplib::DataSink& sink) mutable {
                    const std::string chunk(64 * 1024, 's');
                    if (sent >= 2 * kOverLimit) {
                        sink.done();
                        return true;
                    }
                    sent += chunk.size();
                    return sink.write(chunk.data(), chunk.size());
                });
        });
    server.Start();

    Start("declared", 1, 0);
    Start("streamed", 1, 0);
    ASSERT_TRUE(server.WaitForHits("/c_avatar/Body/declared.gif", 1));
    ASSERT_TRUE(server.WaitForHits("/c_avatar/Body/streamed.gif", 1));
    Settle();

    EXPECT_FALSE(std::filesystem::exists(store.Path("Body/declared.gif")));
    EXPECT_FALSE(std::filesystem::exists(store.Path("Body/streamed.gif")));
    EXPECT_TRUE(store.TempFiles("Body").empty());
}

TEST_F(DownloadTest, IdenticalRequestsInFlightShareOneTransfer) {
    server.Http().Get("/c_avatar/Face/shared.gif",
                      [&](const httplib::Request&, httplib::Response& response) {
                          server.WaitAtGate();
                          response.set_content(kPicture, "image/gif");
                      });
    ServeText(server.Http(), "/c_avatar/Face/shared_s.gif", kPicture);
    server.Start();

    CAvatarDownload second;
    Start("shared", 3, 0);
    Refresh("shared", 3, 0);
    second.StartDownload("shared", Server(), Root(), 3, 0);
    Start("shared", 3, 1);  // another picture: its own transfer
    ASSERT_TRUE(WaitForContent(store.Path("Face/shared_s.gif"), kPicture));
    server.OpenGate();
    ASSERT_TRUE(WaitForContent(store.Path("Face/shared.gif"), kPicture));
    Settle();

    EXPECT_EQ(server.Hits("/c_avatar/Face/shared.gif"), 1);
    EXPECT_EQ(server.Hits("/c_avatar/Face/shared_s.gif"), 1);
    // Once done, the same request goes out again.
    Start("shared", 3, 0);
    EXPECT_TRUE(server.WaitForHits("/c_avatar/Face/shared.gif", 2));
}

TEST_F(DownloadTest, ManyRequestsRunThirtyTwoAtATimeAgainstOneServerAndAllArrive) {
    std::atomic<int> running{0};
    std::atomic<int> mostRunning{0};
    server.Http().Get("/c_avatar/Up/many.*", [&](const httplib::Request& request,
                                                 httplib::Response& response) {
        const int now = ++running;
        for (int seen = mostRunning; now > seen && !mostRunning.compare_exchange_weak(seen, now);) {
        }
        server.WaitAtGate();
        --running;
        response.set_content("GIF89a" + request.path, "image/gif");
    });
    server.Start();

    constexpr int kAtOnce = 32;
    constexpr int kRequests = kAtOnce + 4;
    for (int i = 0; i < kRequests; ++i) Start(("many" + std::to_string(i)).c_str(), 2, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (running < kAtOnce && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // room for one more to show up
    EXPECT_EQ(mostRunning, kAtOnce);
    server.OpenGate();
    for (int i = 0; i < kRequests; ++i) {
        const std::string name = "many" + std::to_string(i) + ".gif";
        EXPECT_TRUE(WaitForContent(store.Path("Up/" + name), "GIF89a/c_avatar/Up/" + name)) << name;
    }
}

// A backlog of refreshes of stored pictures, all held up by the server: the descriptors the
// library takes are bounded (64 holds, 32 transfers), not one per queued picture.
TEST_F(DownloadTest, DescriptorsDoNotGrowWithTheBacklog) {
    std::atomic<int> arrived{0};
    server.Http().Get(R"(/c_avatar/Body/queued\d+\.gif)",
                      [&](const httplib::Request&, httplib::Response& response) {
                          ++arrived;
                          server.WaitAtGate();
                          response.set_content(kPicture, "image/gif");
                      });
    server.Start();
    constexpr int kQueued = 300;
    for (int i = 0; i < kQueued; ++i)
        WriteFile(store.Path("Body/queued" + std::to_string(i) + ".gif"), kOldPicture);
    const auto before = OpenDescriptors();

    for (int i = 0; i < kQueued; ++i) Refresh(("queued" + std::to_string(i)).c_str(), 1, 0);
    ASSERT_TRUE(nimbrel_test::WaitFor([&] { return arrived == 32; }));
    EXPECT_LT(OpenDescriptors() - before, 64 + 32 * 4 + 16);
    server.OpenGate();
    for (int i = 0; i < kQueued; ++i) {
        const std::string name = "Body/queued" + std::to_string(i) + ".gif";
        EXPECT_TRUE(WaitForContent(store.Path(name), kPicture)) << name;
    }
}

// Transfers that find another's under way wait for it (a bounded number at once, each with two
// descriptors); when it ends without bringing the picture, each asks for its own.
TEST_F(DownloadTest, WaitsForTransfersThatBringNothingEndInRequestsOfTheirOwn) {
    ServeText(server.Http(), R"(/c_avatar/Face/waiting\d+\.gif)", kPicture);
    server.Start();
    // Every picture of Face locked, as other processes' transfers of them would.
    WriteFile(store.Path("Face/.nimbrel.lock"), "");
    std::unique_ptr<FILE, decltype(&std::fclose)> other(
        std::fopen(store.Path("Face/.nimbrel.lock").c_str(), "r+e"), &std::fclose);
    ASSERT_TRUE(other);
    struct flock everything = {};
    everything.l_type = F_WRLCK;
    everything.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fileno(other.get()), F_OFD_SETLK, &everything), 0);
    constexpr int kWaiting = 150;
    const auto before = OpenDescriptors();

    for (int i = 0; i < kWaiting; ++i) Start(("waiting" + std::to_string(i)).c_str(), 3, 0);
    // Sixty-four waits, with a directory and the lock file open each, and no more.
    ASSERT_TRUE(nimbrel_test::WaitFor([&] { return OpenDescriptors() - before >= 64 * 2; }));
    EXPECT_LT(OpenDescriptors() - before, 64 * 2 + 16);
    EXPECT_EQ(server.Hits("/c_avatar/Face/waiting0.gif"), 0);
    other.reset();
    for (int i = 0; i < kWaiting; ++i) {
        const std::string name = "Face/waiting" + std::to_string(i) + ".gif";
        EXPECT_TRUE(WaitForContent(store.Path(name), kPicture)) << name;
    }
}

TEST_F(DownloadTest, UnusualUserIdsArePercentEncodedAndStoredAsGiven) {
    const std::string id = "a b+\xc3\xbc%#?&;";
    ServeText(server.Http(), "/c_avatar/Body/.*", kPicture);
    server.Start();

    Start(id.c_str(), 1, 7);
    EXPECT_TRUE(WaitForContent(store.Path("Body/" + id + "_bc.gif"), kPicture));
    EXPECT_EQ(server.Hits("/c_avatar/Body/a%20b%2B%C3%BC%25%23%3F%26%3B_bc.gif"), 1);
}

TEST_F(DownloadTest, UnsafeRequestsGoNowhere) {
    ServeText(server.Http(), "/c_avatar/.*", kPicture);
    server.Start();

    for (const char* id :
         {"", ".", "..", "a/b", "a\\b", "..\\..\\x", "c:x", "tab\tid", "del\x7fid"}) {
        Start(id, 1, 0);
        Refresh(id, 2, 0);
    }
    download->StartDownload("10001", Server(), "", 1, 0);
    download->VazirOridoStartGFU("10001", Server(), "", 2, 0);
    for (int type : {0, 4, -1}) Start("10001", type, 0);
    const std::string url = "http://" + server.Address() + "/c_avatar/man1.gif";
    download->VazirOridoStartN(url.c_str(), Root() + "default\\..\\..\\man1.gif");
    download->VazirOridoStartN(url.c_str(), Root() + "default\\");
    download->VazirOridoStartN(url.c_str(), "");
    download->VazirOridoStartN("", Root() + "default\\man1.gif");
    Settle();

    ASSERT_EQ(server.Seen().size(), 1u)
        << "first unexpected request: " << server.Seen().front().target;
    EXPECT_FALSE(std::filesystem::exists(store.Path("Default/man1.gif")));
}

TEST_F(DownloadTest, AStoredPictureFailsTheExistenceTestUntilItsTransferHasEnded) {
    // First every picture is fetched with a validator; then, with `second` set, the server
    // holds its answers at the gate: a 304 to a refresh, a 404 for "failing", else a new body.
    std::atomic<bool> second{false};
    server.Http().Get(R"(/c_avatar/Body/(\w+)\.gif)",
                      [&](const httplib::Request& request, httplib::Response& response) {
                          if (second) server.WaitAtGate();
                          if (second && request.matches[1] == "failing") {
                              response.status = 404;
                          } else if (request.has_header("If-None-Match")) {
                              response.status = 304;
                          } else {
                              response.set_header("ETag", "\"v1\"");
                              response.set_content(second ? kPicture : kOldPicture, "image/gif");
                          }
                      });
    server.Start();
    const char* const ids[] = {"replaced", "unchanged", "failing", "readonly"};
    for (const char* id : ids) Start(id, 1, 0);
    for (const char* id : ids)
        ASSERT_TRUE(WaitForContent(store.Path(std::string("Body/") + id + ".gif"), kOldPicture));
    std::filesystem::permissions(store.Path("Body/readonly.gif"),
                                 std::filesystem::perms::owner_read);
    nimbrel_test::SetModificationTime(store.Path("Body/unchanged.gif"),
                                      std::time(nullptr) - 2 * 3600);

    second = true;
    Start("replaced", 1, 0);
    Start("replaced", 1, 0);  // joined: it shares the first one's hold
    Refresh("unchanged", 1, 0);
    Start("failing", 1, 0);
    Start("readonly", 1, 0);  // cannot be held for writing: visible as before
    const struct {
        const char* id;
        bool passesDuringTransfer;
        const char* after;
    } rows[] = {
        {"replaced", false, kPicture},
        {"unchanged", false, kOldPicture},
        {"failing", false, kOldPicture},
        {"readonly", true, kPicture},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PassesExistenceTest(store.Path(std::string("Body/") + row.id + ".gif")),
                  row.passesDuringTransfer)
            << row.id;
    }
    server.OpenGate();
    ASSERT_TRUE(server.WaitForHits("/c_avatar/Body/failing.gif", 2));
    ASSERT_TRUE(WaitForContent(store.Path("Body/replaced.gif"), kPicture));
    Settle();
    for (const auto& row : rows) {
        const std::filesystem::path path = store.Path(std::string("Body/") + row.id + ".gif");
        EXPECT_TRUE(PassesExistenceTest(path)) << row.id;
        EXPECT_EQ(ReadFile(path), row.after) << row.id;
    }
    EXPECT_EQ(server.Hits("/c_avatar/Body/replaced.gif"), 2);
    // The 304 marks the kept picture as fetched now.
    EXPECT_LE(std::abs(std::time(nullptr) -
                       nimbrel_test::ModificationTime(store.Path("Body/unchanged.gif"))),
              60);
}

TEST_F(DownloadTest, AFetchArrivingDuringARefreshIsNotAnsweredByIt) {
    std::atomic<bool> changed{false};
    std::atomic<int> conditional{0};
    server.Http().Get("/c_avatar/Up/fourth.gif", [&](const httplib::Request& request,
                                                     httplib::Response& response) {
        if (request.has_header("If-None-Match") || request.has_header("If-Modified-Since")) {
            ++conditional;
            server.WaitAtGate();
            response.status = 304;
            return;
        }
        response.set_header("ETag", "\"v1\"");
        response.set_content(changed ? kPicture : kOldPicture, "image/gif");
    });
    server.Start();
    Start("fourth", 2, 0);
    ASSERT_TRUE(WaitForContent(store.Path("Up/fourth.gif"), kOldPicture));
    changed = true;

    Refresh("fourth", 2, 0);
    ASSERT_TRUE(nimbrel_test::WaitFor([&] { return conditional == 1; }));
    Start("fourth", 2, 0);
    EXPECT_TRUE(WaitForContent(store.Path("Up/fourth.gif"), kPicture));
    server.OpenGate();
    Settle();
    EXPECT_EQ(ReadFile(store.Path("Up/fourth.gif")), kPicture);
    EXPECT_EQ(server.Hits("/c_avatar/Up/fourth.gif"), 3);
}

TEST_F(DownloadTest, IdentityIsAskedForAndAnEncodedBodyIsDecodedOrRefused) {
    server.Http().Get("/c_avatar/Face/zipped.gif",
                      [](const httplib::Request&, httplib::Response& response) {
                          response.set_header("Content-Encoding", "deflate");
                          response.set_content(Deflate(kPicture), "image/gif");
                      });
    server.Http().Get("/c_avatar/Face/odd.gif",
                      [](const httplib::Request&, httplib::Response& response) {
                          response.set_header("Content-Encoding", "x-unheard-of");
                          response.set_content("GIF89a-encoded-somehow", "image/gif");
                      });
    server.Start();
    WriteFile(store.Path("Face/odd.gif"), kOldPicture);

    Start("zipped", 3, 0);
    Start("odd", 3, 0);
    EXPECT_TRUE(WaitForContent(store.Path("Face/zipped.gif"), kPicture));
    ASSERT_TRUE(server.WaitForHits("/c_avatar/Face/odd.gif", 1));
    Settle();
    EXPECT_EQ(ReadFile(store.Path("Face/odd.gif")), kOldPicture);
    for (const auto& seen : server.Seen())
        EXPECT_EQ(seen.acceptEncoding, "identity") << seen.target;
}

TEST_F(DownloadTest, DestroyingObjectsCancelsNoTransfer) {
    std::atomic<bool> arrived{false};
    server.Http().Get("/c_avatar/Up/lasting_b.gif",
                      [&](const httplib::Request&, httplib::Response& response) {
                          arrived = true;
                          server.WaitAtGate();
                          response.set_content(kPicture, "image/gif");
                      });
    server.Start();
    WriteFile(store.Path("Up/lasting_b.gif"), kOldPicture);

    Start("lasting", 2, 5);
    ASSERT_TRUE(nimbrel_test::WaitFor([&] { return arrived.load(); }));
    { CAvatarDownload copy(*download); }  // an implicit copy, as a host may make one
    download.reset();                     // and the last object
    server.OpenGate();
    EXPECT_TRUE(WaitForContent(store.Path("Up/lasting_b.gif"), kPicture));
}

TEST_F(DownloadTest, ProcessExitWithATransferInFlightDoesNotHang) {
    server.Http().Get("/c_avatar/Up/endless_b.gif", [&](const httplib::Request&,
                                                        httplib::Response& response) {
        response.set_chunked_content_provider("image/gif", [&](size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (server.GateOpen()) return false;
            return sink.write("GIF89a", 6);
        });
    });
    server.Start();
    WriteFile(store.Path("Up/endless_b.gif"), kOldPicture);

    int status = 0;
    ASSERT_TRUE(FinishProgram(
        StartProgram({NIMBREL_EXIT_PROBE, server.Address(), store.WindowsRoot()}), &status))
        << "the process hung at exit";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_TRUE(store.TempFiles("Up").empty());
    EXPECT_EQ(ReadFile(store.Path("Up/endless_b.gif")), kOldPicture);
    server.OpenGate();
}

TEST_F(DownloadTest, OwnStaleTemporaryFilesAreSweptBeforeWriting) {
    ServeText(server.Http(), "/c_avatar/Face/swept.gif", kPicture);
    server.Start();
    WriteFile(store.Path("Face/.nimbrel-0123456789abcdef.part"), "stale");
    WriteFile(store.Path("Face/.nimbrel-fedcba9876543210.part"), "recent");
    WriteFile(store.Path("Face/.other-stale.part"), "not ours");
    const std::time_t twoDaysAgo = std::time(nullptr) - 2 * 24 * 3600;
    nimbrel_test::SetModificationTime(store.Path("Face/.nimbrel-0123456789abcdef.part"),
                                      twoDaysAgo);
    nimbrel_test::SetModificationTime(store.Path("Face/.other-stale.part"), twoDaysAgo);

    Start("swept", 3, 0);
    ASSERT_TRUE(WaitForContent(store.Path("Face/swept.gif"), kPicture));

    EXPECT_FALSE(std::filesystem::exists(store.Path("Face/.nimbrel-0123456789abcdef.part")));
    EXPECT_TRUE(std::filesystem::exists(store.Path("Face/.nimbrel-fedcba9876543210.part")));
    EXPECT_TRUE(std::filesystem::exists(store.Path("Face/.other-stale.part")));
}

// A name server that does not answer: the lookup runs on curl's resolver thread, and neither
// destroying the last object nor unloading the library may wait for it, nor may the lookup's
// end run code that went away with the library.
TEST(SlowLookup, LettingGoDoesNotWaitForTheNameServer) {
    for (const char* mode : {"destroy", "unload"}) {
        TempStore store;
        int status = 0;
        ASSERT_TRUE(FinishProgram(
            StartProgram({NIMBREL_SLOW_LOOKUP_PROBE, mode, NIMBREL_LIBRARY, store.WindowsRoot()}),
            &status))
            << mode;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << mode << ": " << (WIFEXITED(status) ? "exit " : "signal ")
            << (WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status));
    }
}

}  // namespace
