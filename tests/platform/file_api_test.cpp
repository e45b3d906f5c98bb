// The files family where the original's answers come from the system beneath MFC: directories,
// attributes and deletion, the share-mode rule within one process, and what a search finds.
// CFile and CFileFind hand their opens and searches to CreateFileA and FindFirstFileA; built
// for Windows, where MFC is not at hand, the rows make those calls with the access and sharing
// that CFile passes, so the same rows hold on both sides.
// ctest-labels: win32
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "sides.h"
#include "file_tree.h"
#include "temp_dir.h"
#include "windows.h"
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "afx.h"
#endif

using portrix_test::MakeTree;
using portrix_test::Row;
using portrix_test::TempDir;
using portrix_test::Win;

namespace {

// Takes write permission away (on Windows: the read-only attribute).
void MakeReadOnly(const std::string& path) {
    using std::filesystem::perms;
    std::filesystem::permissions(path,
                                 perms::owner_write | perms::group_write | perms::others_write,
                                 std::filesystem::perm_options::remove);
}

// CFile's open flags, by their values.
constexpr UINT kRead = 0x0000, kWrite = 0x0001, kReadWrite = 0x0002;
constexpr UINT kShareCompat = 0x0000, kShareExclusive = 0x0010, kShareDenyWrite = 0x0020,
               kShareDenyRead = 0x0030, kShareDenyNone = 0x0040;
constexpr UINT kCreate = 0x1000;
#ifndef _WIN32
static_assert(kWrite == UINT{CFile::modeWrite} && kReadWrite == UINT{CFile::modeReadWrite} &&
                  kShareExclusive == UINT{CFile::shareExclusive} &&
                  kShareDenyWrite == UINT{CFile::shareDenyWrite} &&
                  kShareDenyRead == UINT{CFile::shareDenyRead} &&
                  kShareDenyNone == UINT{CFile::shareDenyNone} &&
                  kCreate == UINT{CFile::modeCreate},
              "the flags are CFile's");
#endif

// One open of a file, held until destruction: on the layer a CFile, built for Windows the
// CreateFileA call that CFile::Open makes for the flags (compatibility sharing taken as
// exclusive, a create truncating).
class HeldOpen {
public:
    HeldOpen(const std::string& path, UINT flags) {
#ifdef _WIN32
        const DWORD access[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
        const DWORD sharing[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE};
        m_handle = CreateFileA(path.c_str(), access[flags & 3], sharing[(flags & 0x70) >> 4],
                               nullptr, (flags & kCreate) ? CREATE_ALWAYS : OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        m_error = m_handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
#else
        CFileException error;
        m_error = m_file.Open(path.c_str(), flags, &error) ? ERROR_SUCCESS
                                                           : static_cast<DWORD>(error.m_lOsError);
#endif
    }
    ~HeldOpen() {
        Close();
    }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

    bool granted() const {
        return m_error == ERROR_SUCCESS;
    }
    DWORD error() const {
        return m_error;
    }
    void Close() {
#ifdef _WIN32
        if (m_handle != INVALID_HANDLE_VALUE) CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
#else
        if (m_file.m_hFile != static_cast<UINT>(CFile::hFileNull)) m_file.Close();
#endif
    }

private:
    DWORD m_error = ERROR_SUCCESS;
#ifdef _WIN32
    HANDLE m_handle = INVALID_HANDLE_VALUE;
#else
    CFile m_file;
#endif
};

// ---- Directories, attributes, deletion -------------------------------------------------------

TEST(Directories, CreateOneLevel) {
    TempDir dir;
    dir.Write("file", "x");
    struct Case {
        std::string path;
        BOOL result;
        DWORD error;
    } cases[] = {
        /* 1 */ {Win(dir, "Avatar"), TRUE, 0},
        /* 2 */ {Win(dir, "avatar"), FALSE, ERROR_ALREADY_EXISTS},
        /* 3 */ {Win(dir, "AVATAR\\Body\\"), TRUE, 0},
        /* 4 */ {Win(dir, "missing\\Body"), FALSE, ERROR_PATH_NOT_FOUND},
        /* 5 */ {Win(dir, "file"), FALSE, ERROR_ALREADY_EXISTS},
        /* 6 */ {Win(dir, "file\\sub"), FALSE, ERROR_PATH_NOT_FOUND},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        SetLastError(0);
        EXPECT_EQ(CreateDirectoryA(c.path.c_str(), nullptr), c.result) << Row(row);
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error) << Row(row);
        }
    }
    EXPECT_TRUE(dir.Exists("Avatar/Body"));
}

TEST(Directories, Attributes) {
    TempDir dir;
    MakeTree(dir);
    MakeReadOnly(dir.Write("readonly.txt", "x"));
    struct Case {
        std::string path;
        DWORD attributes;  // FILE_ATTRIBUTE_NORMAL: no attribute but the archive bit
        DWORD error;
    } cases[] = {
        /* 1 */ {Win(dir, "avatar"), FILE_ATTRIBUTE_DIRECTORY, 0},
        /* 2 */ {Win(dir, "Avatar\\Body\\10001.GIF"), FILE_ATTRIBUTE_NORMAL, 0},
        /* 3 */ {Win(dir, "readonly.txt"), FILE_ATTRIBUTE_READONLY, 0},
        /* 4 */ {Win(dir, "Avatar\\nothing.gif"), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        /* 5 */ {Win(dir, "nothing\\x.gif"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        DWORD attributes = GetFileAttributesA(c.path.c_str());
        // A new file carries the archive bit on the original; the layer keeps no such bit.
        if (attributes != INVALID_FILE_ATTRIBUTES) attributes &= ~DWORD{FILE_ATTRIBUTE_ARCHIVE};
        if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
        EXPECT_EQ(attributes, c.attributes) << Row(row);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error) << Row(row);
        }
        // The same answer, with the times and size a directory search gives.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const BOOL found = GetFileAttributesExA(c.path.c_str(), GetFileExInfoStandard, &data);
        ASSERT_EQ(found != FALSE, c.error == 0) << Row(row);
        if (!found) {
            EXPECT_EQ(GetLastError(), c.error) << Row(row);
            continue;
        }
        attributes = data.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_ARCHIVE};
        EXPECT_EQ(attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, c.attributes) << Row(row);
        WIN32_FIND_DATAA searched{};
        const HANDLE find = FindFirstFileA(c.path.c_str(), &searched);
        ASSERT_NE(find, INVALID_HANDLE_VALUE) << Row(row);
        FindClose(find);
        EXPECT_EQ(std::memcmp(&data.ftLastWriteTime, &searched.ftLastWriteTime, sizeof(FILETIME)),
                  0)
            << Row(row);
        EXPECT_EQ(std::memcmp(&data.ftCreationTime, &searched.ftCreationTime, sizeof(FILETIME)), 0)
            << Row(row);
        EXPECT_EQ(data.nFileSizeLow, searched.nFileSizeLow) << Row(row);
    }
    // A file that a failed open left remembered as missing is found as soon as it appears.
    const std::string later = Win(dir, "Avatar\\Body\\later.gif");
#ifndef _WIN32
    CFile open;
    EXPECT_FALSE(open.Open(later.c_str(), CFile::modeRead | CFile::shareDenyWrite));
#endif
    WIN32_FILE_ATTRIBUTE_DATA data{};
    EXPECT_FALSE(GetFileAttributesExA(later.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    dir.Write("Avatar/Body/later.gif", "GIF89a");
    ASSERT_TRUE(GetFileAttributesExA(later.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 6u);
}

TEST(Directories, Deletion) {
    TempDir dir;
    MakeTree(dir);
    MakeReadOnly(dir.Write("readonly.txt", "x"));
    struct Case {
        std::string path;
        BOOL result;
        DWORD error;
    } cases[] = {
        /* 1 */ {Win(dir, "AVATAR\\body\\10001.gif"), TRUE, 0},
        /* 2 */ {Win(dir, "Avatar\\Body\\10001.gif"), FALSE, ERROR_FILE_NOT_FOUND},
        /* 3 */ {Win(dir, "Avatar\\Default"), FALSE, ERROR_ACCESS_DENIED},
        /* 4 */ {Win(dir, "readonly.txt"), FALSE, ERROR_ACCESS_DENIED},
        /* 5 */ {Win(dir, "none\\x.gif"), FALSE, ERROR_PATH_NOT_FOUND},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        EXPECT_EQ(DeleteFileA(c.path.c_str()), c.result) << Row(row);
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error) << Row(row);
        }
    }
    EXPECT_FALSE(dir.Exists("Avatar/Body/10001.gif"));
    EXPECT_TRUE(dir.Exists("readonly.txt"));
}

TEST(Directories, AnOpenFileCannotBeDeletedUntilClosed) {
    TempDir dir;
    const std::string path = dir.Write("held.gif", "GIF89a");
    for (UINT share : {kShareDenyNone, kShareDenyWrite, kShareExclusive}) {
        HeldOpen file(path, kRead | share);
        ASSERT_TRUE(file.granted());
        EXPECT_FALSE(DeleteFileA(path.c_str())) << "share " << share;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

// ---- Share modes -----------------------------------------------------------------------------

struct OpenMode {
    std::string name;
    UINT flags;
    bool reads, writes;        // what the open does
    bool letsRead, letsWrite;  // what it lets others do
};

std::vector<OpenMode> AllModes() {
    const OpenMode accesses[] = {
        {"read", kRead, true, false, false, false},
        {"write", kWrite, false, true, false, false},
        {"readwrite", kReadWrite, true, true, false, false},
    };
    const OpenMode shares[] = {
        {"exclusive", kShareExclusive, false, false, false, false},
        {"compat", kShareCompat, false, false, false, false},
        {"denywrite", kShareDenyWrite, false, false, true, false},
        {"denyread", kShareDenyRead, false, false, false, true},
        {"denynone", kShareDenyNone, false, false, true, true},
    };
    std::vector<OpenMode> modes;
    for (const OpenMode& access : accesses) {
        for (const OpenMode& share : shares) {
            modes.push_back({access.name + "+" + share.name, access.flags | share.flags,
                             access.reads, access.writes, share.letsRead, share.letsWrite});
        }
    }
    return modes;
}

// The original platform's rule: the second open is granted when the first's sharing allows the
// second's access and the second's sharing allows the first's access.
bool Compatible(const OpenMode& held, const OpenMode& next) {
    return (!next.reads || held.letsRead) && (!next.writes || held.letsWrite) &&
           (!held.reads || next.letsRead) && (!held.writes || next.letsWrite);
}

TEST(ShareModes, FullMatrixWithinOneProcess) {
    TempDir dir;
    const std::string path = dir.Write("shared.gif", "GIF89a");
    const std::vector<OpenMode> modes = AllModes();
    int row = 0;
    for (const OpenMode& held : modes) {
        HeldOpen first(path, held.flags);
        ASSERT_TRUE(first.granted()) << held.name;
        for (const OpenMode& next : modes) {
            ++row;
            HeldOpen second(path, next.flags);
            EXPECT_EQ(second.granted(), Compatible(held, next))
                << Row(row) << ": " << next.name << " while " << held.name << " is held";
            if (!second.granted()) {
                EXPECT_EQ(second.error(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << Row(row);
            }
        }
    }
    EXPECT_EQ(dir.Read("shared.gif"), "GIF89a");
}

TEST(ShareModes, RefusedCreateLeavesTheContent) {
    TempDir dir;
    const std::string path = dir.Write("pic.gif", "GIF89a");
    HeldOpen reader(path, kRead | kShareDenyWrite);
    ASSERT_TRUE(reader.granted());
    HeldOpen writer(path, kCreate | kWrite | kShareExclusive);
    EXPECT_FALSE(writer.granted());
    EXPECT_EQ(dir.Read("pic.gif"), "GIF89a");
}

TEST(ShareModes, ClosingOneOpenReleasesOnlyIts) {
    TempDir dir;
    const std::string path = dir.Write("pic.gif", "x");
    HeldOpen a(path, kRead | kShareDenyWrite), b(path, kRead | kShareDenyWrite);
    ASSERT_TRUE(a.granted() && b.granted());
    a.Close();
    EXPECT_FALSE(HeldOpen(path, kWrite | kShareDenyNone).granted());
    b.Close();
    EXPECT_TRUE(HeldOpen(path, kWrite | kShareDenyNone).granted());
}

TEST(ShareModes, AProfileHeldWithoutWriteSharingIsNotWritten) {
    TempDir dir;
    const std::string file = dir.Write("held.ini", "[S]\r\nk=old\r\n");
    {
        HeldOpen holder(file, kRead | kShareDenyWrite);
        ASSERT_TRUE(holder.granted());
        EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "new", file.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(dir.Read("held.ini"), "[S]\r\nk=old\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("S", "k", "new", file.c_str()));
}

#ifndef _WIN32  // the other process is a fork of this one

// A second process holding the file open with the given flags, until Release or its end.
class Holder {
public:
    Holder(const std::string& path, UINT flags) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            close(release[1]);
            CFile file;
            const char status = file.Open(path.c_str(), flags) ? 'y' : 'n';
            (void)!write(ready[1], &status, 1);
            char ignored;
            (void)!read(release[0], &ignored, 1);  // returns when the parent closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char status = 'n';
        m_opened = read(ready[0], &status, 1) == 1 && status == 'y';
        close(ready[0]);
    }
    ~Holder() { Release(); }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    bool opened() const { return m_opened; }
    void Kill() {
        if (m_pid > 0) kill(m_pid, SIGKILL);
        Release();
    }
    void Release() {
        if (m_release >= 0) close(m_release);
        m_release = -1;
        if (m_pid > 0) waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_opened = false;
};

TEST(ShareModes, FullMatrixAcrossTwoProcesses) {
    TempDir dir;
    const std::string path = dir.Write("shared.gif", "GIF89a");
    const std::vector<OpenMode> modes = AllModes();
    int row = 0;
    for (const OpenMode& held : modes) {
        Holder holder(path, held.flags);
        ASSERT_TRUE(holder.opened()) << held.name;
        for (const OpenMode& next : modes) {
            ++row;
            CFile second;
            EXPECT_EQ(static_cast<bool>(second.Open(path.c_str(), next.flags)),
                      Compatible(held, next))
                << Row(row) << ": " << next.name << " while another process holds " << held.name;
        }
    }
}

TEST(ShareModes, AProcessThatDiesReleasesItsOpens) {
    TempDir dir;
    const std::string path = dir.Write("pic.gif", "x");
    Holder holder(path, CFile::modeWrite | CFile::shareExclusive);
    ASSERT_TRUE(holder.opened());
    CFile probe;
    EXPECT_FALSE(probe.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
    holder.Kill();
    EXPECT_TRUE(probe.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite));
}

#endif  // !_WIN32

// ---- Searches --------------------------------------------------------------------------------

// What a search finds, directories marked with a trailing '/': on the layer through CFileFind,
// built for Windows through FindFirstFileA and FindNextFileA, which CFileFind calls.
std::multiset<std::string> FindAll(const std::string& pattern) {
    std::multiset<std::string> names;
#ifdef _WIN32
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        names.insert(std::string(data.cFileName) + (directory ? "/" : ""));
    } while (FindNextFileA(search, &data));
    FindClose(search);
#else
    CFileFind finder;
    BOOL more = finder.FindFile(pattern.c_str());
    while (more) {
        more = finder.FindNextFile();
        names.insert(std::string(finder.GetFileName()) + (finder.IsDirectory() ? "/" : ""));
    }
#endif
    return names;
}

TEST(FileFind, PatternsAndExactNames) {
    TempDir dir;
    MakeTree(dir);
    dir.Write("Avatar/Body/20002_S.GIF", "x");
    dir.Write("Avatar/Body/30003.txt", "x");
    ASSERT_TRUE(std::filesystem::create_directory(dir / "Avatar/Body/dir.gif"));
    using Set = std::multiset<std::string>;
    struct Case {
        std::string pattern;
        Set names;
    } cases[] = {
        /* 1 */ {Win(dir, "avatar\\body\\*.gif"), Set{"10001.gif", "20002_S.GIF", "dir.gif/"}},
        /* 2 */ {Win(dir, "Avatar\\Body\\*.TXT"), Set{"30003.txt"}},
        /* 3 */ {Win(dir, "Avatar\\Body\\?????.*"), Set{"10001.gif", "30003.txt"}},
        /* 4 */
        {Win(dir, "Avatar\\Body\\*.*"),
         Set{"./", "../", "10001.gif", "20002_S.GIF", "30003.txt", "dir.gif/"}},
        /* 5 */ {Win(dir, "Avatar\\Body\\10001.GIF"), Set{"10001.gif"}},
        /* 6 */ {Win(dir, "AVATAR\\default"), Set{"Default/"}},
        /* 7 */ {Win(dir, "Avatar\\Body\\*.png"), Set{}},
        /* 8 */ {Win(dir, "Avatar\\Up\\*.gif"), Set{}},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        EXPECT_EQ(FindAll(c.pattern), c.names) << Row(row) << ": " << c.pattern;
    }
}

}  // namespace
