// The files family against the original platform's behaviour: path mapping, directory calls,
// deletion, CFile (with the share-mode rule within one process and across two), CFileFind.
// Rows are numbered; failures print expected against actual.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "afx.h"
#include "platform/confined_opens.h"
#include "platform/directory.h"
#include "platform/path.h"
#include "file_tree.h"
#include "temp_dir.h"

using portrix_test::MakeTree;
using portrix_test::Row;
using portrix_test::TempDir;
using portrix_test::Win;

namespace {

// ---- Paths -----------------------------------------------------------------------------------

TEST(Paths, WindowsPathsMapOntoTheFileSystem) {
    TempDir dir;
    MakeTree(dir);
    const std::string root = dir.path();
    struct Case {
        std::string windows;
        std::string posix;
    } cases[] = {
        /* 1 */ {root + "\\Avatar\\Body\\10001.gif", root + "/Avatar/Body/10001.gif"},
        /* 2 */ {root + "\\AVATAR\\body\\10001.GIF", root + "/Avatar/Body/10001.gif"},
        /* 3 */ {root + "\\Avatar\\default\\man1.gif", root + "/Avatar/Default/Man1.GIF"},
        /* 4 */ {root + "\\Avatar\\\\Body\\\\10001.gif", root + "/Avatar/Body/10001.gif"},
        /* 5 */ {root + "/avatar/body/", root + "/Avatar/Body/"},
        /* 6 */ {root + "\\avatar\\Body\\New.gif", root + "/Avatar/Body/New.gif"},
        /* 7 */ {root + "\\avatar\\Missing\\body", root + "/Avatar/Missing/body"},
        /* 8 */ {root + "\\Avatar\\Body\\..\\default", root + "/Avatar/Body/../Default"},
        /* 9 */ {"C:\\", "/"},
        /* 10 */ {"", ""},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        EXPECT_EQ(platform::ToPosixPath(c.windows.c_str()), c.posix) << Row(row);
    }
    EXPECT_EQ(platform::ToPosixPath(nullptr), "");
}

TEST(Paths, ExactNameWinsOverOtherCase) {
    TempDir dir;
    ASSERT_EQ(mkdir((dir / "Default").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir / "default").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir / "DEFAULT").c_str(), 0777), 0);
    EXPECT_EQ(platform::ToPosixPath(Win(dir, "default").c_str()), dir / "default");
    // No exact entry: the smallest in byte order, whatever the directory's order.
    EXPECT_EQ(platform::ToPosixPath(Win(dir, "DeFault").c_str()), dir / "DEFAULT");
}

TEST(Paths, Wildcards) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        /* 1 */ {"10001.gif", "*.gif", true},
        /* 2 */ {"10001_BS.GIF", "*.gif", true},
        /* 3 */ {"10001.gif.part", "*.gif", false},
        /* 4 */ {"noextension", "*.*", true},
        /* 5 */ {"a.txt", "?.txt", true},
        /* 6 */ {"ab.txt", "?.txt", false},
        /* 7 */ {"config.ini", "*.txt", false},
        /* 8 */ {".gif", "*.gif", true},
        /* 9 */ {"x.gif", "x.GIF", true},
        /* 10 */ {"aXbXc", "a*b*c", true},
        /* 11 */ {"abc", "a*b*c*d", false},
        /* 12 */ {"", "*", true},
        /* 13 */ {"noextension", "*.", true},  // a final '.' matches the end of a name without one
        /* 14 */ {"a.txt", "*.", false},
        /* 15 */ {"noextension", "noext??????.", true},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        EXPECT_EQ(platform::MatchesWildcard(c.name, c.pattern), c.matches)
            << Row(row) << ": " << c.name << " against " << c.pattern;
    }
}

// ---- Deletion --------------------------------------------------------------------------------

