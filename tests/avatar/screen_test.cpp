// The control's dialog on a real X server (Xvfb, started here): the window follows the dialog,
// shows the platform's own pixels, and input sent through the XTEST extension arrives as window
// messages; the registry failure box of a loading library is a window that Enter dismisses.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "RecordingFixture.h"
#include "gif_builder.h"
#include "platform/capture.h"
#include "platform/display.h"
#include "recorder_window.h"
#include "run_program.h"
#include "temp_dir.h"
#include "xvfb_server.h"

// Last: Xlib's macros (None, Status, Bool) would clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace avatar_test {
namespace {

using Clock = std::chrono::steady_clock;

// One X server for the whole program; DISPLAY is set for this process only, before the first
// window is shown, which is when the platform connects.
class ScreenEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::filesystem::exists(XVFB_PROGRAM)) return;
        server_ = std::make_unique<portrix_test::XvfbServer>(XVFB_PROGRAM, "1280x1024x24");
        if (server_->display().empty()) return;
        setenv("DISPLAY", server_->display().c_str(), 1);
        unsetenv("PORTRIX_NO_DISPLAY");
        x_ = XOpenDisplay(server_->display().c_str());
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // asking after gone windows
    }
    void TearDown() override {
        if (x_ != nullptr) XCloseDisplay(x_);
        server_.reset();
    }
    static Display* x() { return x_; }
    static const std::string& display() { return server_->display(); }
    static pid_t pid() { return server_->pid(); }

private:
    static inline std::unique_ptr<portrix_test::XvfbServer> server_;
    static inline Display* x_ = nullptr;
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ScreenEnvironment);

class ScreenTest : public RecordingControlTest {
protected:
    void SetUp() override {
        if (ScreenEnvironment::x() == nullptr) GTEST_SKIP() << "no Xvfb (Debian package xvfb)";
        ASSERT_TRUE(platform::HasDisplay());
        RecordingControlTest::SetUp();
        x = ScreenEnvironment::x();
    }

    Window DialogWindow() { return platform::DisplayWindowId(host.dialog()); }

    // The dialog with the user's picture shown, and on the server.
    void ShowUserPicture() {
        PutDefaultSet();
        PutPicture("Up\\10001_bs.gif", kUserColor);
        Configure("10001", 2, 6);
        EXPECT_EQ(host.control().Display(), 1);
        ASSERT_TRUE(host.WaitForColor(kUserColor));
        ASSERT_TRUE(platform::FlushDisplay());
    }

    // The server shows the dialog's pixels as the platform painted them.
    void ExpectServerShowsTheDialog() {
        ASSERT_TRUE(platform::FlushDisplay());
        std::vector<uint32_t> captured;
        int width = 0, height = 0;
        ASSERT_TRUE(platform::CaptureWindow(host.dialog(), &captured, &width, &height));
        const std::vector<uint32_t> shown = ServerPixels(DialogWindow(), 0, 0, width, height);
        ASSERT_EQ(shown.size(), captured.size());
        const auto mismatch = std::mismatch(shown.begin(), shown.end(), captured.begin());
        EXPECT_TRUE(mismatch.first == shown.end())
            << "first difference at pixel " << (mismatch.first - shown.begin()) << ": server "
            << std::hex << *mismatch.first << ", platform " << *mismatch.second;
    }

