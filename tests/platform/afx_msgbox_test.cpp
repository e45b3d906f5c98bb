// AfxMessageBox and its sink.
#include <gtest/gtest.h>

#include "afxmsgbox.h"
#include "message_box_recorder.h"
#include "platform/msgbox.h"

using portrix_test::MessageBoxRecorder;

namespace {

TEST(AfxMessageBoxTest, DefaultSinkWritesToStandardErrorAndAnswersOk) {
    platform::ResetMessageBoxSink();
    testing::internal::CaptureStderr();
    const int answer = AfxMessageBox("Cannot read the install path.", MB_YESNO | MB_ICONSTOP);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(IDOK, answer);
    EXPECT_NE(std::string::npos, written.find("Cannot read the install path.")) << written;
}

TEST(AfxMessageBoxTest, RecordingSinkSeesEveryBoxAndIsRemovedAfterwards) {
    {
        MessageBoxRecorder recorder(IDNO);
        struct Row {
            const char* text;
            UINT type;
            UINT helpId;
        };
        const Row rows[] = {
            /*1*/ {"first", MB_OK, 0},
            /*2*/ {"second\nline", MB_YESNO | MB_ICONQUESTION, 17},
            /*3*/ {"", MB_OK, 0},
        };
        for (const Row& row : rows) EXPECT_EQ(IDNO, AfxMessageBox(row.text, row.type, row.helpId));
        EXPECT_EQ(IDNO, AfxMessageBox(nullptr));
        const auto boxes = recorder.boxes();
        ASSERT_EQ(4u, boxes.size());
        for (size_t i = 0; i < 3; ++i) {
            SCOPED_TRACE("row " + std::to_string(i + 1));
            EXPECT_EQ(rows[i].text, boxes[i].text);
            EXPECT_EQ(rows[i].type, boxes[i].type);
            EXPECT_EQ(rows[i].helpId, boxes[i].helpId);
        }
        EXPECT_EQ("", boxes[3].text);  // a null text shows as empty
        EXPECT_EQ(IDNO, MessageBoxA(nullptr, "through USER", "caption", MB_YESNO));
        EXPECT_EQ("through USER", recorder.boxes().back().text);
        {
            MessageBoxRecorder inner(IDCANCEL);
            EXPECT_EQ(IDCANCEL, AfxMessageBox("inner"));
        }
        // The outer recorder is back once the inner one is gone.
        EXPECT_EQ(IDNO, AfxMessageBox("outer again"));
        EXPECT_EQ(6u, recorder.boxes().size());
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(IDOK, AfxMessageBox("back to the default"));
    EXPECT_NE(std::string::npos,
              testing::internal::GetCapturedStderr().find("back to the default"));
}

}  // namespace
