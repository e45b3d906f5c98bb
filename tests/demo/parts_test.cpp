// The demo's own pieces: its GIF writing and frame composition (which the demo's verdict rests
// on), the recognition of what a control shows, the embedded server's answers, and options.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "Artwork.h"
#include "AvatarServer.h"
#include "GifReading.h"
#include "Options.h"
#include "Timeline.h"

namespace demo_test {
namespace {

namespace fs = std::filesystem;
using demo::Artwork;
using demo::GifFrame;
using demo::Pixels;

std::string TempGif(const char* name) {
    return (fs::temp_directory_path() /
            (std::string(name) + "." + std::to_string(getpid()) + ".gif"))
        .string();
}

TEST(ArtworkTest, WrittenFramesReadBackWithTheirPlacesDelaysDisposalsAndTransparency) {
    for (const Artwork& art :
         {demo::AnimatedAvatar("a.gif"), demo::DownloadSpinner(1), demo::DownloadSpinner(2),
          demo::StillAvatar("s.gif", 48, 48, 0x112233, 0x445566, 2, true)}) {
        const std::string path = TempGif("artwork");
        ASSERT_TRUE(demo::WriteGif(art, path)) << art.name;
        ReadGif gif;
        ASSERT_TRUE(ReadGifFile(path, &gif)) << art.name;
        fs::remove(path);
        EXPECT_EQ(gif.width, art.width) << art.name;
        EXPECT_EQ(gif.height, art.height) << art.name;
        ASSERT_EQ(gif.frames.size(), art.frames.size()) << art.name;
        for (size_t i = 0; i < art.frames.size(); ++i) {
            const GifFrame& expected = art.frames[i];
            const ReadFrame& actual = gif.frames[i];
            SCOPED_TRACE(art.name + " frame " + std::to_string(i));
            EXPECT_EQ(actual.x, expected.x);
            EXPECT_EQ(actual.y, expected.y);
            EXPECT_EQ(actual.width, expected.width);
            EXPECT_EQ(actual.height, expected.height);
            EXPECT_EQ(actual.transparent, expected.transparent);
            if (art.IsAnimated()) {
                EXPECT_EQ(actual.delay, expected.delay);
                EXPECT_EQ(actual.disposal, expected.disposal);
            }
            for (size_t p = 0; p < expected.indices.size(); ++p) {
                const int index = expected.indices[p];
                const uint32_t rgb = index == expected.transparent
                                         ? kSeeThrough
                                         : art.palette[static_cast<size_t>(index)];
                ASSERT_EQ(actual.rgb[p], rgb) << "pixel " << p;
            }
        }
    }
    // The animated avatar really varies what the tests need: sizes, places and disposals.
    const Artwork animated = demo::AnimatedAvatar("a.gif");
    std::set<int> disposals, widths;
    for (const GifFrame& frame : animated.frames) {
        disposals.insert(frame.disposal);
        widths.insert(frame.width);
    }
    EXPECT_EQ(disposals, (std::set<int>{1, 2, 3}));
    EXPECT_EQ(widths.size(), animated.frames.size());
}

// A 4 x 1 picture: palette 0 red, 1 green, 2 blue, 3 see-through.
Artwork Strip(std::vector<GifFrame> frames) {
    Artwork art;
    art.width = 4;
    art.height = 1;
    art.palette = {0xFF0000, 0x00FF00, 0x0000FF, 0xFF00FF};
    art.frames = std::move(frames);
    return art;
}

GifFrame Patch(int x, int width, std::vector<uint8_t> indices, int disposal, int transparent = -1) {
    GifFrame frame;
    frame.x = x;
    frame.width = width;
    frame.height = 1;
    frame.indices = std::move(indices);
    frame.disposal = disposal;
    frame.transparent = transparent;
    return frame;
}

TEST(ArtworkTest, FramesComposeAsTheControlPlaysThem) {
    const Pixels background = {0x111111, 0x222222, 0x333333, 0x444444};
    const uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF;
    const struct {
        int row;
        Artwork art;
        bool backgroundCopy;
        std::vector<Pixels> expected;
    } rows[] = {
        // Transparent pixels leave what is under them.
        {1, Strip({Patch(0, 4, {0, 3, 1, 3}, 1, 3)}), false, {{R, 0x222222, G, 0x444444}}},
        // Disposal 3 puts the frame's rectangle back before the next frame.
        {2,
         Strip({Patch(0, 4, {0, 0, 0, 0}, 1), Patch(1, 2, {1, 1}, 3), Patch(3, 1, {2}, 1)}),
         false,
         {{R, R, R, R}, {R, G, G, R}, {R, R, R, B}}},
        // Disposal 2 starts from the whole background, before the frame, with a background copy...
        {3,
         Strip({Patch(0, 4, {0, 0, 0, 0}, 1), Patch(1, 1, {1}, 2)}),
         true,
         {{R, R, R, R}, {0x111111, G, 0x333333, 0x444444}}},
        // ... and draws over the previous frame without one.
        {4,
         Strip({Patch(0, 4, {0, 0, 0, 0}, 1), Patch(1, 1, {1}, 2)}),
         false,
         {{R, R, R, R}, {R, G, R, R}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(demo::ComposeFrames(row.art, background, row.backgroundCopy), row.expected)
            << "row " << row.row;
}

TEST(TimelineTest, RecognisesTheBestCandidateAboveTheThresholdOnly) {
    // A 10 x 10 frame; a 4 x 4 candidate region at (3, 3).
    Pixels frame(100, 0x000000);
    for (int y = 3; y < 7; ++y)
        for (int x = 3; x < 7; ++x) frame[static_cast<size_t>(y * 10 + x)] = 0xABCDEF;
    demo::Candidate solid{"solid", 4, 4, {Pixels(16, 0xABCDEF)}};
    demo::Candidate blinking{"blinking", 4, 4, {Pixels(16, 0x123456), Pixels(16, 0xABCDEF)}};
    Pixels oneOff(16, 0xABCDEF);
    oneOff[0] = 0;  // 15 of 16: below the 95 % threshold
    demo::Candidate almost{"almost", 4, 4, {oneOff}};

    EXPECT_EQ(demo::Recognise(frame, 10, 10, 3, 3, {almost, solid}).label, "solid");
    const demo::Sighting second = demo::Recognise(frame, 10, 10, 3, 3, {blinking});
    EXPECT_EQ(second.label, "blinking");
    EXPECT_EQ(second.look, 1);
    EXPECT_EQ(demo::Recognise(frame, 10, 10, 3, 3, {almost}).label, "");
    // A region past the frame's edge reads as black there, and does not crash.
    EXPECT_EQ(
        demo::Recognise(frame, 10, 10, 8, 8, {demo::Candidate{"black", 4, 4, {Pixels(16, 0)}}})
            .label,
        "black");

    demo::ControlTrack track("c", {});
    FILE* sink = std::tmpfile();
    track.Observe(0.1, {"a", 0}, sink);
    track.Observe(0.2, {"a", 1}, sink);
    track.Observe(0.3, {"", -1}, sink);
    EXPECT_EQ(track.current(), "(nothing recognisable)");
    EXPECT_TRUE(track.Saw("a"));
    EXPECT_EQ(track.DistinctLooks("a"), 2);
    std::rewind(sink);
    char text[256] = {};
    const size_t length = std::fread(text, 1, sizeof text - 1, sink);
    std::fclose(sink);
    // One line per change, not per observation.
    EXPECT_EQ(std::count(text, text + length, '\n'), 2) << text;
}

TEST(AvatarServerTest, AnswersPicturesNotModifiedAndUnknown) {
    EXPECT_EQ(demo::ParseHttpDate(demo::HttpDate(784111777)), 784111777);
    EXPECT_EQ(demo::HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(demo::ParseHttpDate("yesterday"), -1);

    demo::AvatarServer server(std::chrono::milliseconds(0));
    server.Serve("man1.gif", "GIF89a-man");
    server.Serve("Up/10002.gif", "GIF89a-user");
    ASSERT_TRUE(server.Start());
    httplib::Client client("http://" + server.Address());
    const time_t now = time(nullptr);
    const struct {
        int row;
        const char* path;
        int status;
        const char* body;
    } rows[] = {
        {1, "/c_avatar/man1.gif", 200, "GIF89a-man"},
        {2, "/c_avatar/Up/10002.gif", 200, "GIF89a-user"},
        {3, "/c_avatar/Up/99999.gif", 404, ""},
        {4, "/elsewhere/man1.gif", 404, ""},
    };
    int requests = 0;
    for (const auto& row : rows) {
        auto result = client.Get(row.path);
        ASSERT_TRUE(result) << "row " << row.row;
        EXPECT_EQ(result->status, row.status) << "row " << row.row;
        if (row.status == 200) {
            EXPECT_EQ(result->body, row.body) << "row " << row.row;
        }
        requests += std::string(row.path).rfind("/c_avatar/", 0) == 0;
    }
    // A copy as new as the server's is not sent again; an older one is.
    auto fresh = client.Get("/c_avatar/man1.gif", {{"If-Modified-Since", demo::HttpDate(now + 5)}});
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->status, 304);
    auto old =
        client.Get("/c_avatar/man1.gif", {{"If-Modified-Since", demo::HttpDate(now - 7200)}});
    ASSERT_TRUE(old);
    EXPECT_EQ(old->status, 200);
    EXPECT_FALSE(old->get_header_value("Last-Modified").empty());

    const demo::AvatarServer::Counts counts = server.GetCounts();
    EXPECT_EQ(counts.requests, requests + 2);
    EXPECT_EQ(counts.ok, 3);
    EXPECT_EQ(counts.notModified, 1);
    EXPECT_EQ(counts.notFound, 1);
}

TEST(OptionsTest, ParsesEveryOptionAndRefusesBadValues) {
    const struct {
        int row;
        std::vector<const char*> argv;
        bool ok;
    } rows[] = {
        {1, {}, true},
        {2,
         {"--out", "/tmp/x", "--seconds", "3.5", "--delay-ms", "0", "--server", "h:81", "--window"},
         true},
        {3, {"--seconds", "2.9"}, false},
        {4, {"--seconds", "4x"}, false},
        {5, {"--delay-ms", "10001"}, false},
        {6, {"--server", "http://h/"}, false},
        {7, {"--out"}, false},
        {8, {"-x"}, false},
    };
    for (const auto& row : rows) {
        std::vector<char*> argv = {const_cast<char*>("portrix-demo")};
        for (const char* arg : row.argv) argv.push_back(const_cast<char*>(arg));
        demo::Options options;
        std::string error;
        EXPECT_EQ(demo::ParseOptions(static_cast<int>(argv.size()), argv.data(), &options, &error),
                  row.ok)
            << "row " << row.row << ": " << error;
        if (row.row == 2) {
            EXPECT_EQ(options.outDir, "/tmp/x");
            EXPECT_DOUBLE_EQ(options.seconds, 3.5);
            EXPECT_EQ(options.delayMs, 0);
            EXPECT_EQ(options.server, "h:81");
            EXPECT_TRUE(options.window);
        }
    }
}

}  // namespace
}  // namespace demo_test
