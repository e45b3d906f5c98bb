// Private-profile writes that cannot complete (the disk is full: here, a file-size limit of
// this process) leave the file as it was, or absent when it was absent: never empty or cut.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <string>

#include "temp_dir.h"
#include "windows.h"

using portrix_test::TempDir;

namespace {

// While it lives, no file of this process may grow beyond the given size: writes past it fail
// with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {bytes, m_previous.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    struct rlimit m_previous = {};
    void (*m_previousHandler)(int) = SIG_DFL;
};

size_t EntriesIn(const TempDir& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

TEST(ProfileFullDisk, AFailedWriteLeavesTheFileAsItWas) {
    const std::string original =
        "[SYSTEM]\r\nLASTDELETETIME=2004/03/07 09:05:00\r\n[Other]\r\nKeep=1\r\n";
    struct Case {
        const char* what;
        bool exists;   // config.ini is there before the write
        rlim_t limit;  // bytes a file may grow to
        bool section;  // WritePrivateProfileSectionA rather than WritePrivateProfileStringA
    } cases[] = {
        /* 1 */ {"new file, nothing may be written", false, 0, false},
        /* 2 */ {"new file, section", false, 0, true},
        /* 3 */ {"existing file, nothing may be written", true, 0, false},
        /* 4 */ {"existing file, cut after 20 bytes", true, 20, false},
        /* 5 */ {"existing file, section cut after 20 bytes", true, 20, true},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        TempDir dir;
        if (c.exists) dir.Write("config.ini", original);
        const std::string file = dir / "config.ini";
        BOOL written = TRUE;
        {
            FileSizeLimit fullDisk(c.limit);
            written = c.section
                          ? WritePrivateProfileSectionA(
                                "SYSTEM", "LASTDELETETIME=2026/12/08 10:00:00\0", file.c_str())
                          : WritePrivateProfileStringA("SYSTEM", "LASTDELETETIME",
                                                       "2026/12/08 10:00:00", file.c_str());
        }
        EXPECT_FALSE(written) << "row " << row << ": " << c.what;
        EXPECT_EQ(dir.Exists("config.ini"), c.exists) << "row " << row << ": " << c.what;
        if (c.exists) {
            EXPECT_EQ(dir.Read("config.ini"), original) << "row " << row;
        }
        EXPECT_EQ(EntriesIn(dir), c.exists ? 1u : 0u)
            << "row " << row << ": a temporary file is left";
    }
}

}  // namespace
