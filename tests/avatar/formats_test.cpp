// The byte-level formats of the avatar control: base64 texts, version-file entries and the
// user ids that may become part of a store path. Table rows are numbered so that a failure names
// its row.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Base64.h"
#include "StorePaths.h"
#include "VersionFile.h"

namespace {

struct Base64Row {
    int row;
    const char* encoded;
    std::string decoded;  // may hold NUL bytes
};

TEST(Base64, DecodesInPlaceWithCount) {
    const Base64Row rows[] = {
        {1, "YWJj", "abc"},
        {2, "YWI=", "ab"},
        {3, "YQ==", "a"},
        {4, "", ""},
        {5, "YWJjZA", "abc"},  // trailing incomplete group dropped
        {6, "aHR0cDovLyVzL2NfYXZhdGFyLw==", "http://%s/c_avatar/"},
        {7, "YQ==YWI=", "aab"},   // a padded group does not end decoding
        {8, "YWJj!YWJj", "abc"},  // stops at the first non-alphabet char
        {9, "YW Jj", ""},         // space is outside the alphabet
        {10, "=YWJ", ""},         // pad in first place: group ignored
        {11, "Y=JjYWJj", "abc"},  // pad in second place: group ignored
        {12, "YQ=a", "a"},        // pad in third place: one byte, z ignored
        {13, "+/+/", "\xfb\xff\xbf"},
        {14, "AGE=", std::string("\0a", 2)},
        {15, "////", "\xff\xff\xff"},
    };
    for (const Base64Row& r : rows) {
        char buffer[64];
        std::strcpy(buffer, r.encoded);
        const int count = DecodeBase64InPlace(buffer);
        EXPECT_EQ(count, static_cast<int>(r.decoded.size())) << "row " << r.row;
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(count)), r.decoded) << "row " << r.row;
        EXPECT_EQ(buffer[count], '\0') << "row " << r.row;
    }
}

TEST(Base64, NullBufferDecodesNothing) {
    EXPECT_EQ(DecodeBase64InPlace(nullptr), 0);
}

TEST(Base64, StringDecodingStopsAtNulOnBothSides) {
    EXPECT_STREQ(DecodeBase64String("aHR0cDovLyVzL2NfYXZhdGFyLw=="), "http://%s/c_avatar/");
    // Decoded text is cut at its first NUL byte.
    EXPECT_STREQ(DecodeBase64String("YQBi"), "a");
    // Encoded text is read up to its first NUL.
    EXPECT_STREQ(DecodeBase64String(CString("YWJj\0YWJj", 9)), "abc");
    EXPECT_STREQ(DecodeBase64String(""), "");
}

TEST(VersionFile, ParsesEntriesAsSignedDecimal) {
    struct Row {
        int row;
        const char* entry;  // exactly five bytes are read
        int value;
    } const rows[] = {
        {1, "00001", 1},
        {2, "-0005", -5},
        {3, "     ", 0},
        {4, "00012", 12},
        {5, "99999", 99999},
        {6, "  42x", 42},
        {7, "+0007", 7},
        {8, "abcde", 0},
        {9, "12345678", 12345},
        {10, "\0\0\0\0\0", 0},
        {11,
         "12\0"
         "99",
         12},
    };
    for (const Row& r : rows) EXPECT_EQ(ParseVersionEntry(r.entry), r.value) << "row " << r.row;
}

TEST(VersionFile, FormatsFirstFiveCharactersOfPaddedNumber) {
    struct Row {
        int row, version;
        const char* entry;
    } const rows[] = {
        {1, 12, "00012"}, {2, 7, "00007"}, {3, 12345, "12345"},      {4, 123456, "12345"},
        {5, -5, "-0005"}, {6, 0, "00000"}, {7, 2147483647, "21474"}, {8, -2147483647 - 1, "-2147"},
    };
    for (const Row& r : rows) {
        char entry[6] = "#####";
        FormatVersionEntry(r.version, entry);
        EXPECT_STREQ(entry, r.entry) << "row " << r.row;  // the sixth byte stays the terminator
    }
}

TEST(StorePaths, UnsafeUserIdsNameNoPicture) {
    struct Row {
        int row;
        CString id;
        BOOL usable;
    } const rows[] = {
        {1, "10001", TRUE},
        {2, "", FALSE},
        {3, ".", FALSE},
        {4, "..", FALSE},
        {5, "a\\b", FALSE},
        {6, "a/b", FALSE},
        {7, "C:x", FALSE},
        {8, "a\tb", FALSE},
        {9, "\x7f", FALSE},
        {10, CString("a\0b", 3), FALSE},
        {11, "...", TRUE},
        {12, "a.b", TRUE},
        {13, "\xe4\xb8\xad", TRUE},
    };
    for (const Row& r : rows) EXPECT_EQ(IsUsableUserId(r.id), r.usable) << "row " << r.row;
}

}  // namespace
