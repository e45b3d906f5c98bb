// The demo host: a dialog full of avatar controls, as a host application builds it on the
// library's public headers. The launcher (Launcher.cpp) loads this module once the registry
// points the library at a throwaway install directory.
#include <sys/stat.h>
#include <utime.h>

#include <csignal>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Artwork.h"
#include "AvatarServer.h"
#include "ContactSheet.h"
#include "DemoDialog.h"
#include "Options.h"
#include "Portrix.h"
#include "Scenes.h"
#include "ServerProbe.h"
#include "TempFolder.h"
#include "Timeline.h"
#include "platform/capture.h"
#include "platform/display.h"
#include "platform/input.h"
#include "platform/pump.h"

namespace demo {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Dialog layout: a title and a subtitle, three rows of three cells (a control with its caption
// under it, framed when clicked), and a status line.
constexpr int kMargin = 16;
constexpr int kTitleTop = 6;
constexpr int kTitleHeight = 24;
constexpr int kSubtitleHeight = 16;
constexpr int kGridTop = 52;
constexpr int kColumns = 3;
constexpr int kRows = 3;
constexpr int kCellWidth = 184;
constexpr int kCellHeight = 144;
constexpr int kCellGap = 8;       // between neighbouring cells
constexpr int kCellPadding = 6;   // between a cell's edge, where its frame lies, and its control
constexpr int kControlSide = 64;  // the static's size before a picture resizes it
constexpr int kCaptionGap = 4;
constexpr int kStatusHeight = 28;
constexpr int kDialogWidth = 2 * kMargin + kColumns * kCellWidth - kCellGap;
constexpr int kDialogHeight = kGridTop + kRows * kCellHeight + kStatusHeight;
constexpr int kDialogX = 100;
constexpr int kDialogY = 100;
constexpr int kFirstControlId = 1001;

constexpr auto kSampleEvery = 40ms;
constexpr auto kPumpSlice = 15ms;
constexpr auto kDefaultSetTimeout = 20s;
// As long as the download library waits for a connection.
constexpr auto kServerProbeTimeout = 5s;
// The host asks again, and hands over the background, a little past half-way.
constexpr double kSecondActAt = 0.55;
// Moments of the snapshots, as shares of the run (the last one is taken at the end).
constexpr double kSnapshotsAt[] = {0.03, 0.25, 0.5, 0.8};
// Placeholders can only be seen when the server takes at least this long to answer.
constexpr int kVisibleDelayMs = 150;

const char* const kDefaultNames[] = {"default1.gif",  "default2.gif", "man1.gif",
                                     "man2.gif",      "woman1.gif",   "woman2.gif",
                                     "download1.gif", "download2.gif"};

// Ctrl-C (or a TERM) ends the run like a closed window, so that the launcher still removes
// the throwaway install; the run then ends as that signal says (kStoppedBySignal).
volatile std::sig_atomic_t stopSignal = 0;
extern "C" void RequestStop(int signal) {
    stopSignal = signal;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Written aside and moved into place, so the control never sees half a picture.
bool StorePicture(const Artwork& art, const std::string& path, long long age) {
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    const std::string aside = path + ".part";
    if (!WriteGif(art, aside) || std::rename(aside.c_str(), path.c_str()) != 0) return false;
    const time_t when = time(nullptr) - static_cast<time_t>(age);
    struct utimbuf times = {when, when};
    return utime(path.c_str(), &times) == 0;
}

const char* MouseMessageName(UINT message) {
    switch (message) {
        case WM_LBUTTONDOWN:
            return "WM_LBUTTONDOWN";
        case WM_LBUTTONUP:
            return "WM_LBUTTONUP";
        case WM_LBUTTONDBLCLK:
            return "WM_LBUTTONDBLCLK";
        case WM_RBUTTONDOWN:
            return "WM_RBUTTONDOWN";
        case WM_RBUTTONUP:
            return "WM_RBUTTONUP";
        case WM_RBUTTONDBLCLK:
            return "WM_RBUTTONDBLCLK";
        default:
            return "WM_MOUSEMOVE";
    }
}

// The host's mouse receiver: prints every click on its control and tells the host about it.
class ClickPrinter final : public IMouseEventHook {
public:
    using Listener = std::function<void(UINT message, UINT flags, int x, int y)>;
    ClickPrinter(std::string name, Listener listener)
        : name_(std::move(name)), listener_(std::move(listener)) {}
    void OnMouseEvent(UINT message, UINT flags, LONG point) override {
        const int x = GET_X_LPARAM(point), y = GET_Y_LPARAM(point);
        if (message != WM_MOUSEMOVE) {
            std::printf("mouse    %-14s %s flags 0x%04x at (%d,%d)\n", name_.c_str(),
                        MouseMessageName(message), flags, x, y);
            std::fflush(stdout);
        }
        listener_(message, flags, x, y);
    }

private:
    std::string name_;
    Listener listener_;
};

struct Placed {
    const Scene* scene;
    CPortrix* control;
    int left;
    int top;
    RECT caption;
    std::unique_ptr<ClickPrinter> hook;
    std::unique_ptr<ControlTrack> track;
};

// Where cell `index` of the grid lies, and its control and caption inside it.
struct Cell {
    RECT frame;
    RECT control;
    RECT caption;
};

Cell CellAt(size_t index) {
    const int left = kMargin + static_cast<int>(index % kColumns) * kCellWidth;
    const int top = kGridTop + static_cast<int>(index / kColumns) * kCellHeight;
    Cell cell;
    cell.frame = {left, top, left + kCellWidth - kCellGap, top + kCellHeight - kCellGap};
    cell.control = {left + kCellPadding, top + kCellPadding, left + kCellPadding + kControlSide,
                    top + kCellPadding + kControlSide};
    cell.caption = {cell.control.left, cell.control.bottom + kCaptionGap,
                    cell.frame.right - kCellPadding, cell.frame.bottom - kCellPadding};
    return cell;
}

DialogLayout MakeDialogLayout() {
    DialogLayout layout;
    layout.title = {kMargin, kTitleTop, kDialogWidth - kMargin, kTitleTop + kTitleHeight};
    layout.subtitle = {kMargin, layout.title.bottom, kDialogWidth - kMargin,
                       layout.title.bottom + kSubtitleHeight};
    layout.status = {kMargin, kDialogHeight - kStatusHeight, kDialogWidth - kMargin,
                     kDialogHeight - 4};
    return layout;
}

Candidate MakeCandidate(const std::string& label, const Artwork& art, const Pixels& background,
                        int left, int top, bool handedBackground = false) {
    Candidate candidate;
    candidate.label = label;
    candidate.width = art.width;
    candidate.height = art.height;
    const Pixels under =
        Region(background, kDialogWidth, kDialogHeight, left, top, art.width, art.height);
    candidate.looks = ComposeFrames(art, under, handedBackground);
    return candidate;
}

class DemoRun {
public:
    DemoRun(const Options& options, std::string installDir)
        : options_(options), installDir_(std::move(installDir)) {}
    int Run();

private:
    bool PrepareOutput();
    bool PrepareArtwork();
    void PrepareStore();
    bool StartServer();
    bool OpenDialog();
    bool FetchDefaultSet();
    // A signal, or the window's close, asks the run to end.
    bool EndAsked() const { return stopSignal != 0 || dialog_->closeAsked(); }
    // The run's result once it is over: a signal's own, else `result`.
    int Close(int result);
    void FirstAct();
    void SecondAct();
    void Sample(double seconds);
    // Saves stem.png, or stem-<seconds>s.png when timed.
    void TakeSnapshot(const std::string& stem, bool timed);
    void SaveClickFrame();
    void OnControlMouse(size_t index, UINT message, UINT flags, int x, int y);
    void ShowStatus(const std::string& status);
    // A step of the run on the status line, after the server's trouble when it has one.
    void ShowStep(const std::string& step);
    int Verdict();
    void WriteLayout();

    std::string StorePath(const std::string& relative) const {
        return installDir_ + "/Avatar/" + relative;
    }
    double Elapsed() const { return Seconds(Clock::now() - start_); }

    const Options& options_;
    const std::string installDir_;
    std::string outDir_;
    std::string serverAddress_;
    std::unique_ptr<AvatarServer> server_;
    std::vector<Scene> scenes_;
    std::vector<Artwork> defaults_;
    Pixels dialogBackground_ = DialogBackground(kDialogWidth, kDialogHeight);
    Pixels handedBackground_ = HandedBackground(kDialogWidth, kDialogHeight);
    std::unique_ptr<CDemoDialog> dialog_;
    std::unique_ptr<BackgroundPicture> handed_;
    std::vector<Placed> placed_;
    std::vector<Snapshot> snapshots_;
    Pixels lastFrame_;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
    int clicks_ = 0;
    int hovered_ = -1;
    bool unreachable_ = false;  // the given server could not be reached
    Clock::time_point start_;
};

bool DemoRun::PrepareOutput() {
    if (options_.outDir.empty()) {
        outDir_ = MakeTemporaryFolder("portrix-demo");
        if (outDir_.empty()) return false;
    } else {
        outDir_ = options_.outDir;
    }
    std::error_code error;
    fs::create_directories(fs::path(outDir_) / "artwork", error);
    if (error) return false;
    outDir_ = fs::absolute(outDir_).string();
    return true;
}

bool DemoRun::PrepareArtwork() {
    for (int type = 1; type <= 2; ++type)
        for (int sex = 0; sex <= 2; ++sex) defaults_.push_back(DefaultSilhouette(type, sex));
    defaults_.push_back(DownloadSpinner(1));
    defaults_.push_back(DownloadSpinner(2));
    bool ok = true;
    for (const Artwork& art : defaults_) ok = ok && WriteGif(art, outDir_ + "/artwork/" + art.name);
    scenes_ = MakeScenes();
    for (const Scene& scene : scenes_)
        for (const auto& picture : scene.pictures)
            ok = ok && WriteGif(picture.second, outDir_ + "/artwork/" + picture.second.name);
    return ok;
}

void DemoRun::PrepareStore() {
    for (const Scene& scene : scenes_) {
        for (const auto& stored : scene.stored)
            if (!StorePicture(stored.second, StorePath(stored.first), scene.storedAge))
                std::fprintf(stderr, "portrix-demo: cannot store %s\n", stored.first.c_str());
        if (!scene.versionFile.empty()) {
            std::ofstream out(StorePath("SNS/" + scene.userId + ".txt"),
                              std::ios::binary | std::ios::trunc);
            out << scene.versionFile;
        }
    }
}

bool DemoRun::StartServer() {
    if (!options_.server.empty()) {
        serverAddress_ = options_.server;
        std::printf("avatar server %s (given)\n", serverAddress_.c_str());
        return true;
    }
    server_ = std::make_unique<AvatarServer>(std::chrono::milliseconds(options_.delayMs));
    for (const Artwork& art : defaults_)
        server_->Serve(art.name, ReadFile(outDir_ + "/artwork/" + art.name));
    for (const Scene& scene : scenes_)
        for (const auto& served : scene.served)
            server_->Serve(served.first, ReadFile(outDir_ + "/artwork/" + served.second.name));
    if (!server_->Start()) return false;
    serverAddress_ = server_->Address();
    std::printf("avatar server http://%s/c_avatar/ (embedded, answers after %d ms)\n",
                serverAddress_.c_str(), options_.delayMs);
    return true;
}

bool DemoRun::OpenDialog() {
    dialog_ = std::make_unique<CDemoDialog>(dialogBackground_, kDialogWidth, kDialogHeight,
                                            MakeDialogLayout());
    if (!dialog_->Open("Portrix demo", kDialogX, kDialogY)) return false;
    handed_ = std::make_unique<BackgroundPicture>(handedBackground_, kDialogWidth, kDialogHeight);
    std::string subtitle = "server " + serverAddress_;
    if (server_) subtitle += ", answers after " + std::to_string(options_.delayMs) + " ms";
    subtitle += options_.window ? ";  green: where a control ends;  click one"
                                : ";  green: where a control ends";
    dialog_->SetTitle("Portrix demo: nine avatar controls, one per path", subtitle);

    for (size_t i = 0; i < scenes_.size(); ++i) {
        const Scene& scene = scenes_[i];
        const Cell cell = CellAt(i);
        const int left = cell.control.left;
        const int top = cell.control.top;
        CPortrix* control = dialog_->AddAvatar(kFirstControlId + static_cast<int>(i), cell.control,
                                               cell.caption, cell.frame, scene.name, scene.hint);
        if (control == nullptr) return false;

        std::vector<Candidate> candidates;
        Artwork empty;
        empty.width = empty.height = 40;
        empty.palette = {0};
        GifFrame none;
        none.width = none.height = 40;
        none.indices.assign(40 * 40, 0);
        none.transparent = 0;
        empty.frames.push_back(none);
        candidates.push_back(MakeCandidate("empty", empty, dialogBackground_, left, top));
        for (const Artwork& art : defaults_) {
            const bool placeholder = art.name.rfind("download", 0) == 0;
            candidates.push_back(
                MakeCandidate((placeholder ? "placeholder " : "default ") + art.name, art,
                              dialogBackground_, left, top));
        }
        for (const auto& picture : scene.pictures) {
            if (scene.handsBackground) {
                candidates.push_back(MakeCandidate(picture.first + " over the dialog",
                                                   picture.second, dialogBackground_, left, top));
                // A picture loaded over a control that has not been handed a background stands on
                // what the control itself showed: a static control's face colour.
                const COLORREF face = ::GetSysColor(COLOR_3DFACE);
                const Pixels faceColour(dialogBackground_.size(), GetRValue(face) << 16 |
                                                                      GetGValue(face) << 8 |
                                                                      GetBValue(face));
                candidates.push_back(
                    MakeCandidate(picture.first + " over the control's face colour", picture.second,
                                  faceColour, left, top));
                candidates.push_back(MakeCandidate(picture.first + " over the handed background",
                                                   picture.second, handedBackground_, left, top,
                                                   true));
            } else {
                candidates.push_back(
                    MakeCandidate(picture.first, picture.second, dialogBackground_, left, top));
            }
        }
        auto listener = [this, i](UINT message, UINT flags, int x, int y) {
            OnControlMouse(i, message, flags, x, y);
        };
        Placed entry{&scene,
                     control,
                     left,
                     top,
                     cell.caption,
                     std::make_unique<ClickPrinter>(scene.name, listener),
                     std::make_unique<ControlTrack>(scene.name, std::move(candidates))};
        placed_.push_back(std::move(entry));
    }
    WriteLayout();
    platform::PumpPendingMessages();
    return true;
}

void DemoRun::ShowStep(const std::string& step) {
    ShowStatus(unreachable_ ? "server cannot be reached;  " + step : step);
}

void DemoRun::ShowStatus(const std::string& status) {
    if (dialog_) dialog_->SetStatus(status);
}

void DemoRun::OnControlMouse(size_t index, UINT message, UINT flags, int x, int y) {
    const Scene& scene = *placed_[index].scene;
    if (message == WM_MOUSEMOVE) {
        // Pointing at a control tells its story, once per control entered.
        if (hovered_ != static_cast<int>(index)) ShowStatus(scene.name + ": " + scene.story);
        hovered_ = static_cast<int>(index);
        return;
    }
    if (options_.window && (message == WM_LBUTTONUP || message == WM_RBUTTONUP)) SaveClickFrame();
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_LBUTTONDBLCLK ||
        message == WM_RBUTTONDBLCLK) {
        dialog_->SetHighlight(static_cast<int>(index));
        char text[160];
        std::snprintf(text, sizeof text, "clicked %s: its receiver got %s at (%d,%d), keys 0x%04x",
                      scene.name.c_str(), MouseMessageName(message), x, y, flags);
        ShowStatus(text);
    }
}

bool DemoRun::FetchDefaultSet() {
    // A host with a fresh store asks for the default set once, so that placeholders and
    // defaults are on disk before the first display needs them.
    CPortrix* first = placed_.front().control;
    first->SetServerAddress(serverAddress_.c_str());
    const auto asked = Clock::now();
    ShowStatus("fetching the default pictures from the server into the store");
    first->GetDefaultImg();
    auto allThere = [&] {
        for (const char* name : kDefaultNames)
            if (!fs::exists(StorePath(std::string("Default/") + name))) return false;
        return true;
    };
    // The download library does not tell when a server cannot be reached: a given server is
    // asked directly, so that the host can say so instead of waiting for pictures that cannot
    // come. (The embedded one listens already.)
    std::unique_ptr<ServerProbe> probe;
    if (!server_) probe = std::make_unique<ServerProbe>(serverAddress_, kServerProbeTimeout);
    // The files come from the download library's threads, not as messages: look between slices.
    bool done = allThere();
    while (!done && !EndAsked() && Clock::now() - asked < kDefaultSetTimeout) {
        platform::PumpMessagesUntil(allThere, kPumpSlice);
        done = allThere();
        if (probe && probe->Step()) {
            if (!probe->failure().empty()) break;
            probe.reset();
        }
    }
    if (done) {
        std::printf("default picture set fetched into the store in %.2f s\n",
                    Seconds(Clock::now() - asked));
    } else if (probe && !probe->failure().empty()) {
        const std::string why = "server " + serverAddress_ + " cannot be reached";
        std::printf("%s: %s; no default pictures\n", why.c_str(), probe->failure().c_str());
        ShowStatus(why + ": " + probe->failure());
        unreachable_ = true;
        dialog_->SetTitle("Portrix demo: nine avatar controls, one per path",
                          why + ";  only pictures stored already can show");
    } else if (EndAsked()) {
        std::printf("default picture set incomplete when the run was ended\n");
    } else {
        std::printf("default picture set incomplete after %.0f s; carrying on\n",
                    Seconds(kDefaultSetTimeout));
    }
    return done;
}

void DemoRun::FirstAct() {
    ShowStep("act one: each control is given its user and asked to display the picture");
    for (Placed& entry : placed_) {
        const Scene& scene = *entry.scene;
        CPortrix& control = *entry.control;
        control.SetUserID(scene.userId.c_str());
        control.SetSex(scene.sex);  // before the type, which draws the default picture for both
        control.SetImageType(scene.imageType);
        control.SetFaceMode(scene.faceMode);
        control.SetImageSN(scene.imageSN);
        control.SetServerAddress(serverAddress_.c_str());
        control.AttachMouseEventHook(entry.hook.get());
        if (scene.bySN)
            control.DisplaySN();
        else
            control.Display();
        // The host's loop runs between requests, and the dialog is looked at after each one: a
        // request that is slow to make (under Wine on a busy machine a Display that downloads
        // took 50 to 450 ms) must not hide the placeholders of the controls asked before it
        // until their pictures have come.
        platform::PumpPendingMessages();
        Sample(Elapsed());
    }
}

void DemoRun::SecondAct() {
    std::printf(
        "%7.3fs  (host)         asks again where the store was refreshed; hands over a "
        "background\n",
        Elapsed());
    ShowStep("act two: stale and newer-version are asked again; background is handed a background");
    for (Placed& entry : placed_) {
        const Scene& scene = *entry.scene;
        if (scene.againLater) {
            if (scene.bySN)
                entry.control->DisplaySN();
            else
                entry.control->Display();
        }
        if (scene.handsBackground && handed_->ok()) {
            // The host keeps its DC: the flag asks for no erase and no deletion.
            const int keep = 0;
            entry.control->ChangeBgImg(handed_->dc(), keep);
        }
    }
}

void DemoRun::Sample(double seconds) {
    HWND dialog = dialog_->GetSafeHwnd();
    if (!platform::CaptureWindow(dialog, &lastFrame_, &frameWidth_, &frameHeight_)) return;
    for (Placed& entry : placed_) {
        RECT r = {};
        ::GetWindowRect(entry.control->GetSafeHwnd(), &r);
        POINT origin = {r.left, r.top};
        ::ScreenToClient(dialog, &origin);
        const Sighting sighting = Recognise(lastFrame_, frameWidth_, frameHeight_, origin.x,
                                            origin.y, entry.track->candidates());
        entry.track->Observe(seconds, sighting, stdout);
        dialog_->SetShown(static_cast<size_t>(&entry - placed_.data()), entry.track->current(),
                          entry.track->current() == entry.scene->expected);
    }
}

void DemoRun::TakeSnapshot(const std::string& stem, bool timed) {
    Snapshot shot;
    shot.seconds = Elapsed();
    char suffix[32] = "";
    if (timed) std::snprintf(suffix, sizeof suffix, "-%.2fs", shot.seconds);
    shot.file = outDir_ + "/" + stem + suffix + ".png";
    char caption[64];
    std::snprintf(caption, sizeof caption, "%s at %.2f s", stem.c_str(), shot.seconds);
    shot.caption = caption;
    if (!platform::CaptureWindow(dialog_->GetSafeHwnd(), &shot.pixels, &shot.width, &shot.height))
        return;
    if (!platform::SavePixelsPng(shot.pixels, shot.width, shot.height, shot.file)) {
        std::fprintf(stderr, "portrix-demo: cannot write %s\n", shot.file.c_str());
        return;
    }
    snapshots_.push_back(std::move(shot));
}

void DemoRun::SaveClickFrame() {
    // What the dialog shows when the button goes up, with what the press changed painted, for
    // comparing with the X server's copy.
    ::UpdateWindow(dialog_->GetSafeHwnd());
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    const std::string file = outDir_ + "/click-" + std::to_string(++clicks_) + ".png";
    if (platform::CaptureWindow(dialog_->GetSafeHwnd(), &pixels, &width, &height) &&
        platform::SavePixelsPng(pixels, width, height, file)) {
        std::printf("shown    %s\n", file.c_str());
        std::fflush(stdout);
    }
}

int DemoRun::Verdict() {
    const bool placeholdersVisible = server_ != nullptr && options_.delayMs >= kVisibleDelayMs;
    int failures = 0;
    std::printf("\n%-14s %-44s %s\n", "control", "ended on", "verdict");
    for (const Placed& entry : placed_) {
        const Scene& scene = *entry.scene;
        const ControlTrack& track = *entry.track;
        std::string problem;
        if (track.current() != scene.expected)
            problem = "expected " + scene.expected;
        else if (placeholdersVisible && !scene.mustSee.empty() && !track.Saw(scene.mustSee))
            problem = "never showed " + scene.mustSee;
        else if (scene.animated && track.DistinctLooks(scene.expected) < 2)
            problem = "did not play";
        else if (!scene.mustNotSee.empty() && track.Saw(scene.mustNotSee))
            problem = "showed " + scene.mustNotSee;
        std::printf("%-14s %-44s %s\n", scene.name.c_str(), track.current().c_str(),
                    problem.empty() ? "ok" : ("FAILED: " + problem).c_str());
        failures += !problem.empty();
    }
    return failures;
}

void DemoRun::WriteLayout() {
    // For tests and curious readers: where each control sits in the snapshots, which of the
    // artwork files it must end on ("-" where the picture depends on a background), and where
    // its caption is written.
    std::ofstream out(outDir_ + "/layout.txt");
    out << "# control left top expected-artwork caption-left caption-top caption-right "
           "caption-bottom\n";
    for (const Placed& entry : placed_) {
        const Scene& scene = *entry.scene;
        std::string artwork = "-";
        for (const auto& picture : scene.pictures)
            if (picture.first == scene.expected) artwork = picture.second.name;
        for (const Artwork& art : defaults_)
            if ("default " + art.name == scene.expected) artwork = art.name;
        if (scene.animated) artwork = "animated:" + artwork;
        out << scene.name << ' ' << entry.left << ' ' << entry.top << ' ' << artwork << ' '
            << entry.caption.left << ' ' << entry.caption.top << ' ' << entry.caption.right << ' '
            << entry.caption.bottom << '\n';
    }
}

int DemoRun::Run() {
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    if (!PrepareOutput()) {
        std::fprintf(stderr, "portrix-demo: cannot make the output folder\n");
        return 1;
    }
    if (!PrepareArtwork()) {
        std::fprintf(stderr, "portrix-demo: cannot write the artwork into %s/artwork\n",
                     outDir_.c_str());
        return 1;
    }
    PrepareStore();
    if (!StartServer()) {
        std::fprintf(stderr,
                     "portrix-demo: the embedded avatar server cannot listen on 127.0.0.1\n");
        return 1;
    }
    if (!OpenDialog()) {
        std::fprintf(stderr, "portrix-demo: cannot open the dialog\n");
        return 1;
    }
    if (options_.window) {
        // The platform shows the dialog on the display, and its mouse reaches the controls.
        if (const char* problem = platform::DisplayProblem()) {  // lost since the launcher looked
            std::fprintf(stderr, "portrix-demo: --window: %s\n", problem);
            return 2;
        }
        if (const unsigned long id = platform::DisplayWindowId(dialog_->GetSafeHwnd()))
            std::printf("x11 window 0x%lx: close it to end the demo\n", id);
        else
            std::printf("close the dialog to end the demo\n");
    }
    for (size_t i = 0; i < scenes_.size(); ++i)
        std::printf("  %-14s %s\n", scenes_[i].name.c_str(), scenes_[i].story.c_str());
    FetchDefaultSet();
    if (EndAsked()) {
        // Nothing was shown yet: there is no verdict to give, and no success.
        std::printf("ended before the controls were asked for their pictures: no verdict\n");
        return Close(1);
    }

    std::printf("\n   time  control        shows\n");
    start_ = Clock::now();
    FirstAct();
    const double length = options_.seconds;
    bool secondActDone = false;
    size_t nextSnapshot = 0;
    auto nextSample = Clock::now();
    for (;;) {
        platform::PumpMessagesUntil([] { return false; }, kPumpSlice);
        const double now = Elapsed();
        if (!secondActDone && now >= kSecondActAt * length) {
            SecondAct();
            secondActDone = true;
        }
        if (Clock::now() >= nextSample) {
            Sample(now);
            nextSample = Clock::now() + kSampleEvery;
        }
        if (nextSnapshot < std::size(kSnapshotsAt) && now >= kSnapshotsAt[nextSnapshot] * length) {
            TakeSnapshot("snapshot-" + std::to_string(nextSnapshot + 1), true);
            ++nextSnapshot;
        }
        if (stopSignal != 0) {
            std::printf("%7.3fs  (host)         stopped by a signal\n", Elapsed());
            break;
        }
        if (options_.window) {
            if (dialog_->closeAsked()) break;
        } else if (now >= length) {
            break;
        }
    }
    Sample(Elapsed());
    const int failures = Verdict();
    char ending[96];
    std::snprintf(
        ending, sizeof ending, "after %.1f s: %s", Elapsed(),
        failures == 0
            ? "every control ended where it should"
            : (std::to_string(failures) + " control(s) did not end where they should").c_str());
    ShowStep(ending);
    platform::PumpPendingMessages();
    TakeSnapshot("final", false);
    const std::string sheet = outDir_ + "/contact-sheet.png";
    const bool sheetWritten = WriteContactSheet(snapshots_, 3, sheet);

    if (server_) {
        const AvatarServer::Counts counts = server_->GetCounts();
        std::printf("\nserver answered %d requests: %d pictures, %d not modified, %d unknown\n",
                    counts.requests, counts.ok, counts.notModified, counts.notFound);
    }
    std::printf("\nsnapshots in %s:\n", outDir_.c_str());
    for (const Snapshot& shot : snapshots_)
        std::printf("  %s\n", fs::path(shot.file).filename().string().c_str());
    if (sheetWritten) std::printf("  contact-sheet.png\n");
    std::printf(
        "%s\n",
        failures == 0
            ? "every control ended where it should"
            : (std::to_string(failures) + " control(s) did not end where they should").c_str());

    return Close(failures == 0 ? 0 : 1);
}

int DemoRun::Close(int result) {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    // The controls and their windows go before the server, while the download library may
    // still be talking to it.
    dialog_.reset();
    platform::PumpPendingMessages();
    if (server_) server_->Stop();
    // A run that a signal stopped is no success, whatever the controls showed.
    return stopSignal != 0 ? kStoppedBySignal + stopSignal : result;
}

}  // namespace
}  // namespace demo

// The host module's one entry, called by the launcher once the registry is in place.
#ifdef _WIN32
#define DEMO_ENTRY __declspec(dllexport)
#else
#define DEMO_ENTRY __attribute__((visibility("default")))
#endif
extern "C" DEMO_ENTRY int PortrixDemoRun(int argc, char** argv, const char* installDir) {
    demo::Options options;
    std::string error;
    if (!demo::ParseOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "portrix-demo: %s\n", error.c_str());
        return 2;
    }
    demo::DemoRun run(options, installDir);
    return run.Run();
}
