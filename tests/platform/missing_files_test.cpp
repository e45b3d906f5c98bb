// ctest-labels: threaded
// Opens of missing files answered from memory: whatever way a file appears, the first open
// after it finds it; where the layer cannot watch the path it looks at the disk every time.
// Rows are numbered; failures print expected against actual.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "afx.h"
#include "platform/confined_opens.h"
#include "platform/missing_files.h"
#include "file_tree.h"
#include "temp_dir.h"

using portrix_test::Row;
using portrix_test::TempDir;

namespace {

// The existence test the control makes on each tick.
bool Opens(const std::string& windowsPath) {
    CFile file;
    CFileException error;
    if (file.Open(windowsPath.c_str(), CFile::modeRead | CFile::shareDenyWrite, &error))
        return true;
    EXPECT_EQ(error.m_lOsError, ERROR_FILE_NOT_FOUND) << windowsPath;
    return false;
}

// The search the control makes for a stored picture's times.
bool Finds(const std::string& windowsPath) {
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA(windowsPath.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

void MakeDirectory(const std::string& path) {
    ASSERT_EQ(mkdir(path.c_str(), 0777), 0) << path;
}

// Mounts made from here on stay in this process (a mount namespace of its own, nothing
// propagated): false where the process may not have one.
bool MountsStayHere() {
    static const bool own =
        unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return own;
}

TEST(MissingFiles, AFileIsFoundByTheFirstOpenAfterItAppears) {
    struct Case {
        const char* how;
        bool remembered;  // the misses before it appears are answered from memory
        std::function<void(const TempDir&)> setUp;
        std::function<void(const TempDir&)> appear;
        std::function<void(const TempDir&)> cleanUp = nullptr;
        const char* path = "Avatar\\Body\\1.gif";
        bool confinable = true;  // below a confined folder a link is refused, not followed
    } cases[] = {
        /* 1 */ {"written in place", true, nullptr,
                 [](const TempDir& d) { d.Write("Avatar/Body/1.gif", "GIF89a"); }},
        /* 2 */
        {"renamed in from another directory", true,
         [](const TempDir& d) { d.Write("part", "GIF89a"); },
         [](const TempDir& d) {
             std::rename((d / "part").c_str(), (d / "Avatar/Body/1.gif").c_str());
         }},
        /* 3 */
        {"written under another letter case", true, nullptr,
         [](const TempDir& d) { d.Write("Avatar/Body/1.GIF", "GIF89a"); }},
        /* 4 */
        {"its directory made anew", true,
         [](const TempDir& d) {
             MakeDirectory(d / "Body.new");
             d.Write("Body.new/1.gif", "GIF89a");
         },
         [](const TempDir& d) {
             ASSERT_EQ(rmdir((d / "Avatar/Body").c_str()), 0);
             ASSERT_EQ(std::rename((d / "Body.new").c_str(), (d / "Avatar/Body").c_str()), 0);
         }},
        /* 5 */
        {"a directory above replaced", true,
         [](const TempDir& d) {
             MakeDirectory(d / "Avatar.new");
             MakeDirectory(d / "Avatar.new/Body");
             d.Write("Avatar.new/Body/1.gif", "GIF89a");
         },
         [](const TempDir& d) {
             ASSERT_EQ(std::rename((d / "Avatar").c_str(), (d / "Avatar.old").c_str()), 0);
             ASSERT_EQ(std::rename((d / "Avatar.new").c_str(), (d / "Avatar").c_str()), 0);
         }},
        /* 6 */
        {"another folder answers to a name written in another case", true, nullptr,
         [](const TempDir& d) {
             MakeDirectory(d / "AVATAR");  // before "Avatar" in byte order
             MakeDirectory(d / "AVATAR/Body");
             d.Write("AVATAR/Body/1.gif", "GIF89a");
         },
         nullptr, "avatar\\body\\1.gif"},
        /* 7 */
        {"a folder mounted over its directory (no event)", true,
         [](const TempDir& d) {
             MakeDirectory(d / "volume");
             d.Write("volume/1.gif", "GIF89a");
         },
         [](const TempDir& d) {
             ASSERT_EQ(mount((d / "volume").c_str(), (d / "Avatar/Body").c_str(), nullptr, MS_BIND,
                             nullptr),
                       0);
         },
         [](const TempDir& d) { umount2((d / "Avatar/Body").c_str(), MNT_DETACH); }},
        /* 8 */
        {"through a symbolic link (not watched)", false,
         [](const TempDir& d) {
             MakeDirectory(d / "real");
             ASSERT_EQ(rmdir((d / "Avatar/Body").c_str()), 0);
             ASSERT_EQ(symlink((d / "real").c_str(), (d / "Avatar/Body").c_str()), 0);
         },
         [](const TempDir& d) { d.Write("real/1.gif", "GIF89a"); }, nullptr, "Avatar\\Body\\1.gif",
         false},
        /* 9 */
        {"with the memo turned off", false,
         [](const TempDir&) { platform::SetMissingFileMemo(false); },
         [](const TempDir& d) { d.Write("Avatar/Body/1.gif", "GIF89a"); }},
    };
    // Below a confined folder the same answers come from the remembered folders' entries; the
    // confined folder is Avatar, so that row 5 replaces the folder held open.
    for (const bool confined : {false, true}) {
        int row = 0;
        for (const Case& c : cases) {
            SCOPED_TRACE(Row(++row) + (confined ? " confined: " : ": ") + c.how);
            if (confined && !c.confinable) continue;
            if (c.cleanUp && !MountsStayHere()) {
                std::printf("row %d skipped: no mount namespace of its own\n", row);
                continue;
            }
            platform::SetMissingFileMemo(false);  // forget the other rows
            platform::SetMissingFileMemo(true);
            TempDir dir;
            MakeDirectory(dir / "Avatar");
            if (confined) platform::ConfineOpensBelow((dir / "Avatar").c_str());
            MakeDirectory(dir / "Avatar/Body");
            if (c.setUp) c.setUp(dir);
            const std::string path = dir.path() + "\\" + c.path;
            EXPECT_FALSE(Opens(path));
            EXPECT_FALSE(Opens(path));
            EXPECT_FALSE(Finds(path));
            EXPECT_EQ(platform::RememberedMissingFiles(), c.remembered && !confined ? 1 : 0);
            EXPECT_EQ(platform::RememberedFolders(), c.remembered && confined ? 1 : 0);
            c.appear(dir);
            EXPECT_TRUE(Opens(path));
            EXPECT_TRUE(Finds(path));
            if (c.cleanUp) c.cleanUp(dir);
        }
    }
    platform::SetMissingFileMemo(true);
}

// A child shares the parent's inotify queue: its own misses must not take the parent's events.
TEST(MissingFiles, AForkedChildLeavesTheParentsEventsAlone) {
    TempDir dir;
    const std::string path = dir.path() + "\\1.gif";
    ASSERT_FALSE(Opens(path));
    ASSERT_EQ(platform::RememberedMissingFiles(), 1);
    dir.Write("1.gif", "GIF89a");  // the event waits in the queue
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CFile file;
        file.Open((dir.path() + "\\2.gif").c_str(), CFile::modeRead);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(Opens(path));
}

// Threads that poll while another makes the files: each poller sees its file once it exists.
TEST(MissingFiles, PollersOnSeveralThreadsSeeFilesMadeByAnother) {
    constexpr int kPollers = 4;
    TempDir dir;
    std::atomic<int> made{0};
    std::atomic<int> seenLate{0};
    std::thread pollers[kPollers];
    for (int i = 0; i < kPollers; ++i) {
        pollers[i] = std::thread([&, i] {
            const std::string path = dir.path() + "\\" + std::to_string(i) + ".gif";
            for (;;) {
                const bool madeBefore = made.load() > i;
                if (Opens(path)) return;
                if (madeBefore) ++seenLate;
            }
        });
    }
    for (int i = 0; i < kPollers; ++i) {
        dir.Write(std::to_string(i) + ".gif", "GIF89a");
        ++made;
    }
    for (std::thread& poller : pollers) poller.join();
    EXPECT_EQ(seenLate.load(), 0);
}

}  // namespace