    // The window's pixels as the X server has them, 0x00RRGGBB.
    std::vector<uint32_t> ServerPixels(Window window, int left, int top, int width, int height) {
        std::vector<uint32_t> pixels;
        XImage* image = XGetImage(x, window, left, top, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (image == nullptr) return pixels;
        for (int py = 0; py < height; ++py)
            for (int px = 0; px < width; ++px)
                pixels.push_back(static_cast<uint32_t>(XGetPixel(image, px, py) & 0xFFFFFFu));
        XDestroyImage(image);
        return pixels;
    }

    // Moves the pointer to a point of the dialog's client area, through the X server.
    void PointerTo(int clientX, int clientY) {
        int rootX = 0, rootY = 0;
        Window child;
        XTranslateCoordinates(x, DialogWindow(), DefaultRootWindow(x), clientX, clientY, &rootX,
                              &rootY, &child);
        XTestFakeMotionEvent(x, DefaultScreen(x), rootX, rootY, CurrentTime);
        XSync(x, False);
    }
    void Click(unsigned button) {
        XTestFakeButtonEvent(x, button, True, CurrentTime);
        XTestFakeButtonEvent(x, button, False, CurrentTime);
        XSync(x, False);
    }
    void Key(KeySym keysym) {
        const KeyCode code = XKeysymToKeycode(x, keysym);
        XTestFakeKeyEvent(x, code, True, CurrentTime);
        XTestFakeKeyEvent(x, code, False, CurrentTime);
        XSync(x, False);
    }

    Display* x = nullptr;
};

// Records what the dialog receives, and keeps it open on WM_CLOSE.
struct DialogRecorder {
    static inline std::vector<MSG> messages;
    static inline WNDPROC original = nullptr;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR ||
            message == WM_CLOSE) {
            messages.push_back(MSG{hwnd, message, wParam, lParam, 0, {}});
            if (message == WM_CLOSE) return 0;
        }
        return CallWindowProcA(original, hwnd, message, wParam, lParam);
    }
};

TEST_F(ScreenTest, TheDialogIsARealWindowThatShowsThePlatformsPixelsAndFollowsTheDialog) {
    ShowUserPicture();
    const Window window = DialogWindow();
    ASSERT_NE(window, 0u);
    ExpectServerShowsTheDialog();

    // The real window through the dialog's life.
    struct Row {
        int row;
        std::function<void()> act;
        int mapState;
        unsigned width, height;
        const char* title;
    };
    const Row rows[] = {
        {1, [] {}, IsViewable, 200, 150, "avatar test"},
        {2, [&] { SetWindowTextA(host.dialog(), "renamed"); }, IsViewable, 200, 150, "renamed"},
        {3, [&] { MoveWindow(host.dialog(), 40, 50, 260, 180, TRUE); }, IsViewable, 260, 180,
         "renamed"},
        {4, [&] { ShowWindow(host.dialog(), SW_HIDE); }, IsUnmapped, 260, 180, "renamed"},
        {5, [&] { ShowWindow(host.dialog(), SW_SHOW); }, IsViewable, 260, 180, "renamed"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("row " + std::to_string(r.row));
        r.act();
        ASSERT_TRUE(platform::FlushDisplay());
        XWindowAttributes attributes{};
        ASSERT_TRUE(XGetWindowAttributes(x, window, &attributes));
        EXPECT_EQ(attributes.map_state, r.mapState);
        EXPECT_EQ(static_cast<unsigned>(attributes.width), r.width);
        EXPECT_EQ(static_cast<unsigned>(attributes.height), r.height);
        char* name = nullptr;
        XFetchName(x, window, &name);
        EXPECT_STREQ(name, r.title);
        XFree(name);
    }
    // The bigger dialog repaints, and the screen follows.
    host.PumpFor(100ms);
    ExpectServerShowsTheDialog();
    // What another window covered comes back from the framebuffer, with no message pumped.
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &rootX, &rootY, &child);
    const Window cover =
        XCreateSimpleWindow(x, DefaultRootWindow(x), rootX, rootY, 120, 90, 0, 0, 0x000000);
    XMapWindow(x, cover);
    XSync(x, False);
    XDestroyWindow(x, cover);
    XSync(x, False);
    ExpectServerShowsTheDialog();

    HWND dialog = host.dialog();
    DestroyWindow(dialog);
    ASSERT_TRUE(platform::FlushDisplay());
    XWindowAttributes gone{};
    EXPECT_FALSE(XGetWindowAttributes(x, window, &gone));
    EXPECT_EQ(platform::DisplayWindowId(dialog), 0u);
}

