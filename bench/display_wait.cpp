// How long Display() keeps the host's user-interface thread, with the real download library and
// nginx on 127.0.0.1 (built for Windows, run under Wine by scripts/wine_display_wait.sh): a fresh
// stored picture, a missing picture (the first of the process apart, which starts the library),
// the library's call alone (and a refresh of a stored picture, which it holds), both again while
// every earlier transfer is still running, and a missing picture whose placeholder is animated
// (each frame decoded by the system's loader). Prints figures; asserts only that pictures come.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AvatarDownload.h"
#include "ControlHarness.h"
#include "NginxServer.h"
#include "TestPictures.h"
#include "gif_builder.h"

namespace avatar_test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 12;
constexpr int kBurst = 8;

double Milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

template <typename Call>
double Time(Call call) {
    const auto start = Clock::now();
    call();
    return Milliseconds(Clock::now() - start);
}

void Print(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-48s n=%2zu  min %7.2f  median %7.2f  max %7.2f ms\n", what, ms.size(),
                ms.front(), ms[ms.size() / 2], ms.back());
}

TEST(DisplayWait, UserInterfaceThread) {
    nimbrel_test::NginxServer server;
    ASSERT_TRUE(server.Running()) << server.StartError();
    EmptyStore();
    PutDefaultSet();
    const std::string picture =
        SolidGifBytes(ControlHarness::kPictureSide, ControlHarness::kPictureSide, kNewerUserColor);
    ControlHarness host;
    CPortrix& control = host.control();
    control.SetImageType(1);
    control.SetFaceMode(0);
    control.SetServerAddress(server.Address().c_str());
    host.PumpFor(200ms);

    std::vector<double> stored, missing, library, held;
    double first = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::string user = "wait" + std::to_string(round);
        PutPicture("Body\\stored" + std::to_string(round) + ".gif", kUserColor);
        control.SetUserID(("stored" + std::to_string(round)).c_str());
        stored.push_back(Time([&] { control.Display(); }));
        host.PumpFor(50ms);

        server.Put("Body/" + user + ".gif", picture);
        control.SetUserID(user.c_str());
        const double ms = Time([&] { control.Display(); });
        if (round == 0)
            first = ms;
        else
            missing.push_back(ms);
        EXPECT_TRUE(host.WaitForColor(kNewerUserColor, 10s)) << user;

        server.Put("Body/alone" + std::to_string(round) + ".gif", picture);
        CAvatarDownload download;
        held.push_back(Time([&] {
            download.VazirOridoStartGFU(("stored" + std::to_string(round)).c_str(),
                                        server.Address().c_str(), StoreRoot(), 1, 0);
        }));
        library.push_back(Time([&] {
            download.StartDownload(("alone" + std::to_string(round)).c_str(),
                                   server.Address().c_str(), StoreRoot(), 1, 0);
        }));
        host.PumpFor(50ms);
    }

    // A dialog's worth asked back to back while every earlier transfer is still running (slow
    // pictures): each request finds no idle worker.
    std::vector<std::unique_ptr<ControlHarness>> dialog;
    std::vector<double> burst, burstLibrary;
    const std::string slow =
        SolidGifBytes(ControlHarness::kPictureSide, ControlHarness::kPictureSide, kNewerUserColor,
                      nimbrel_test::NginxServer::kSlowBytesPerSecond);
    for (int round = 0; round < kBurst; ++round) {
        const std::string user = "slow" + std::to_string(round);
        server.Put("Body/" + user + ".gif", slow);
        server.Put("Body/" + user + "x.gif", slow);
        dialog.push_back(std::make_unique<ControlHarness>());
        CPortrix& next = dialog.back()->control();
        next.SetImageType(1);
        next.SetFaceMode(0);
        next.SetServerAddress(server.Address().c_str());
        next.SetUserID(user.c_str());
    }
    host.PumpFor(200ms);
    for (auto& each : dialog) {
        burst.push_back(Time([&] { each->control().Display(); }));
        host.PumpFor(5ms);
    }
    for (int round = 0; round < kBurst; ++round) {
        CAvatarDownload download;
        burstLibrary.push_back(Time([&] {
            download.StartDownload(("slow" + std::to_string(round) + "x").c_str(),
                                   server.Address().c_str(), StoreRoot(), 1, 0);
        }));
        host.PumpFor(5ms);
    }
    for (auto& each : dialog) EXPECT_TRUE(each->WaitForColor(kNewerUserColor, 10s));

    // The placeholder animated, as a spinner is: a full frame, then eight small ones.
    gif_test::GifBuilder spinner;
    spinner.Header().Screen(48, 64).Loop();
    spinner.GraphicControl(10, 1).SolidImage(0, 0, 48, 64, 0);
    for (int frame = 0; frame < 8; ++frame)
        spinner.GraphicControl(10, 1).SolidImage(4 * frame, 4 * frame, 12, 12, 1);
    spinner.Trailer();
    const std::string placeholder = StorePath("default\\download1.gif");
    std::ofstream(placeholder + ".part", std::ios::binary)
        .write(reinterpret_cast<const char*>(spinner.Bytes().data()),
               static_cast<std::streamsize>(spinner.Size()));
    std::filesystem::rename(placeholder + ".part", placeholder);
    std::vector<double> animated;
    for (int round = 0; round < kRounds; ++round) {
        const std::string user = "spin" + std::to_string(round);
        server.Put("Body/" + user + ".gif", picture);
        control.SetUserID(user.c_str());
        animated.push_back(Time([&] { control.Display(); }));
        EXPECT_TRUE(host.WaitForColor(kNewerUserColor, 10s)) << user;
        control.SetUserID(("stored" + std::to_string(round)).c_str());
        control.Display();
        host.PumpFor(20ms);
    }

    std::printf("%-48s %7.2f ms\n", "Display, the process's first missing picture", first);
    Print("Display, a missing picture (later ones)", missing);
    Print("Display, a fresh stored picture", stored);
    Print("CAvatarDownload::StartDownload alone", library);
    Print("VazirOridoStartGFU alone, stored (held)", held);
    Print("Display, missing, while the others download", burst);
    Print("StartDownload alone, while the others download", burstLibrary);
    Print("Display, missing, placeholder of 9 frames", animated);
}

}  // namespace
}  // namespace avatar_test
