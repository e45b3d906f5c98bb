#include <gtest/gtest.h>

#include "afxstr.h"

namespace {

TEST(CString, FormatStopsAtFirstNul) {
    CString s;
    s.Format("%s", "host\0:8080");
    EXPECT_STREQ("host", s);
    s.Format("%05d", -5);
    EXPECT_STREQ("-0005", s);
}

TEST(CString, ExtractionClampsToTheText) {
    const CString s("C:\\App\\Avatar\\");
    struct Row {
        int line;
        CString actual;
        const char* expected;
    } rows[] = {
        {__LINE__, s.Left(2), "C:"},        {__LINE__, s.Left(99), "C:\\App\\Avatar\\"},
        {__LINE__, s.Mid(3, 3), "App"},     {__LINE__, s.Mid(40), ""},
        {__LINE__, s.Right(7), "Avatar\\"}, {__LINE__, s.Left(-1), ""},
    };
    for (const Row& r : rows) EXPECT_STREQ(r.expected, r.actual) << "row at line " << r.line;
}

TEST(CString, BufferRoundTrip) {
    CString s("abc");
    char* p = s.GetBuffer(10);
    std::snprintf(p, 11, "%s", "0123456789");
    s.ReleaseBuffer();
    EXPECT_EQ(10, s.GetLength());
    p = s.GetBuffer(0);
    p[4] = '\0';
    s.ReleaseBuffer();
    EXPECT_STREQ("0123", s);
}

TEST(CString, SearchAndCompare) {
    CString s("Default\\man1.gif");
    EXPECT_EQ(7, s.Find('\\'));
    EXPECT_EQ(-1, s.Find('x'));
    EXPECT_EQ(8, s.Find("man"));
    EXPECT_EQ(12, s.ReverseFind('.'));
    EXPECT_EQ(0, s.CompareNoCase("default\\MAN1.GIF"));
    EXPECT_TRUE(s == "Default\\man1.gif");
    EXPECT_TRUE(CString("a") < CString("b"));
    EXPECT_EQ(2, CString("a.b.c").Replace('.', '/'));
}

}  // namespace