TEST_F(ScreenTest, WindowCallsReturnWhileTheServerStopsReading) {
    ShowUserPicture();
    const Window window = DialogWindow();
    HWND dialog = host.dialog();
    // The server stops reading; a watchdog lets it go on after a generous while, and notes
    // whether the window calls were still waiting then.
    ASSERT_EQ(kill(ScreenEnvironment::pid(), SIGSTOP), 0);
    std::mutex lock;
    std::condition_variable done;
    bool returned = false, continuedFirst = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> hold(lock);
        continuedFirst = !done.wait_for(hold, 20s, [&] { return returned; });
        kill(ScreenEnvironment::pid(), SIGCONT);
    });
    // Big paints, far more than the socket holds, then the calls that must not wait for it.
    MoveWindow(dialog, 10, 20, 1000, 800, TRUE);
    for (int i = 0; i < 4; ++i) {
        InvalidateRect(dialog, nullptr, TRUE);
        UpdateWindow(dialog);
    }
    SetWindowTextA(dialog, "stalled");
    ShowWindow(dialog, SW_HIDE);
    ShowWindow(dialog, SW_SHOW);
    {
        std::lock_guard<std::mutex> hold(lock);
        returned = true;
    }
    done.notify_all();
    watchdog.join();
    EXPECT_FALSE(continuedFirst) << "the window calls waited for the stopped server";

    // Once the server reads again, it shows the dialog as it is now.
    ExpectServerShowsTheDialog();
    char* name = nullptr;
    XFetchName(x, window, &name);
    EXPECT_STREQ(name, "stalled");
    XFree(name);
    ASSERT_EQ(kill(ScreenEnvironment::pid(), SIGSTOP), 0);
    DestroyWindow(dialog);
    kill(ScreenEnvironment::pid(), SIGCONT);
    ASSERT_TRUE(platform::FlushDisplay());
    XWindowAttributes gone{};
    EXPECT_FALSE(XGetWindowAttributes(x, window, &gone));
}

// A window manager (Openbox) on the server for one test, ended with it. It answers from a
// process of its own, which a loaded machine may hold back a while.
constexpr auto kWindowManagerWait = 20s;
class WindowManager {
public:
    explicit WindowManager(Display* x) : x_(x) {
        pid_ = portrix_test::StartProgram({OPENBOX_PROGRAM, "--sm-disable"});
        const Atom check = XInternAtom(x_, "_NET_SUPPORTING_WM_CHECK", False);
        running_ =
            pid_ > 0 && WaitUntil([&] { return !Property(DefaultRootWindow(x_), check).empty(); },
                                  kWindowManagerWait);
    }
    ~WindowManager() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status;
        portrix_test::FinishProgram(pid_, &status);
    }
    bool running() const { return running_; }
    // A property's 32-bit items; empty when the window has none.
    std::vector<long> Property(Window window, Atom name) {
        std::vector<long> items;
        Atom type;
        int format;
        unsigned long count = 0, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(x_, window, name, 0, 64, False, AnyPropertyType, &type, &format,
                               &count, &after, &data) == Success &&
            format == 32)
            items.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
        if (data) XFree(data);
        return items;
    }

private:
    Display* x_;
    pid_t pid_ = -1;
    bool running_ = false;
};