// Without a descriptor to look for holders with, DeleteFileA refuses with what stopped it.
TEST(Directories, ADeletionThatCannotCheckForHoldersIsRefused) {
    TempDir dir;
    const std::string path = dir.Write("config.ini", "x");
    CFile held;
    ASSERT_TRUE(held.Open(path.c_str(), CFile::modeRead | CFile::shareExclusive));
    const pid_t child = fork();
    if (child == 0) {
        const int lowestFree = dup(STDERR_FILENO);
        struct rlimit limit = {};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = static_cast<rlim_t>(lowestFree);  // every open now fails with EMFILE
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
        const bool refused = !DeleteFileA(path.c_str());
        _exit(refused && GetLastError() == ERROR_TOO_MANY_OPEN_FILES ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(dir.Exists("config.ini"));
}

// A deletion by a listing's entry takes only the file the listing saw, as it was.
TEST(Directories, DeletingAListedEntryTakesOnlyTheFileListed) {
    TempDir dir;
    struct Case {
        const char* name;
        std::function<void(const TempDir&)> meanwhile;  // between the listing and the deletion
        BOOL result;
    } cases[] = {
        /* 1 */ {"same.gif", [](const TempDir&) {}, TRUE},
        /* 2 */
        {"replaced.gif",
         [](const TempDir& d) {
             d.Write("fresh.tmp", "GIF89a fresh");
             rename((d / "fresh.tmp").c_str(), (d / "replaced.gif").c_str());
         },
         FALSE},
        /* 3 */
        {"rewritten.txt",
         [](const TempDir& d) {
             const struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
             utimensat(AT_FDCWD, (d / "rewritten.txt").c_str(), later, 0);
         },
         FALSE},
        /* 4 */ {"link.gif", [](const TempDir&) {}, TRUE},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "link.gif") {
            ASSERT_EQ(symlink("nowhere", (dir / c.name).c_str()), 0);
        } else {
            dir.Write(c.name, "GIF89a");
        }
    }
    const platform::Directory directory(dir.path().c_str());
    const std::vector<platform::DirectoryEntry> listed = directory.Find("*");
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        auto entry =
            std::find_if(listed.begin(), listed.end(),
                         [&](const platform::DirectoryEntry& e) { return e.name == c.name; });
        ASSERT_NE(entry, listed.end()) << Row(row);
        c.meanwhile(dir);
        EXPECT_EQ(directory.DeleteEntry(*entry), c.result) << Row(row);
        if (!c.result) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << Row(row);
        }
    }
    EXPECT_EQ(dir.Read("replaced.gif"), "GIF89a fresh");
    EXPECT_TRUE(dir.Exists("rewritten.txt"));
}

// Below a confined folder no open follows a link, neither on the way nor at the end; a write
// through one would truncate what it points at.
TEST(File, OpensBelowAConfinedFolderFollowNoLink) {
    TempDir outside, dir;
    const std::string target = outside.Write("target.txt", "keep");
    ASSERT_EQ(mkdir((outside / "folder").c_str(), 0777), 0);
    outside.Write("folder/1.gif", "GIF89a");
    ASSERT_EQ(mkdir((dir / "Store").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir / "Store/SNS").c_str(), 0777), 0);
    dir.Write("Store/SNS/plain.txt", "x");
    ASSERT_EQ(symlink(target.c_str(), (dir / "Store/SNS/link.txt").c_str()), 0);
    ASSERT_EQ(symlink((outside / "nothing.txt").c_str(), (dir / "Store/SNS/dangling.txt").c_str()),
              0);
    ASSERT_EQ(symlink((outside / "folder").c_str(), (dir / "Store/Body").c_str()), 0);
    ASSERT_EQ(symlink((dir / "Store").c_str(), (dir / "Linked").c_str()), 0);
    platform::ConfineOpensBelow(Win(dir, "Linked").c_str());  // the root itself may be a link
    struct Case {
        std::string path;
        UINT flags;
        bool opens;
    } cases[] = {
        /* 1 */ {Win(dir, "Linked\\SNS\\plain.txt"), CFile::modeRead, true},
        /* 2 */ {Win(dir, "Linked\\SNS\\link.txt"), CFile::modeRead, false},
        /* 3 */ {Win(dir, "Linked\\SNS\\link.txt"), CFile::modeCreate | CFile::modeWrite, false},
        /* 4 */
        {Win(dir, "Linked\\SNS\\dangling.txt"), CFile::modeCreate | CFile::modeWrite, false},
        /* 5 */ {Win(dir, "Linked\\Body\\1.gif"), CFile::modeRead, false},
        /* 6 */ {Win(dir, "Store\\SNS\\link.txt"), CFile::modeRead, true},  // not confined
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        CFile file;
        CFileException error;
        EXPECT_EQ(static_cast<bool>(file.Open(c.path.c_str(), c.flags, &error)), c.opens)
            << Row(row);
        if (!c.opens) {
            EXPECT_EQ(error.m_lOsError, ERROR_ACCESS_DENIED) << Row(row);
        }
    }
    EXPECT_EQ(outside.Read("target.txt"), "keep");
    EXPECT_FALSE(outside.Exists("nothing.txt"));
}

// ---- CFile -----------------------------------------------------------------------------------

TEST(File, ReadWriteSeekAndLength) {
    TempDir dir;
    const std::string path = Win(dir, "data.bin");
    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeReadWrite));
    file.Write("0123456789", 10);
    EXPECT_EQ(file.GetLength(), 10u);
    EXPECT_EQ(file.GetPosition(), 10u);
    EXPECT_EQ(file.Seek(-4, CFile::end), 6);
    char buffer[16] = {};
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 4u);  // a short read at the end
    EXPECT_STREQ(buffer, "6789");
    EXPECT_EQ(file.Read(buffer, sizeof(buffer)), 0u);
    file.SetLength(3);
    EXPECT_EQ(file.GetLength(), 3u);
    file.SeekToBegin();
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "012");
    file.Close();
    EXPECT_EQ(dir.Read("data.bin"), "012");
}

