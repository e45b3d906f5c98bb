// The control's view of the store's files: the existence test, freshness against the layer's
// clock, and the bytes of the version file.
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <dlfcn.h>
#include <sys/stat.h>
#endif

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "StoreFiles.h"
#include "VersionFile.h"
#include "file_seams.h"
#include "sides.h"

#ifndef _WIN32
// Every state one file passes through, taken after each write or truncation this process makes
// to it: what a reader, or the disk after a crash, may find between two calls.
struct FileStates {
    ino_t inode = 0;
    std::vector<std::string> seen;
};
FileStates* g_watched = nullptr;

void NoteState(int fd) {
    struct stat st;
    if (g_watched == nullptr || fstat(fd, &st) != 0 || st.st_ino != g_watched->inode) return;
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    if (pread(fd, bytes.data(), bytes.size(), 0) == st.st_size) g_watched->seen.push_back(bytes);
}

template <typename Call>
Call Real(const char* name) {
    return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

extern "C" ssize_t write(int fd, const void* bytes, size_t count) {
    static const auto real = Real<ssize_t (*)(int, const void*, size_t)>("write");
    const ssize_t written = real(fd, bytes, count);
    NoteState(fd);
    return written;
}

extern "C" int ftruncate(int fd, off_t length) noexcept {
    static const auto real = Real<int (*)(int, off_t)>("ftruncate");
    const int result = real(fd, length);
    NoteState(fd);
    return result;
}
#endif  // the system's file calls built for Windows go through neither

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class StoreFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ =
            fs::temp_directory_path() / ("avatar_store_files." + std::to_string(::getpid()));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    std::string PathOf(const std::string& name) const { return (directory_ / name).string(); }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string VersionOnes() {
        std::string table;
        for (int i = 0; i < kVersionEntryCount; ++i) table += kNewVersionEntry;
        return table;
    }
    // 150 bytes in which every byte differs from its neighbours, so a stray write shows.
    static std::string Pattern() {
        std::string table;
        for (int i = 0; i < kVersionFileSize; ++i) table += static_cast<char>('A' + i % 26);
        return table;
    }

    fs::path directory_;
};

TEST_F(StoreFilesTest, FirstWriteMakesTableOfVersionOnesWithTheEntry) {
    const std::string path = PathOf("10001.txt");
    RecordVersion(path.c_str(), 2, 6, 12);
    std::string expected = VersionOnes();
    expected.replace(80, 5, "00012");
    EXPECT_EQ(Read(path), expected);
}

TEST_F(StoreFilesTest, WritesTouchOnlyTheirFiveBytes) {
    struct Row {
        int row, type, mode, version, offset;
        const char* entry;
    } const rows[] = {
        {1, 1, 0, 7, 0, "00007"},
        {2, 3, 9, -5, 145, "-0005"},
        {3, 2, 0, 123456, 50, "12345"},
        {4, 1, 9, 99999, 45, "99999"},
    };
    for (const Row& r : rows) {
        const std::string path = PathOf("pattern.txt");
        Write(path, Pattern());
        RecordVersion(path.c_str(), r.type, r.mode, r.version);
        std::string expected = Pattern();
        expected.replace(static_cast<size_t>(r.offset), 5, r.entry);
        EXPECT_EQ(Read(path), expected) << "row " << r.row;
    }
}

TEST_F(StoreFilesTest, ShortFileIsCompletedWithVersionOnes) {
    const std::string path = PathOf("short.txt");
    Write(path, "00009xy");
    RecordVersion(path.c_str(), 3, 9, 4);
    std::string expected = VersionOnes();
    expected.replace(0, 7, "00009xy");
    expected.replace(145, 5, "00004");
    EXPECT_EQ(Read(path), expected);
    EXPECT_EQ(Read(path).size(), 150u);
}

// Between any two of its writes the file holds every other entry, and the entry being written
// reads as its old version, as no version (0: the picture is asked for again) or as the new one,
// never as a third number (99 -> 100 written digit by digit over the old could read 199).
TEST_F(StoreFilesTest, EveryStateOfAnUpdateKeepsTheTableAndNoWrongVersion) {
    if (!portrix_test::LayerOnly("every state",
                                 "the states are taken in write() and "
                                 "ftruncate(), which WriteFile does not call")) {
        return;
    }
#ifndef _WIN32
    const std::string path = PathOf("states.txt");
    std::string table = VersionOnes();
    table.replace(0, 5, "00099");
    Write(path, table);
    FileStates states;
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    states.inode = st.st_ino;
    g_watched = &states;
    RecordVersion(path.c_str(), 1, 0, 100);
    g_watched = nullptr;
    ASSERT_FALSE(states.seen.empty());
    for (const std::string& seen : states.seen) {
        ASSERT_EQ(seen.size(), table.size());
        EXPECT_EQ(seen.substr(5), table.substr(5));
        const int read = ParseVersionEntry(seen.data());
        EXPECT_TRUE(read == 99 || read == 0 || read == 100) << seen.substr(0, 5);
    }
    EXPECT_EQ(ParseVersionEntry(Read(path).data()), 100);
#endif
}