TEST_F(ScreenTest, UnderAWindowManagerWindowsFollowItsMovesAndStatesAndPopUpsAreUndecorated) {
    WindowManager manager(x);
    ASSERT_TRUE(manager.running()) << "openbox (Debian package openbox) did not start";
    using portrix_test::RecorderClass;
    portrix_test::ResetRecords();
    const portrix_test::Window captioned(RecorderClass(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                         {100, 120, 260, 220});
    const portrix_test::Window popup(RecorderClass(), WS_POPUP | WS_VISIBLE, {400, 120, 480, 180});
    const portrix_test::Window placed(RecorderClass(), WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                      {CW_USEDEFAULT, 0, CW_USEDEFAULT + 80, 60});
    const Atom extents = XInternAtom(x, "_NET_FRAME_EXTENTS", False);
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND hwnd : {captioned.get(), popup.get(), placed.get()})
            if (manager.Property(platform::DisplayWindowId(hwnd), extents).size() != 4)
                return false;
        return true;
    }));

    // What each real window tells the window manager, and what the window manager made of it.
    const Atom pid = XInternAtom(x, "_NET_WM_PID", False);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    struct Row {
        HWND hwnd;
        bool titleBar;
        bool hostsPosition;
    };
    for (const Row& r :
         {Row{captioned, true, true}, Row{popup, false, true}, Row{placed, true, false}}) {
        const Window window = platform::DisplayWindowId(r.hwnd);
        SCOPED_TRACE(window);
        EXPECT_EQ(manager.Property(window, extents)[2] > 0, r.titleBar);
        XSizeHints hints{};
        long supplied = 0;
        ASSERT_TRUE(XGetWMNormalHints(x, window, &hints, &supplied));
        EXPECT_EQ((hints.flags & (USPosition | PPosition)) != 0, r.hostsPosition);
        EXPECT_EQ(manager.Property(window, pid), std::vector<long>{getpid()});
        XTextProperty machine{};
        ASSERT_TRUE(XGetWMClientMachine(x, window, &machine));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(machine.value), machine.nitems), host);
        XFree(machine.value);
    }

    // The window's place is where the window manager put it, and each move is told.
    const Window window = platform::DisplayWindowId(captioned);
    const auto shownAt = [&] {
        int rootX = 0, rootY = 0;
        Window child;
        XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &rootX, &rootY, &child);
        return POINT{rootX, rootY};
    };
    const auto followed = [&] {
        const POINT shown = shownAt();
        RECT rect{};
        POINT origin{0, 0};
        GetWindowRect(captioned, &rect);
        ClientToScreen(captioned, &origin);
        const auto& events = portrix_test::t_events;
        const auto lastMove = std::find_if(events.rbegin(), events.rend(), [&](const auto& e) {
            return e.hwnd == captioned.get() && e.message == WM_MOVE;
        });
        return rect.left == shown.x && rect.top == shown.y && origin.x == shown.x &&
               origin.y == shown.y && lastMove != events.rend() &&
               lastMove->lParam == MAKELPARAM(shown.x, shown.y);
    };
    EXPECT_TRUE(WaitUntil(followed, kWindowManagerWait)) << "as placed";
    XMoveWindow(x, window, 300, 260);  // as a pager or a drag would
    XSync(x, False);
    EXPECT_TRUE(WaitUntil([&] { return shownAt().x != 100 && followed(); }, kWindowManagerWait))
        << "moved";

    // Minimised and restored by the window manager.
    const auto sized = [&](WPARAM kind, LPARAM size) {
        for (const auto& e : portrix_test::t_events)
            if (e.hwnd == captioned.get() && e.message == WM_SIZE && e.wParam == kind &&
                e.lParam == size)
                return true;
        return false;
    };
    XIconifyWindow(x, window, DefaultScreen(x));
    XSync(x, False);
    EXPECT_TRUE(WaitUntil([&] { return sized(SIZE_MINIMIZED, 0) && IsIconic(captioned); },
                          kWindowManagerWait));
    portrix_test::ResetRecords();
    XMapWindow(x, window);
    XSync(x, False);
    EXPECT_TRUE(
        WaitUntil([&] { return sized(SIZE_RESTORED, MAKELPARAM(160, 100)); }, kWindowManagerWait));
    EXPECT_FALSE(IsIconic(captioned));
}

