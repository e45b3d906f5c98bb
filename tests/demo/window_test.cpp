// The hosts' windows under Xvfb. portrix-demo --window: the dialog appears in a real X11
// window, a click injected through the X server reaches a control's mouse receiver and frames
// the control, the window shows what the demo captured, and closing the window ends the demo.
// The minimal example host: closing its window ends it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "DemoProcess.h"
#include "platform/capture.h"
#include "temp_dir.h"

// Last: Xlib's macros (None, Status, Bool) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace demo_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The place of a control in the dialog, from the layout.txt the demo writes when it opens it.
bool ControlPlace(const std::string& layout, const std::string& control, int* left, int* top) {
    std::ifstream in(layout);
    std::string name;
    std::string rest;
    while (in >> name) {
        if (name == control && (in >> *left >> *top)) return true;
        std::getline(in, rest);
    }
    return false;
}

// Xvfb on the first free display (-displayfd: it prints the number); ":N", or empty when it did
// not start.
std::string StartXvfb(std::unique_ptr<ChildProcess>* xvfb) {
    *xvfb = std::make_unique<ChildProcess>(std::vector<std::string>{
        XVFB_PROGRAM, "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    const std::string number =
        (*xvfb)->WaitForLine([](const std::string& line) { return !line.empty(); }, 30s);
    return number.empty() ? "" : ":" + number;
}

// The window titled as `title` says (a pattern) once the X server shows it; 0 when none came.
// A host may name its window before the server has made it.
Window ShownWindow(const std::string& display, const std::string& title) {
    ChildProcess search({XDOTOOL_PROGRAM, "search", "--sync", "--onlyvisible", "--name", title},
                        {{"DISPLAY", display}});
    const std::string found =
        search.WaitForLine([](const std::string& line) { return !line.empty(); }, 60s);
    return found.empty() ? 0 : std::stoul(found);
}

// What a window manager sends when its close button is pressed.
void SendClose(Display* x, Window window) {
    XEvent close = {};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    XSendEvent(x, window, False, NoEventMask, &close);
    XFlush(x);
}

TEST(DemoWindowTest, ClickReachesTheHookAndTheWindowShowsTheCapture) {
    if (!fs::exists(XVFB_PROGRAM) || !fs::exists(XDOTOOL_PROGRAM))
        GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";

    // The dialog, at (100,100), lies wholly on the screen, so that the server can read all of
    // it back.
    std::unique_ptr<ChildProcess> xvfb;
    const std::string display = StartXvfb(&xvfb);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";

    const portrix_test::TempDir outDir;
    const std::string& out = outDir.path();
    ChildProcess demo(
        {PORTRIX_DEMO_PROGRAM, "--window", "--seconds", "4", "--delay-ms", "100", "--out", out},
        {{"DISPLAY", display}, {"PORTRIX_NO_DISPLAY", ""}});
    const std::string opened = demo.WaitForLine(
        [](const std::string& line) { return Contains(line, "x11 window 0x"); }, 60s);
    ASSERT_FALSE(opened.empty()) << demo.output();
    const Window window = std::stoul(opened.substr(opened.find("0x")), nullptr, 16);
    // Once the host's second act is over and the unknown users show their defaults, nothing but
    // the animation changes any more.
    for (const char* state : {"over the handed background", "unknown-man    default man1.gif",
                              "unknown-woman  default woman2.gif"})
        ASSERT_TRUE(demo.WaitForText(state, 60s)) << state << "\n" << demo.output();

    // A left click in the middle of the first control, "fresh".
    int left = 0, top = 0;
    ASSERT_TRUE(ControlPlace(out + "/layout.txt", "fresh", &left, &top));
    ChildProcess click({XDOTOOL_PROGRAM, "mousemove", "--window", std::to_string(window),
                        std::to_string(left + 20), std::to_string(top + 24), "click", "1"},
                       {{"DISPLAY", display}});
    EXPECT_EQ(click.WaitForExit(30s), 0);
    bool down = false, up = false;
    std::string shownFile;
    demo.WaitForLine(
        [&](const std::string& line) {
            down = down || Contains(line, "fresh          WM_LBUTTONDOWN flags 0x0001 at (20,24)");
            up = up || Contains(line, "fresh          WM_LBUTTONUP flags 0x0000 at (20,24)");
            if (line.rfind("shown    ", 0) == 0) shownFile = line.substr(9);
            return down && up && !shownFile.empty();
        },
        30s);
    EXPECT_TRUE(down) << demo.output();
    EXPECT_TRUE(up) << demo.output();
    ASSERT_FALSE(shownFile.empty()) << demo.output();

    // The X server's copy of the window against the framebuffer the demo put there. Only the
    // animated control may have moved on in between.
    std::vector<uint32_t> captured;
    int width = 0, height = 0;
    ASSERT_TRUE(platform::LoadPng(shownFile, &captured, &width, &height));
    Display* x = XOpenDisplay(display.c_str());
    ASSERT_NE(x, nullptr);
    XImage* image = XGetImage(x, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    size_t same = 0;
    for (int py = 0; py < height; ++py)
        for (int px = 0; px < width; ++px)
            same += (XGetPixel(image, px, py) & 0xFFFFFFu) ==
                    captured[static_cast<size_t>(py * width + px)];
    XDestroyImage(image);
    EXPECT_GE(static_cast<double>(same) / (width * height), 0.95)
        << same << " of " << width * height;

    // The click framed the control in orange, just outside it, in the window.
    const unsigned long kFrameOrange = 0xF57C00;
    unsigned long framePixel = 0;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;
         framePixel != kFrameOrange && std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(50ms)) {
        XImage* frame = XGetImage(x, window, left - 5, top + 20, 1, 1, AllPlanes, ZPixmap);
        ASSERT_NE(frame, nullptr);
        framePixel = XGetPixel(frame, 0, 0) & 0xFFFFFFu;
        XDestroyImage(frame);
    }
    EXPECT_EQ(framePixel, kFrameOrange);

    // Closing the window as a window manager would ends the demo with its verdict.
    SendClose(x, window);
    EXPECT_EQ(demo.WaitForExit(60s), 0) << demo.output();
    EXPECT_TRUE(Contains(demo.output(), "every control ended where it should")) << demo.output();
    XCloseDisplay(x);
}

// A local port for the object's life: bound and never listening, it refuses connections;
// listening but never accepting, it takes them (the kernel completes the handshake) and never
// answers.
class LocalPort {
public:
    explicit LocalPort(bool listening) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            (!listening || listen(fd_, kBacklog) == 0) &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            address_ = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~LocalPort() {
        if (fd_ >= 0) close(fd_);
    }
    LocalPort(const LocalPort&) = delete;
    LocalPort& operator=(const LocalPort&) = delete;
    const std::string& address() const { return address_; }  // empty when it could not be made

private:
    static constexpr int kBacklog = 64;
    int fd_;
    std::string address_;
};

// A given server that cannot be reached: the demo says so. One that takes connections and never
// answers: a close while the demo waits for the default pictures ends it there, without the
// acts and their verdict. Neither run is a success.
TEST(DemoWindowTest, UnreachableAndSilentServers) {
    if (!fs::exists(XVFB_PROGRAM) || !fs::exists(XDOTOOL_PROGRAM))
        GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    std::unique_ptr<ChildProcess> xvfb;
    const std::string display = StartXvfb(&xvfb);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";
    Display* x = XOpenDisplay(display.c_str());
    ASSERT_NE(x, nullptr);

    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent server" : "unreachable server");
        const LocalPort server(silent);
        ASSERT_FALSE(server.address().empty());
        const portrix_test::TempDir outDir;
        ChildProcess demo({PORTRIX_DEMO_PROGRAM, "--window", "--out", outDir.path(), "--server",
                           server.address()},
                          {{"DISPLAY", display}, {"PORTRIX_NO_DISPLAY", ""}});
        const Window window = ShownWindow(display, "^Portrix demo$");
        ASSERT_NE(window, 0u) << demo.output();
        if (!silent) {
            EXPECT_TRUE(demo.WaitForText(" cannot be reached: ", 60s)) << demo.output();
        }

        SendClose(x, window);
        EXPECT_EQ(demo.WaitForExit(60s), 1) << demo.output();
        if (silent) {
            EXPECT_FALSE(Contains(demo.output(), "time  control")) << demo.output();
        }
    }
    XCloseDisplay(x);
}

#ifdef MINIMAL_HOST_PROGRAM
TEST(MinimalHostWindowTest, ClosingTheWindowEndsTheHost) {
    if (!fs::exists(XVFB_PROGRAM) || !fs::exists(XDOTOOL_PROGRAM))
        GTEST_SKIP() << "Xvfb or xdotool is not installed (Debian packages xvfb, xdotool)";
    std::unique_ptr<ChildProcess> xvfb;
    const std::string display = StartXvfb(&xvfb);
    ASSERT_FALSE(display.empty()) << "Xvfb did not start";

    // An install path in a hive of the test's own, and a server that refuses every connection;
    // the host's run would last ten minutes.
    const portrix_test::TempDir install;
    const std::string hive = install.path() + "/hkcu.reg";
    ChildProcess reg({PORTRIX_REG_PROGRAM, "set", "HKEY_CURRENT_USER\\Software\\szDomain\\Share",
                      "Path", install.path()},
                     {{"PORTRIX_HKCU", hive}});
    ASSERT_EQ(reg.WaitForExit(30s), 0) << reg.output();
    ChildProcess host({MINIMAL_HOST_PROGRAM, "127.0.0.1:9", "10002", "600"},
                      {{"DISPLAY", display}, {"PORTRIX_NO_DISPLAY", ""}, {"PORTRIX_HKCU", hive}});
    const Window window = ShownWindow(display, "^Minimal host$");
    ASSERT_NE(window, 0u) << host.output();

    Display* x = XOpenDisplay(display.c_str());
    ASSERT_NE(x, nullptr);
    SendClose(x, window);
    EXPECT_EQ(host.WaitForExit(30s), 0) << host.output();
    EXPECT_TRUE(Contains(host.output(), "the control shows")) << host.output();
    XCloseDisplay(x);
}
#endif

}  // namespace
}  // namespace demo_test