TEST(File, CreateTruncatesUnlessNoTruncate) {
    TempDir dir;
    const std::string path = dir.Write("a.txt", "old content");
    {
        CFile file;
        ASSERT_TRUE(
            file.Open(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
    }
    EXPECT_EQ(dir.Read("a.txt"), "old content");
    {
        CFile file;
        ASSERT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    }
    EXPECT_EQ(dir.Read("a.txt"), "");
}

TEST(File, OpenFailuresFillTheException) {
    TempDir dir;
    MakeTree(dir);
    dir.Write("readonly.txt", "x");
    ASSERT_EQ(chmod((dir / "readonly.txt").c_str(), 0444), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0666), 0);  // no writer: a blocking open waits
    struct Case {
        std::string path;
        UINT flags;
        int cause;
        LONG osError;
    } cases[] = {
        /* 1 */ {Win(dir, "missing.gif"), CFile::modeRead, CFileException::fileNotFound,
                 ERROR_FILE_NOT_FOUND},
        /* 2 */
        {Win(dir, "none\\x.gif"), CFile::modeRead, CFileException::badPath, ERROR_PATH_NOT_FOUND},
        /* 3 */
        {Win(dir, "none\\x.gif"), CFile::modeCreate | CFile::modeWrite, CFileException::badPath,
         ERROR_PATH_NOT_FOUND},
        /* 4 */
        {Win(dir, "avatar\\body"), CFile::modeRead, CFileException::accessDenied,
         ERROR_ACCESS_DENIED},
        /* 5 */
        {Win(dir, "Avatar"), CFile::modeCreate | CFile::modeWrite, CFileException::accessDenied,
         ERROR_ACCESS_DENIED},
        /* 6 */
        {Win(dir, "readonly.txt"), CFile::modeWrite, CFileException::accessDenied,
         ERROR_ACCESS_DENIED},
        /* 7 */
        {Win(dir, "fifo"), CFile::modeRead, CFileException::accessDenied, ERROR_ACCESS_DENIED},
        /* 8 */
        {Win(dir, "fifo"), CFile::modeCreate | CFile::modeReadWrite, CFileException::accessDenied,
         ERROR_ACCESS_DENIED},
        /* 9 */ {"/dev/null", CFile::modeRead, CFileException::accessDenied, ERROR_ACCESS_DENIED},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(c.path.c_str(), c.flags, &error)) << Row(row);
        EXPECT_EQ(error.m_cause, c.cause) << Row(row);
        EXPECT_EQ(error.m_lOsError, c.osError) << Row(row);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.osError)) << Row(row);
        EXPECT_STREQ(error.m_strFileName, c.path.c_str()) << Row(row);
        EXPECT_EQ(file.m_hFile, static_cast<UINT>(CFile::hFileNull)) << Row(row);
    }
    EXPECT_EQ(dir.Read("readonly.txt"), "x");
}

// Catches the CFileException* that body throws and returns its cause, or -1 for none.
template <typename Body>
int ThrownCause(Body body) {
    try {
        body();
    } catch (CFileException* e) {
        const int cause = e->m_cause;
        e->Delete();
        return cause;
    }
    return -1;
}

TEST(File, FailedOperationsThrow) {
    TempDir dir;
    const std::string path = dir.Write("a.txt", "abc");
    char buffer[4];
    struct Case {
        const char* what;
        int cause;
        std::function<void()> body;
    } cases[] = {
        /* 1 */ {"throwing constructor", CFileException::fileNotFound,
                 [&] { CFile file(Win(dir, "missing").c_str(), CFile::modeRead); }},
        /* 2 */
        {"read of a write-only file", CFileException::accessDenied,
         [&] {
             CFile file(path.c_str(), CFile::modeWrite);
             file.Read(buffer, 1);
         }},
        /* 3 */
        {"write of a read-only file", CFileException::accessDenied,
         [&] {
             CFile file(path.c_str(), CFile::modeRead);
             file.Write("x", 1);
         }},
        /* 4 */
        {"seek before the start", CFileException::badSeek,
         [&] {
             CFile file(path.c_str(), CFile::modeRead);
             file.Seek(-1, CFile::begin);
         }},
        /* 5 */
        {"read after close", CFileException::invalidFile,
         [&] {
             CFile file(path.c_str(), CFile::modeRead);
             file.Close();
             file.Read(buffer, 1);
         }},
        /* 6 */
        {"sharing violation", CFileException::sharingViolation,
         [&] {
             CFile first(path.c_str(), CFile::modeRead | CFile::shareExclusive);
             CFile second(path.c_str(), CFile::modeRead | CFile::shareDenyNone);
         }},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        EXPECT_EQ(ThrownCause(c.body), c.cause) << Row(row) << ": " << c.what;
    }
    EXPECT_EQ(dir.Read("a.txt"), "abc");
}