TEST_F(ScreenTest, PointerAndKeysAndTheWindowManagersCloseArriveAsMessages) {
    ShowUserPicture();
    RecordingHook hook;
    host.control().AttachMouseEventHook(&hook);
    DialogRecorder::messages.clear();
    DialogRecorder::original = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        host.dialog(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DialogRecorder::Proc)));

    using Events = std::vector<RecordingHook::Event>;
    constexpr UINT kDown = MK_LBUTTON;
    struct Row {
        int row;
        POINT at;  // in the control; the rows stand apart so that no two clicks pair up
        int clicks;
        Events expected;  // but the moves
    };
    const LONG a = MAKELPARAM(5, 6), b = MAKELPARAM(12, 3);
    const Row rows[] = {
        {1, {5, 6}, 1, {{WM_LBUTTONDOWN, kDown, a}, {WM_LBUTTONUP, 0, a}}},
        {2,
         {12, 3},
         2,
         {{WM_LBUTTONDOWN, kDown, b},
          {WM_LBUTTONUP, 0, b},
          {WM_LBUTTONDBLCLK, kDown, b},
          {WM_LBUTTONUP, 0, b}}},
    };
    const auto clicks = [&] {
        Events got;
        for (const auto& event : hook.events)
            if (std::get<0>(event) != WM_MOUSEMOVE) got.push_back(event);
        return got;
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("row " + std::to_string(r.row));
        hook.events.clear();
        PointerTo(ControlHarness::kLeft + r.at.x, ControlHarness::kTop + r.at.y);
        for (int i = 0; i < r.clicks; ++i) Click(Button1);
        ASSERT_TRUE(WaitUntil([&] { return clicks().size() >= r.expected.size(); }));
        EXPECT_EQ(clicks(), r.expected);
    }

    // Keys reach the dialog, which has the focus since it was mapped.
    Key(XK_Return);
    Key(XK_a);
    Key(XK_Escape);
    const std::vector<std::pair<UINT, WPARAM>> keys = {
        {WM_KEYDOWN, VK_RETURN}, {WM_CHAR, '\r'},   {WM_KEYUP, VK_RETURN},
        {WM_KEYDOWN, 'A'},       {WM_CHAR, 'a'},    {WM_KEYUP, 'A'},
        {WM_KEYDOWN, VK_ESCAPE}, {WM_CHAR, '\x1b'}, {WM_KEYUP, VK_ESCAPE}};
    ASSERT_TRUE(WaitUntil([&] { return DialogRecorder::messages.size() >= keys.size(); }));
    std::vector<std::pair<UINT, WPARAM>> gotKeys;
    for (const MSG& m : DialogRecorder::messages) gotKeys.emplace_back(m.message, m.wParam);
    EXPECT_EQ(gotKeys, keys);

    // The window manager's close button, as the window manager sends it.
    DialogRecorder::messages.clear();
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = DialogWindow();
    close.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    XSendEvent(x, DialogWindow(), False, NoEventMask, &close);
    XSync(x, False);
    ASSERT_TRUE(WaitUntil([] { return !DialogRecorder::messages.empty(); }));
    EXPECT_EQ(DialogRecorder::messages[0].message, static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(DialogRecorder::messages[0].hwnd, host.dialog());
    host.control().AttachMouseEventHook(nullptr);
}