TEST_F(StoreFilesTest, PairsOutsideTheTableWriteNothing) {
    const std::string missing = PathOf("missing.txt");
    const std::string existing = PathOf("existing.txt");
    Write(existing, Pattern());
    const int pairs[][2] = {{0, 0}, {4, 0}, {1, 10}, {1, -1}, {-1, 5}};
    for (const auto& pair : pairs) {
        RecordVersion(missing.c_str(), pair[0], pair[1], 3);
        RecordVersion(existing.c_str(), pair[0], pair[1], 3);
        EXPECT_FALSE(fs::exists(missing)) << pair[0] << "," << pair[1];
        EXPECT_EQ(Read(existing), Pattern()) << pair[0] << "," << pair[1];
    }
}

TEST_F(StoreFilesTest, FileHeldWithoutSharingOrWithoutDirectoryIsNotWritten) {
    const std::string path = PathOf("held.txt");
    Write(path, Pattern());
    {
        CFile holder;
        ASSERT_TRUE(holder.Open(path.c_str(), CFile::modeRead | CFile::shareExclusive));
        RecordVersion(path.c_str(), 1, 0, 5);
    }
    EXPECT_EQ(Read(path), Pattern());

    const std::string nowhere = PathOf("no-such-dir/10001.txt");
    RecordVersion(nowhere.c_str(), 1, 0, 5);
    EXPECT_FALSE(fs::exists(nowhere));
}

TEST_F(StoreFilesTest, ReadsRecordedVersions) {
    const std::string path = PathOf("read.txt");
    std::string table = VersionOnes();
    table.replace(0, 5, "-0005");
    table.replace(5, 5, "     ");
    table.replace(80, 5, "00012");
    Write(path, table);
    struct Row {
        int row, type, mode;
        BOOL found;
        int version;
    } const rows[] = {
        {1, 1, 0, TRUE, -5}, {2, 1, 1, TRUE, 0},  {3, 2, 6, TRUE, 12},
        {4, 3, 9, TRUE, 1},  {5, 0, 0, FALSE, 0}, {6, 1, 10, FALSE, 0},
    };
    for (const Row& r : rows) {
        int version = 0;
        EXPECT_EQ(ReadRecordedVersion(path.c_str(), r.type, r.mode, &version), r.found)
            << "row " << r.row;
        if (r.found) {
            EXPECT_EQ(version, r.version) << "row " << r.row;
        }
    }

    int version = 77;
    EXPECT_FALSE(ReadRecordedVersion(PathOf("missing.txt").c_str(), 1, 0, &version));
    Write(path, "00003");
    ASSERT_TRUE(ReadRecordedVersion(path.c_str(), 1, 0, &version));
    EXPECT_EQ(version, 3);
    ASSERT_TRUE(ReadRecordedVersion(path.c_str(), 1, 1, &version));  // past the end: no digits
    EXPECT_EQ(version, 0);

    // The version file is read without sharing: a writer holding it keeps it unread.
    CFile holder;
    ASSERT_TRUE(holder.Open(path.c_str(), CFile::modeWrite | CFile::shareDenyNone));
    EXPECT_FALSE(ReadRecordedVersion(path.c_str(), 1, 0, &version));
}

TEST_F(StoreFilesTest, FileOpenForWritingFailsTheExistenceTest) {
    const std::string path = PathOf("picture.gif");
    EXPECT_FALSE(PassesExistenceTest(path.c_str()));
    EXPECT_EQ(ExamineStoredPicture(path.c_str()), StoredPicture::missing);
    Write(path, "GIF89a");
    EXPECT_TRUE(PassesExistenceTest(path.c_str()));
    {
        CFile writer;
        ASSERT_TRUE(writer.Open(path.c_str(), CFile::modeWrite | CFile::shareDenyNone));
        EXPECT_FALSE(PassesExistenceTest(path.c_str()));
        EXPECT_EQ(ExamineStoredPicture(path.c_str()), StoredPicture::missing);
    }
    // Readers do not lock each other out.
    CFile reader;
    ASSERT_TRUE(reader.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_TRUE(PassesExistenceTest(path.c_str()));
}

// Runs `examine` with the file modified exactly `age` seconds before the layer's clock: its
// last write set back by age (the clock is not moved, so that the test runs built for Windows
// too). The file's time and the clock are whole seconds apart only while the real second does
// not change, so a run that straddles a second boundary is repeated. The second is read from the
// clock the control reads (time() may lag it by a tick near a second boundary).
StoredPicture ExamineAtAge(const std::string& path, long long age) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const long long now = CTime::GetCurrentTime().GetTime();
        EXPECT_TRUE(portrix_test::SetLastWriteTime(path, now - age));
        const StoredPicture result = ExamineStoredPicture(path.c_str());
        if (CTime::GetCurrentTime().GetTime() == now) return result;
    }
    ADD_FAILURE() << "the real clock kept crossing second boundaries";
    return StoredPicture::missing;
}

TEST_F(StoreFilesTest, FreshnessEndsAfterSixtySeconds) {
    const std::string path = PathOf("picture.gif");
    Write(path, "GIF89a");
    struct Row {
        int row;
        long long age;
        StoredPicture expected;
    } const rows[] = {
        {1, 0, StoredPicture::fresh},    {2, 59, StoredPicture::fresh},
        {3, 60, StoredPicture::fresh},   {4, 61, StoredPicture::stale},
        {5, 3600, StoredPicture::stale}, {6, -3600, StoredPicture::fresh},
    };
    for (const Row& r : rows) EXPECT_EQ(ExamineAtAge(path, r.age), r.expected) << "row " << r.row;
}

}  // namespace
