// A control on a dialog, with the recording stand-in of the download library behind it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ControlHarness.h"
#include "RecordingDownload.h"

namespace avatar_test {

constexpr char kServer[] = "avatars.test:8080";

// What the control forwards to its mouse receiver: message, flags and point.
class RecordingHook : public IMouseEventHook {
public:
    using Event = std::tuple<UINT, UINT, LONG>;
    void OnMouseEvent(UINT message, UINT flags, LONG point) override {
        events.emplace_back(message, flags, point);
    }
    std::vector<Event> events;
};

class RecordingControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        EmptyStore();
        SetDownloadAction(nullptr);
        TakeDownloadCalls();
    }
    void TearDown() override { SetDownloadAction(nullptr); }

    // Sets the properties in the order a host does; the requests that SetImageType may make for
    // missing default pictures are dropped.
    void Configure(const CString& userId, int type, int mode, int sex = 0, int version = 1) {
        CPortrix& control = host.control();
        control.SetUserID(userId);
        control.SetSex(sex);
        control.SetImageType(type);
        control.SetFaceMode(mode);
        control.SetImageSN(version);
        control.SetServerAddress(kServer);
        TakeDownloadCalls();
    }

    static std::vector<std::string> Operations(const std::vector<DownloadCall>& calls) {
        std::vector<std::string> operations;
        for (const DownloadCall& call : calls) operations.push_back(call.operation);
        return operations;
    }

    static void ExpectPictureCall(const DownloadCall& call, const char* operation,
                                  const std::string& userId, int type, int mode) {
        EXPECT_EQ(call.operation, operation);
        EXPECT_EQ(call.userId, userId);
        EXPECT_EQ(call.serverAddress, kServer);
        EXPECT_EQ(call.storeRoot, std::string(StoreRoot()));
        EXPECT_EQ(call.imageType, type);
        EXPECT_EQ(call.faceMode, mode);
    }

    ControlHarness host;
};

}  // namespace avatar_test