TEST_F(ScreenTest, AnAnimatedAvatarPlaysOnTheScreenFrameAfterFrame) {
    // Three frames of 100 ms in three colours, looping.
    constexpr int kSide = 48;
    constexpr int kExponent = 1;
    gif_test::GifBuilder gif;
    gif.Header().Screen(kSide, kSide, kExponent).Loop();
    for (uint8_t index = 1; index <= 3; ++index)
        gif.GraphicControl(10).SolidImage(0, 0, kSide, kSide, index);
    gif.Trailer();
    WriteStoreFile("Up\\10001_bs.gif", std::string(gif.Bytes().begin(), gif.Bytes().end()));
    PutDefaultSet();
    Configure("10001", 2, 6);
    host.control().Display();
    const uint32_t frames[] = {gif_test::PaletteRgb(kExponent, 1),
                               gif_test::PaletteRgb(kExponent, 2),
                               gif_test::PaletteRgb(kExponent, 3)};
    ASSERT_TRUE(WaitUntil([&] {
        return std::find(std::begin(frames), std::end(frames), host.ShownColor()) !=
               std::end(frames);
    }));

    // What the server shows in the middle of the control, sampled often for over a second
    // while the dialog's thread pumps; a colour held by several samples is noted once.
    const Window window = DialogWindow();
    std::vector<uint32_t> seen;
    const auto end = Clock::now() + 1500ms;
    while (Clock::now() < end) {
        host.PumpFor(10ms);
        const std::vector<uint32_t> pixel = ServerPixels(window, ControlHarness::kLeft + kSide / 2,
                                                         ControlHarness::kTop + kSide / 2, 1, 1);
        if (!pixel.empty() && (seen.empty() || seen.back() != pixel[0])) seen.push_back(pixel[0]);
    }
    // Every change is to the next frame, and the animation went round at least once.
    ASSERT_GE(seen.size(), 4u);
    for (size_t i = 0; i < seen.size(); ++i) {
        const auto frame = std::find(std::begin(frames), std::end(frames), seen[i]);
        ASSERT_NE(frame, std::end(frames)) << "sample " << i << ": " << std::hex << seen[i];
        if (i == 0) continue;
        const auto previous = std::find(std::begin(frames), std::end(frames), seen[i - 1]);
        EXPECT_EQ((previous - std::begin(frames) + 1) % 3, frame - std::begin(frames))
            << "change " << i;
    }
}

