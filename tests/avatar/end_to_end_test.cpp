// The control with the real download library, against an avatar server on 127.0.0.1.
// ctest-labels: threaded
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ControlHarness.h"
#include "TestPictures.h"
#include "platform/pump.h"

namespace avatar_test {
namespace {

std::string GifBytes(uint32_t rgb) {
    const std::string path = std::filesystem::temp_directory_path() / ("avatar_e2e." + std::to_string(::getpid()) + ".gif");
    EXPECT_TRUE(WriteSolidGif(path, ControlHarness::kPictureSide, ControlHarness::kPictureSide, rgb));
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::filesystem::remove(path);
    return bytes.str();
}

class AvatarServer {
public:
    AvatarServer() {
        server_.Get(R"(/c_avatar/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
            ++hits_;
            const auto found = files_.find(request.matches[1].str());
            if (found == files_.end()) {
                response.status = 404;
                return;
            }
            response.set_content(found->second, "image/gif");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // The socket listens from bind on; connections wait in its backlog until the loop runs.
    }
    ~AvatarServer() {
        server_.stop();
        thread_.join();
    }
    // Files are set before the control asks for them; the server thread only reads them.
    void Serve(const std::string& path, const std::string& bytes) { files_[path] = bytes; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    int hits() const { return hits_; }

private:
    httplib::Server server_;
    std::map<std::string, std::string> files_;
    std::atomic<int> hits_{0};
    int port_ = 0;
    std::thread thread_;
};

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { EmptyStore(); }
    AvatarServer server;
    ControlHarness host;
};

TEST_F(EndToEndTest, MissingPictureIsDownloadedShownAndRecorded) {
    server.Serve("Up/10001_bs.gif", GifBytes(kUserColor));
    PutDefaultSet();
    CPortrix& control = host.control();
    control.SetUserID("10001");
    control.SetImageType(2);
    control.SetFaceMode(6);
    control.SetImageSN(12);
    control.SetServerAddress(server.Address().c_str());
    EXPECT_EQ(control.Display(), 1);
    EXPECT_TRUE(host.WaitForColor(kUserColor, 10s));
    EXPECT_TRUE(WaitUntil([] { return StoreFileExists("SNS\\10001.txt"); }, 10s));
    EXPECT_EQ(ReadStoreFile("SNS\\10001.txt").substr(80, 5), "00012");
}

TEST_F(EndToEndTest, MissingDefaultPicturesAreFetchedIntoTheStore) {
    const char* const names[] = {"default1.gif", "default2.gif", "man1.gif",      "man2.gif",
                                 "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif"};
    for (const char* name : names) server.Serve(name, GifBytes(kDefault1Color));
    host.control().SetServerAddress(server.Address().c_str());
    host.control().SetSex(1);
    host.control().SetImageType(1);  // man1.gif is missing: the whole set is asked for
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (const char* name : names)
                if (!StoreFileExists(std::string("default\\") + name)) return false;
            return true;
        },
        10s));
    // Fetched pictures serve the next display.
    host.control().SetImageType(1);
    EXPECT_TRUE(host.WaitForColor(kDefault1Color, 5s));
}

}  // namespace
}  // namespace avatar_test