TEST(File, StatusTimesToTheSecond) {
    TempDir dir;
    const std::string path = dir.Write("pic.gif", "GIF89a");
    const time_t written = 1700000000;  // 2023-11-14 22:13:20 UTC
    const struct timespec times[2] = {{written, 0}, {written, 999999999}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    CFileStatus byName;
    ASSERT_TRUE(CFile::GetStatus(Win(dir, "PIC.GIF").c_str(), byName));
    EXPECT_EQ(byName.m_mtime.GetTime(), written);
    EXPECT_EQ(byName.m_size, 6);
    EXPECT_EQ(byName.m_attribute, CFile::normal);
    EXPECT_STREQ(byName.m_szFullName, path.c_str());

    CFile file;
    ASSERT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    CFileStatus open;
    ASSERT_TRUE(file.GetStatus(open));
    EXPECT_EQ(open.m_mtime.GetTime(), written);
    EXPECT_LE(std::labs(open.m_ctime.GetTime() - time(nullptr)), 60) << "created just now";
    // Reading leaves the access time, whose update would be a journal write, as it was.
    char bytes[6];
    EXPECT_EQ(file.Read(bytes, sizeof bytes), sizeof bytes);
    file.Close();
    struct stat after;
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_atime, written);

    CFileStatus missing;
    EXPECT_FALSE(CFile::GetStatus(Win(dir, "none.gif").c_str(), missing));
    CFileStatus directory;
    ASSERT_TRUE(CFile::GetStatus(dir.path().c_str(), directory));
    EXPECT_EQ(directory.m_attribute, CFile::directory);
}

// ---- Share guard ---------------------------------------------------------------------------

// The guard that makes a check-and-take atomic is taken without waiting on anyone: where
// flock() is emulated with byte-range locks (NFS) it meets other opens' share locks, which a
// transfer may hold for minutes. Held elsewhere for good here, it must not stop an open or a
// deletion.
TEST(ShareModes, AGuardHeldElsewhereStopsNothing) {
    TempDir dir;
    const std::string path = dir.Write("config.ini", "[SYSTEM]\r\nKey=old\r\n");
    const int guard = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(guard, 0);
    ASSERT_EQ(flock(guard, LOCK_EX), 0);
    CFile file;
    EXPECT_TRUE(file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    file.Close();
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    close(guard);
}
// ---- CFileFind -------------------------------------------------------------------------------

TEST(FileFind, NextFileIsFalseForTheLastEntryAndStaysThere) {
    TempDir dir;
    dir.Write("a.gif", "x");
    dir.Write("b.gif", "x");
    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(Win(dir, "*.gif").c_str()));
    EXPECT_TRUE(finder.FindNextFile());
    const CString first = finder.GetFileName();
    EXPECT_FALSE(finder.FindNextFile());
    const CString second = finder.GetFileName();
    EXPECT_NE(first, second);
    EXPECT_FALSE(finder.FindNextFile());
    EXPECT_EQ(finder.GetFileName(), second);
    finder.Close();
    EXPECT_FALSE(finder.FindNextFile());
    EXPECT_FALSE(finder.FindFile(Win(dir, "missing\\*.gif").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(finder.FindFile(Win(dir, "A.GIF").c_str()));
    finder.FindNextFile();
    EXPECT_STREQ(finder.GetFilePath(), Win(dir, "a.gif").c_str()) << "the directory and the name";
}

TEST(FileFind, CreationTimeIsNotTheLastWrite) {
    TempDir dir;
    const std::string path = dir.Write("old.gif", "x");
    const time_t twentyDaysAgo = time(nullptr) - 20 * 24 * 3600;
    const struct timespec times[2] = {{twentyDaysAgo, 0}, {twentyDaysAgo, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    CFileFind finder;
    ASSERT_TRUE(finder.FindFile(Win(dir, "old.gif").c_str()));
    finder.FindNextFile();
    CTime created, written;
    ASSERT_TRUE(finder.GetCreationTime(created));
    ASSERT_TRUE(finder.GetLastWriteTime(written));
    EXPECT_EQ(written.GetTime(), twentyDaysAgo);
    // Birth time, or the status change that utimensat itself made: either way, now.
    EXPECT_LE(std::labs(created.GetTime() - time(nullptr)), 60);
    FILETIME utc;
    ASSERT_TRUE(finder.GetCreationTime(&utc));
    EXPECT_EQ(CTime(utc), created);
    EXPECT_EQ(finder.GetLength(), 1u);
}

}  // namespace