// Why a process has no display, in one sentence for each cause; and a display that goes away
// under a process with a window shown: said once on standard error, the boxes answer as without
// a display, the window lives on.
TEST(ScreenProblemTest, EachCauseIsNamedAndALostDisplayIsSaidOnceAndHangsNothing) {
    if (ScreenEnvironment::x() == nullptr) GTEST_SKIP() << "no Xvfb (Debian package xvfb)";
    const portrix_test::TempDir dir;
    portrix_test::XvfbServer shallow(XVFB_PROGRAM, "640x480x16"), deep(XVFB_PROGRAM, "640x480x30"),
        doomed(XVFB_PROGRAM, "640x480x24"), palette(XVFB_PROGRAM, "640x480x8");
    ASSERT_FALSE(shallow.display().empty() || deep.display().empty() || doomed.display().empty() ||
                 palette.display().empty());
    struct Row {
        const char* name;
        std::vector<std::string> environment;
        const char* problem;            // in the first line
        const char* after;              // in the line after the server was killed; null: not killed
        const char* painted = nullptr;  // --paint: the next line
    };
    const Row rows[] = {
        {"unset", {"DISPLAY="}, "DISPLAY is not set", nullptr},
        {"unreachable", {"DISPLAY=:4093"}, "cannot be reached", nullptr},
        {"turned off",
         {"DISPLAY=" + ScreenEnvironment::display(), "PORTRIX_NO_DISPLAY=1"},
         "PORTRIX_NO_DISPLAY is set",
         nullptr},
        {"8-bit", {"DISPLAY=" + palette.display()}, "8-bit PseudoColor", nullptr},
        // RGB(0x12, 0x34, 0x56) as 5-6-5 bits, and as 10-10-10.
        {"16-bit", {"DISPLAY=" + shallow.display()}, "none", nullptr, "pixel\t11aa\n"},
        {"30-bit", {"DISPLAY=" + deep.display()}, "none", nullptr, "pixel\t4834159\n"},
        {"lost", {"DISPLAY=" + doomed.display()}, "none", "was lost"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::vector<std::string> environment = portrix_test::EnvironmentWith(r.environment);
        const std::string out = dir.path() + "/out", err = dir.path() + "/err";
        std::vector<std::string> argv = {PORTRIX_DISPLAY_PROBE};
        if (r.after) argv.insert(argv.end(), {"--kill", std::to_string(doomed.pid())});
        if (r.painted) argv.push_back("--paint");
        const pid_t probe = portrix_test::StartProgram(argv, &environment, out, err);
        int status = 0;
        ASSERT_TRUE(portrix_test::FinishProgram(probe, &status)) << "the probe hung";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;  // sanitizers too
        const auto read = [](const std::string& path) {
            std::ifstream in(path);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        const std::string said = read(out), errors = read(err);
        const size_t first = said.find('\n');
        EXPECT_NE(said.substr(0, first).find(r.problem), std::string::npos) << said;
        if (r.after == nullptr) {
            EXPECT_EQ(said.substr(first + 1), r.painted ? r.painted : "");
            continue;
        }
        // Both boxes answered as without a display (OK, their texts on standard error).
        EXPECT_NE(said.find("boxes\t1\t1\n"), std::string::npos) << said;
        EXPECT_NE(said.find(r.after, first), std::string::npos) << said;
        EXPECT_NE(said.find("window\t1\t1\n"), std::string::npos) << said;
        EXPECT_NE(errors.find("second box"), std::string::npos) << errors;
        const size_t told = errors.find(r.after);
        EXPECT_TRUE(told != std::string::npos &&
                    errors.find(r.after, told + 1) == std::string::npos)
            << errors;
    }
}

TEST_F(ScreenTest, TheRegistryFailureBoxIsAWindowThatEnterDismisses) {
    // A library whose hive has no Share key, loaded by a process of its own on this display.
    const portrix_test::TempDir home;
    { std::ofstream(home.path() + "/hkcu.reg") << "REGEDIT4\n"; }
    Window root = DefaultRootWindow(x);
    XSelectInput(x, root, SubstructureNotifyMask);
    XSync(x, False);
    const std::string outFile = home.path() + "/probe.out";
    const std::vector<std::string> environment =
        portrix_test::EnvironmentWith({"PORTRIX_HKCU=" + home.path() + "/hkcu.reg", "TZ=UTC0"});
    const pid_t probe = portrix_test::StartProgram(
        {PORTRIX_MODULE_PROBE, PORTRIX_MODULE_LIBRARY, "--screen-boxes"}, &environment, outFile);
    ASSERT_GT(probe, 0);

    // The box maps a window of its own: wait for it, look at it, press Enter on it.
    Window box = 0;
    WaitUntil(
        [&] {
            for (XEvent event; box == 0 && XPending(x) > 0;)
                if (XNextEvent(x, &event) == 0 && event.type == MapNotify) box = event.xmap.window;
            return box != 0;
        },
        30s);
    XWindowAttributes attributes{};
    if (box == 0 || !XGetWindowAttributes(x, box, &attributes)) {
        int status = 0;
        kill(probe, SIGKILL);
        portrix_test::FinishProgram(probe, &status);
        FAIL() << "no box appeared";
    }
    // Text and a button: more than the face colour, once the box has painted.
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::vector<uint32_t> pixels =
                ServerPixels(box, 0, 0, attributes.width, attributes.height);
            std::sort(pixels.begin(), pixels.end());
            return std::unique(pixels.begin(), pixels.end()) - pixels.begin() >= 3;
        },
        10s))
        << "fewer than three colours";
    XSetInputFocus(x, box, RevertToParent, CurrentTime);
    Key(XK_Return);
    int status = 0;
    EXPECT_TRUE(portrix_test::FinishProgram(probe, &status)) << "Enter did not end the box";
    std::ifstream in(outFile);
    const std::string out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(out.find("load\tok"), std::string::npos) << out;
    XSelectInput(x, root, NoEventMask);
}

}  // namespace
}  // namespace avatar_test
