// The housekeeping sweep at load, each scenario in a fresh process. The probe's clock is moved
// instead of waiting: files are created now (their creation time is the file system's), and
// the load happens days later or earlier by the probe's clock (built for Windows, the files are
// made that much older instead: ProbeRunner.h). The time zone is 14 hours east of UTC, so that
// a creation time compared without conversion to local time shows.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iterator>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ProbeRunner.h"
#include "afx.h"
#include "file_seams.h"
#include "scoped_time_zone.h"
#include "sides.h"

using module_test::ProbeOptions;
using module_test::ProbeResult;
using module_test::Scenario;

namespace {

constexpr char kNoLinks[] =
    "Wine 8 makes no symbolic links (CreateSymbolicLinkW is a stub that makes nothing)";
constexpr long long kHour = 3600;
constexpr long long kDay = 24 * kHour;
const char* const kTimeZone = module_test::ProbeTimeZone("PRX-14");

// The second the module's clock reads (the system clock); time() may lag it by a tick near a
// second boundary, which would put a recorded time just past the window that brackets it.
long long NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Row(int n) {
    return "row " + std::to_string(n);
}

std::string LocalText(long long unixSeconds) {
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm local;
    localtime_r(&t, &local);
    char text[32];
    strftime(text, sizeof(text), "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

long long ParseLocal(const std::string& text) {
    struct tm local = {};
    std::istringstream in(text);
    in >> std::get_time(&local, "%Y/%m/%d %H:%M:%S");
    if (in.fail()) return -1;
    local.tm_isdst = -1;
    return static_cast<long long>(mktime(&local));
}

// A store under <scenario>/App with its tree made, and the hive pointing at it.
class Store {
public:
    Store() : m_install(m_scenario.dir() / "App") {
        m_scenario.WriteHive(&m_install);
        for (const char* directory : {"App", "App/Avatar", "App/Avatar/Body", "App/Avatar/Up",
                                      "App/Avatar/Face", "App/Avatar/Default", "App/Avatar/SNS"}) {
            std::filesystem::create_directory(m_scenario.dir() / directory);
        }
    }
    Scenario& scenario() { return m_scenario; }
    // A file of the store, by its path below the store root.
    void Put(const std::string& name) const {
        m_scenario.dir().Write("App/Avatar/" + name, "GIF89a");
    }
    bool Has(const std::string& name) const {
        return m_scenario.dir().Exists("App/Avatar/" + name);
    }
    void WriteConfig(const std::string& content) const {
        m_scenario.dir().Write("App/Avatar/config.ini", content);
    }
    std::string Config() const { return m_scenario.dir().Read("App/Avatar/config.ini"); }
    std::string Path(const std::string& name) const {
        return m_scenario.dir() / ("App/Avatar/" + name);
    }

    // Loads the module with the clock moved by offset seconds; the returned window holds the
    // probe's now.
    ProbeResult LoadAt(long long offset, long long* from = nullptr, long long* to = nullptr) {
        ProbeOptions options;
        options.clockOffsetSeconds = offset;
        if (kTimeZone) options.timeZone = kTimeZone;
        if (from) *from = ProbeNow(offset);
        ProbeResult result = m_scenario.Load(options);
        if (to) *to = ProbeNow(offset);
        return result;
    }
    // The probe's clock at a load offset seconds from now.
    static long long ProbeNow(long long offset) {
        return module_test::ProbeNow(NowSeconds(), offset);
    }

private:
    Scenario m_scenario;
    std::string m_install;
};

// A config.ini whose last sweep lies 30 days before a load offset seconds from now.
std::string LastSweepLongBeforeALoadAt(long long offset) {
    return "[SYSTEM]\r\nLASTDELETETIME=" + LocalText(Store::ProbeNow(offset) - 30 * kDay) + "\r\n";
}

class Housekeeping : public ::testing::Test {
    portrix_test::ScopedTimeZone m_zone{kTimeZone};
};

// The config.ini content with LASTDELETETIME holding a time in [from, to]; the time text is
// returned through text.
::testing::AssertionResult RecordsTimeIn(const std::string& content, long long from, long long to,
                                         std::string* text = nullptr) {
    std::smatch match;
    if (!std::regex_search(
            content, match,
            std::regex("LASTDELETETIME=(\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d)\r\n"))) {
        return ::testing::AssertionFailure() << "no LASTDELETETIME in " << content;
    }
    const long long recorded = ParseLocal(match[1]);
    if (text) *text = match[1];
    if (recorded < from || recorded > to) {
        return ::testing::AssertionFailure()
               << match[1] << " is not between " << LocalText(from) << " and " << LocalText(to);
    }
    return ::testing::AssertionSuccess();
}

// What stands at config.ini's name but is no file of the store counts as missing and makes way
// for a regular file: a pipe (no writer: an open that waits would wait for good), or a link to
// a file elsewhere, which is not read (its old time would make a sweep run).
TEST_F(Housekeeping, FirstLoadCreatesConfigAndSweepsNothing) {
    enum { kNothing = 1, kPipe, kLink };  // the rows
    for (const int there : {kNothing, kPipe, kLink}) {
        if ((there == kPipe &&
             !portrix_test::LayerOnly(Row(there), "Windows keeps named pipes out of folders")) ||
            (there == kLink && !portrix_test::LayerOnly(Row(there), kNoLinks))) {
            continue;
        }
        Store store;
        store.Put("Body/10001.gif");
        const std::string config = store.Path("config.ini");
        if (there == kPipe) {
            ASSERT_TRUE(portrix_test::MakeNamedPipe(config));
        } else if (there == kLink) {
            const std::string outside = store.scenario().dir().Write(
                "outside.ini",
                "[SYSTEM]\r\nLASTDELETETIME=" + LocalText(Store::ProbeNow(0) - 10 * kDay) + "\r\n");
            ASSERT_TRUE(portrix_test::MakeSymbolicLink(outside, config));
        }
        long long from = 0, to = 0;
        const ProbeResult result = store.LoadAt(20 * kDay, &from, &to);
        ASSERT_TRUE(result.loaded) << result.output;
        std::string recorded;
        EXPECT_TRUE(RecordsTimeIn(store.Config(), from, to, &recorded)) << "row " << there;
        EXPECT_EQ(store.Config(), "[SYSTEM]\r\nLASTDELETETIME=" + recorded + "\r\n");
        EXPECT_TRUE(store.Has("Body/10001.gif")) << "row " << there;
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(config)))
            << "row " << there;
    }
}

TEST_F(Housekeeping, WhenTheLastSweepIsFarEnoughAway) {
    // The probe's clock runs 20 days ahead, so every file of the store is old enough to go
    // whenever a sweep runs. LASTDELETETIME is set relative to that clock.
    const long long offset = 20 * kDay;
    struct Case {
        const char* what;
        long long lastSweepFromNow;  // seconds; ignored when text is given
        const char* text;            // the value as written, or null for a time
        bool sweeps;
    } cases[] = {
        /* 1 */ {"10 days 23 hours ago", -(10 * kDay + 23 * kHour), nullptr, false},
        /* 2 */ {"11 days ago", -11 * kDay, nullptr, true},
        /* 3 */ {"a year ago", -365 * kDay, nullptr, true},
        /* 4 */ {"10 days 23 hours ahead", 10 * kDay + 23 * kHour, nullptr, false},
        /* 5 */ {"11 days ahead (the clock was set back)", 11 * kDay + 60, nullptr, true},
        /* 6 */ {"empty", 0, "", false},
        /* 7 */ {"unreadable", 0, "last tuesday", false},
        /* 8 */ {"day and month out of range", 0, "2004/13/45 09:05:00", false},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        Store store;
        store.Put("Body/10001.gif");
        const std::string value =
            c.text ? std::string(c.text) : LocalText(Store::ProbeNow(offset) + c.lastSweepFromNow);
        const std::string config =
            "[Other]\r\nKeep=1\r\n[SYSTEM]\r\nColor=blue\r\nLASTDELETETIME=" + value +
            "\r\nSize=9\r\n";
        store.WriteConfig(config);
        long long from = 0, to = 0;
        const ProbeResult result = store.LoadAt(offset, &from, &to);
        ASSERT_TRUE(result.loaded) << Row(row) << result.output;
        EXPECT_NE(store.Has("Body/10001.gif"), c.sweeps) << Row(row) << ": " << c.what;
        if (!c.sweeps) {
            EXPECT_EQ(store.Config(), config) << Row(row) << ": " << c.what;
            continue;
        }
        std::string recorded;
        EXPECT_TRUE(RecordsTimeIn(store.Config(), from, to, &recorded)) << Row(row);
        EXPECT_EQ(store.Config(), "[Other]\r\nKeep=1\r\n[SYSTEM]\r\nColor=blue\r\nLASTDELETETIME=" +
                                      recorded + "\r\nSize=9\r\n")
            << Row(row);
    }
}

TEST_F(Housekeeping, AgeOfAFileCountsInWholeDaysEitherWay) {
    // The files are created now; the load happens offset seconds away by the probe's clock.
    struct Case {
        const char* what;
        long long offset;
        bool deleted;
    } cases[] = {
        /* 1 */ {"created 10.9 days ago", static_cast<long long>(10.9 * kDay), false},
        /* 2 */ {"created 11 days ago", 11 * kDay, true},
        // A minute more, so that the seconds between creating the file and loading the module
        // cannot bring the difference under 11 days.
        /* 3 */ {"created 11 days in the future", -(11 * kDay + 60), true},
        /* 4 */ {"created 10.9 days in the future", -static_cast<long long>(10.9 * kDay), false},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        Store store;
        store.Put("Body/10001.gif");
        store.Put("SNS/10001.txt");
        store.WriteConfig("[SYSTEM]\r\nLASTDELETETIME=" +
                          LocalText(Store::ProbeNow(c.offset) - 30 * kDay) + "\r\n");
        const ProbeResult result = store.LoadAt(c.offset);
        ASSERT_TRUE(result.loaded) << Row(row) << result.output;
        EXPECT_NE(store.Has("Body/10001.gif"), c.deleted) << Row(row) << ": " << c.what;
        EXPECT_NE(store.Has("SNS/10001.txt"), c.deleted) << Row(row) << ": " << c.what;
    }
}

TEST_F(Housekeeping, CreationTimeCountsNotTheLastWrite) {
    struct Case {
        const char* what;
        long long offset;     // the load, from the files' creation
        long long lastWrite;  // the last write, from the load
        bool deleted;
    } cases[] = {
        /* 1 */ {"created 20 days ago, written an hour ago", 20 * kDay, -kHour, true},
        /* 2 */ {"created 5 days ago, written 20 days ago", 5 * kDay, -20 * kDay, false},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        if (!portrix_test::NotUnderWine(Row(row),
                                        "Wine on Linux keeps no creation time: it "
                                        "reports the last write time in its place")) {
            continue;
        }
        Store store;
        store.Put("Face/10001.gif");
        ASSERT_TRUE(portrix_test::SetLastWriteTime(store.Path("Face/10001.gif"),
                                                   Store::ProbeNow(c.offset) + c.lastWrite));
        store.WriteConfig("[SYSTEM]\r\nLASTDELETETIME=" +
                          LocalText(Store::ProbeNow(c.offset) - 30 * kDay) + "\r\n");
        ASSERT_TRUE(store.LoadAt(c.offset).loaded) << Row(row);
        EXPECT_NE(store.Has("Face/10001.gif"), c.deleted) << Row(row) << ": " << c.what;
    }
}

TEST_F(Housekeeping, OnlyPicturesAndVersionFilesGo) {
    Store store;
    // A picture's validators and old copy set aside, kept beside it by the download library,
    // go with the picture, and only with it.
    const std::vector<std::string> going = {"Body/1.gif",
                                            "Up/2.GIF",
                                            "Face/3_bs.gif",
                                            "SNS/10001.txt",
                                            "Body/.nimbrel.1.gif.validators",
                                            "Up/.nimbrel.2.GIF.old"};
    const std::vector<std::string> staying = {"Default/man1.gif",
                                              "Default/x.txt",
                                              "Body/1.png",
                                              "Body/1.gif.part",
                                              "Up/2.txt",
                                              "SNS/10001.gif",
                                              "Face/readonly.gif",
                                              "other.gif",
                                              "Face/.nimbrel.readonly.gif.validators",
                                              "Up/.nimbrel.5.gif.validators",
                                              "Up/.nimbrel.5.gif.old"};
    for (const auto& name : going) store.Put(name);
    for (const auto& name : staying) store.Put(name);
    std::filesystem::permissions(store.Path("Face/readonly.gif"),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    ASSERT_TRUE(std::filesystem::create_directory(store.Path("Body/folder.gif")));
    store.WriteConfig(LastSweepLongBeforeALoadAt(20 * kDay));
    ASSERT_TRUE(store.LoadAt(20 * kDay).loaded);
    for (const auto& name : going) EXPECT_FALSE(store.Has(name)) << name;
    for (const auto& name : staying) EXPECT_TRUE(store.Has(name)) << name;
    EXPECT_TRUE(store.Has("Body/folder.gif"));
    EXPECT_TRUE(store.Has("config.ini"));
}

TEST_F(Housekeeping, EmptyStoreRootTouchesNothing) {
    Store store;
    store.scenario().WriteHive(nullptr);  // the key, without its Path value
    store.Put("Body/1.gif");
    const ProbeResult result = store.LoadAt(20 * kDay);
    ASSERT_TRUE(result.loaded) << result.output;
    EXPECT_EQ(result.storeRoot, "");
    EXPECT_TRUE(store.Has("Body/1.gif"));
    EXPECT_FALSE(store.Has("config.ini"));
    EXPECT_FALSE(store.scenario().dir().Exists("config.ini"));  // the probe's working directory
}

TEST_F(Housekeeping, ConfigHeldByAnotherProcessCountsAsMissing) {
    Store store;
    store.Put("Body/1.gif");
    const std::string config = LastSweepLongBeforeALoadAt(20 * kDay);
    store.WriteConfig(config);
    CFile holder;
    ASSERT_TRUE(
        holder.Open(store.Path("config.ini").c_str(), CFile::modeRead | CFile::shareExclusive));
    // Neither opened, nor re-created, nor written while held: nothing changes and nothing goes.
    ASSERT_TRUE(store.LoadAt(20 * kDay).loaded);
    // Nor when the existence test fails for want of a descriptor, which says nothing of the
    // file and leaves no way to look for its holders.
    if (portrix_test::LayerOnly("without descriptors",
                                "a Windows process has no descriptor limit to exhaust")) {
        ProbeOptions noDescriptors;
        noDescriptors.housekeepingWithoutDescriptors = true;
        ASSERT_TRUE(store.scenario().Load(noDescriptors).loaded);
        // Read while still held: the layer's share modes bind its file calls, not this read
        // (built for Windows they bind this process's reads too; the read after Close stays).
        EXPECT_EQ(store.Config(), config);
    }
    holder.Close();
    EXPECT_EQ(store.Config(), config);
    EXPECT_TRUE(store.Has("Body/1.gif"));
}

// A store directory or file replaced by a symbolic link is never followed out of the store:
// what the link points at stays, whatever its age. The links themselves are entries of the
// store and go by their own age.
TEST_F(Housekeeping, SymbolicLinksAreNotFollowed) {
    if (!portrix_test::LayerOnly("every row", kNoLinks)) return;
    Store store;
    const portrix_test::TempDir& dir = store.scenario().dir();
    for (const char* outside : {"Elsewhere", "Texts"})
        std::filesystem::create_directory(dir / outside);
    for (const char* file : {"Elsewhere/1.gif", "Elsewhere/2.gif", "Texts/1.txt", "target.gif"})
        dir.Write(file, "x");
    // Body and SNS become links to folders outside the store; Face holds a link to a file.
    for (const char* swept : {"Body", "SNS"})
        ASSERT_TRUE(std::filesystem::remove(store.Path(swept)));
    ASSERT_TRUE(portrix_test::MakeSymbolicLink(dir / "Elsewhere", store.Path("Body")));
    ASSERT_TRUE(portrix_test::MakeSymbolicLink(dir / "Texts", store.Path("SNS")));
    ASSERT_TRUE(portrix_test::MakeSymbolicLink(dir / "target.gif", store.Path("Face/link.gif")));
    store.Put("Up/1.gif");
    store.WriteConfig(LastSweepLongBeforeALoadAt(20 * kDay));
    ASSERT_TRUE(store.LoadAt(20 * kDay).loaded);
    for (const char* file : {"Elsewhere/1.gif", "Elsewhere/2.gif", "Texts/1.txt", "target.gif"}) {
        EXPECT_TRUE(dir.Exists(file)) << file;
    }
    EXPECT_FALSE(store.Has("Face/link.gif"));
    EXPECT_FALSE(store.Has("Up/1.gif"));
}

// Writes of config.ini and of the hive killed before their rename left temporary files beside
// them; a start removes those untouched for minutes, never one a writer still holds.
TEST_F(Housekeeping, TemporaryFilesOfWritesCutShortGo) {
    if (!portrix_test::LayerOnly("every row",
                                 "the system's profile and registry calls leave no "
                                 "temporary files behind to remove")) {
        return;
    }
    Store store;
    const portrix_test::TempDir& dir = store.scenario().dir();
    struct Case {
        std::string name;  // below the scenario's folder
        bool old;
        bool held;
        bool goes;
    } cases[] = {
        /* 1 */ {"App/Avatar/config.ini.a1B2c3", true, false, true},
        /* 2 */ {"hkcu.reg.Zz9Yy8", true, false, true},
        /* 3 */ {"App/Avatar/config.ini.fresh1", false, false, false},
        /* 4 */ {"App/Avatar/config.ini.held01", true, true, false},
        /* 5 */ {"App/Avatar/config.ini.bak", true, false, false},
        /* 6 */ {"App/Avatar/config.ini.1234567", true, false, false},
    };
    std::vector<std::unique_ptr<portrix_test::HeldFile>> writers;
    for (const Case& c : cases) {
        const std::string path = dir.Write(c.name, "[SYSTEM]\r\n");
        if (c.old) {
            ASSERT_TRUE(portrix_test::SetLastWriteTime(path, NowSeconds() - 600));
        }
        if (c.held) {
            writers.push_back(std::make_unique<portrix_test::HeldFile>(path));
            ASSERT_TRUE(writers.back()->held());
        }
    }
    ASSERT_TRUE(store.LoadAt(0).loaded);
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        EXPECT_NE(dir.Exists(c.name), c.goes) << Row(row) << ": " << c.name;
    }
}

// A first start on a full disk: config.ini cannot be written. It must not be left empty (which
// would turn the sweep off for good) but missing, so that the next start writes it. A due
// sweep whose new time cannot be written leaves the old file as it was.
TEST_F(Housekeeping, AWriteThatFailsLeavesNoDamagedConfig) {
    if (!portrix_test::LayerOnly("every row",
                                 "Windows has no file size limit of a process to "
                                 "stand for a full disk")) {
        return;
    }
    Store store;
    store.Put("Body/1.gif");
    ProbeOptions fullDisk;
    fullDisk.fileSizeLimit = 0;
    fullDisk.timeZone = kTimeZone;
    ASSERT_TRUE(store.scenario().Load(fullDisk).loaded);
    EXPECT_FALSE(store.Has("config.ini")) << "[" << store.Config() << "]";
    long long from = 0, to = 0;
    ASSERT_TRUE(store.LoadAt(0, &from, &to).loaded);
    EXPECT_TRUE(RecordsTimeIn(store.Config(), from, to));

    const std::string config = LastSweepLongBeforeALoadAt(20 * kDay);
    store.WriteConfig(config);
    fullDisk.clockOffsetSeconds = 20 * kDay;
    ASSERT_TRUE(store.scenario().Load(fullDisk).loaded);
    EXPECT_FALSE(store.Has("Body/1.gif")) << "the sweep was due";
    EXPECT_EQ(store.Config(), config);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(store.Path("")), {}), 6)
        << "config.ini and the five directories, no temporary file";
}

}  // namespace
