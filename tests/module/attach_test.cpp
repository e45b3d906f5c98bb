// The module's attach sequence, each scenario in a fresh process that loads the module: the
// store root and tree, the two registry failure boxes, the 512-byte limit of the install path,
// and the load and unload order.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "ProbeRunner.h"
#include "sides.h"
#include "windows.h"

using module_test::ProbeOptions;
using module_test::ProbeResult;
using module_test::Scenario;

namespace {

const char kOpenKeyBox[] = "Open Reg Key Fail!\nHKEY_CURRENT_USER\\Software\\szDomain\\Share";
const char kReadValueBox[] =
    "Read Reg Key Fail!\nHKEY_CURRENT_USER\\Software\\szDomain\\Share\\Path";
const char* const kTree[] = {"App/Avatar",      "App/Avatar/Body",    "App/Avatar/Up",
                             "App/Avatar/Face", "App/Avatar/Default", "App/Avatar/SNS"};

bool IsDirectory(const std::string& path) {
    return std::filesystem::is_directory(path);
}

bool MakeDirectory(const std::string& path) {
    return std::filesystem::create_directory(path);
}

// Every entry below dir with its size and modification time, to tell whether a load changed it.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        std::error_code noSize;  // a directory has none
        entries[entry.path().string()] =
            std::to_string(std::filesystem::file_size(entry.path(), noSize)) + "@" +
            std::to_string(entry.last_write_time().time_since_epoch().count());
    }
    return entries;
}

// The diagnostic line names the hive file that was read, where there is one.
void ExpectNamesTheHive(const ProbeResult& result, const Scenario& scenario, int row) {
    if (!portrix_test::LayerOnly("row " + std::to_string(row) + " names the hive file",
                                 "the system's registry has no file behind it to name")) {
        return;
    }
    EXPECT_NE(result.diagnostics.find(scenario.dir() / "hkcu.reg"), std::string::npos)
        << "row " << row << ": " << result.diagnostics;
}

TEST(Attach, StoreTreeUnderTheInstallPath) {
    Scenario scenario;
    const std::string install = scenario.dir() / "App";
    ASSERT_TRUE(MakeDirectory(install));
    scenario.WriteHive(&install);
    const ProbeResult result = scenario.Load();
    ASSERT_TRUE(result.ran) << result.output;
    EXPECT_TRUE(result.loaded);
    EXPECT_TRUE(result.boxes.empty()) << result.output;
    EXPECT_EQ(result.storeRoot, install + "\\Avatar\\");
    for (const char* directory : kTree)
        EXPECT_TRUE(IsDirectory(scenario.dir() / directory)) << directory;
    EXPECT_TRUE(scenario.dir().Exists("App/Avatar/config.ini"));
}

TEST(Attach, SecondLoadShowsNothingAndChangesNothing) {
    Scenario scenario;
    const std::string install = scenario.dir() / "App";
    ASSERT_TRUE(MakeDirectory(install));
    scenario.WriteHive(&install);
    ASSERT_TRUE(scenario.Load().loaded);
    const auto before = Snapshot(install);
    const ProbeResult second = scenario.Load();
    EXPECT_TRUE(second.loaded);
    EXPECT_TRUE(second.boxes.empty()) << second.output;
    EXPECT_EQ(Snapshot(install), before);
}

TEST(Attach, RegistryFailuresShowTheirBoxOnceAndLeaveNoStore) {
    struct Case {
        const char* what;
        std::string hive;  // empty: no hive file at all
        const char* box;
    } cases[] = {
        /* 1 */ {"no hive", "", kOpenKeyBox},
        /* 2 */
        {"key missing",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\szDomain]\r\n\"Path\"=\"/x\"\r\n",
         kOpenKeyBox},
        /* 3 */
        {"value missing",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n\"path2\"=\"/x\"\r\n",
         kReadValueBox},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        Scenario scenario;
        if (!c.hive.empty()) scenario.WriteHiveText(c.hive);
        const ProbeResult result = scenario.Load();
        ASSERT_TRUE(result.ran) << "row " << row << result.output;
        EXPECT_TRUE(result.loaded) << "row " << row << ": " << c.what;
        ASSERT_EQ(result.boxes.size(), 1u) << "row " << row << ": " << result.output;
        EXPECT_EQ(result.boxes[0], c.box) << "row " << row;
        // The box stays as it is; a line of its own says which hive file was read.
        ExpectNamesTheHive(result, scenario, row);
        EXPECT_EQ(result.storeRoot, "") << "row " << row;
        // Nothing written anywhere: the working directory holds only what the test put there.
        EXPECT_FALSE(scenario.dir().Exists("config.ini")) << "row " << row;
        EXPECT_FALSE(scenario.dir().Exists("Avatar")) << "row " << row;
    }
}

TEST(Attach, InstallPathOf511CharactersIsUsedAnd512FailAsARead) {
    struct Case {
        size_t length;
        bool used;
    } cases[] = {{511, true}, {512, false}, {600, false}};
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        Scenario scenario;
        std::string install = scenario.dir() / "";
        install += std::string(c.length - install.size(), 'p');
        scenario.WriteHive(&install);
        const ProbeResult result = scenario.Load();
        ASSERT_TRUE(result.ran) << "row " << row;
        EXPECT_TRUE(result.loaded) << "row " << row;
        if (c.used) {
            EXPECT_TRUE(result.boxes.empty()) << "row " << row;
            EXPECT_EQ(result.storeRoot, install + "\\Avatar\\") << "row " << row;
        } else {
            EXPECT_EQ(result.boxes, std::vector<std::string>{kReadValueBox}) << "row " << row;
            EXPECT_EQ(result.storeRoot, "") << "row " << row;
        }
    }
}

// The hex form of a Path value: the scenario's directory as bytes, then the case's own bytes.
std::string PathData(const Scenario& scenario, const std::string& data) {
    std::string hex;
    for (unsigned char ch : scenario.dir().path()) {
        char byte[4];
        std::snprintf(byte, sizeof(byte), "%02x,", ch);
        hex += byte;
    }
    const size_t colon = data.find(':');
    return data.substr(0, colon + 1) + hex + data.substr(colon + 1);
}

void WritePathValue(const Scenario& scenario, const std::string& data) {
    scenario.WriteHiveText(
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\szDomain\\Share]\r\n\"Path\"=" + data + "\r\n");
}

TEST(Attach, ValueWithoutTerminator) {
    Scenario scenario;
    WritePathValue(scenario,
                   PathData(scenario, "hex(1):2f,41,42"));  // REG_SZ without its NUL: <dir>/AB
    const ProbeResult result = scenario.Load();
    EXPECT_TRUE(result.boxes.empty()) << result.output;
    EXPECT_EQ(result.storeRoot, scenario.dir().path() + "/AB\\Avatar\\");
}

// A Path that is empty, not a string, or not an absolute directory fails as a read: the box,
// no store, and a line that says what is wrong with the value.
TEST(Attach, PathThatNamesNoAbsoluteDirectoryFailsAsARead) {
    struct Case {
        const char* what;
        std::string
            data;  // REGEDIT4 data; a leading "hex...:" is followed by the scenario's directory
        const char* saying;
    } cases[] = {
        /* 1 */ {"empty", "\"\"", "empty"},
        /* 2 */ {"a number", "dword:00000001", "not a string"},
        /* 3 */ {"binary", "hex:2f,41,42,00", "not a string"},
        /* 4 */ {"a NUL inside the string", "hex(1):2f,41,00,42,00", "NUL"},
        /* 5 */ {"relative", "\"App\"", "absolute"},
        /* 6 */ {"drive-relative", "\"C:App\"", "absolute"},
        /* 7 */ {"a file, not a directory", "hex(1):2f,66,69,6c,65,00", "not a directory"},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        Scenario scenario;
        scenario.dir().Write("file", "x");
        WritePathValue(scenario, c.data.rfind("hex", 0) == 0 ? PathData(scenario, c.data) : c.data);
        const ProbeResult result = scenario.Load();
        ASSERT_TRUE(result.ran) << "row " << row << result.output;
        EXPECT_EQ(result.boxes, std::vector<std::string>{kReadValueBox})
            << "row " << row << ": " << c.what;
        EXPECT_EQ(result.storeRoot, "") << "row " << row << ": " << c.what;
        EXPECT_NE(result.diagnostics.find(c.saying), std::string::npos)
            << "row " << row << ": " << c.what << ": " << result.diagnostics;
        ExpectNamesTheHive(result, scenario, row);
    }
}

TEST(Attach, InstallPathThatDoesNotExist) {
    Scenario scenario;
    const std::string install = scenario.dir() / "missing/App";
    scenario.WriteHive(&install);
    const ProbeResult result = scenario.Load();
    EXPECT_TRUE(result.loaded);
    EXPECT_TRUE(result.boxes.empty()) << result.output;
    EXPECT_EQ(result.storeRoot, install + "\\Avatar\\");
    EXPECT_FALSE(scenario.dir().Exists("missing"));
}

TEST(Attach, InstallPathEndingInABackslash) {
    Scenario scenario;
    const std::string install = scenario.dir() / "App\\";
    ASSERT_TRUE(MakeDirectory(scenario.dir() / "App"));
    scenario.WriteHive(&install);
    const ProbeResult result = scenario.Load();
    EXPECT_TRUE(result.boxes.empty()) << result.output;
    EXPECT_EQ(result.storeRoot, install + "\\Avatar\\");  // the doubled backslash stays
    for (const char* directory : kTree)
        EXPECT_TRUE(IsDirectory(scenario.dir() / directory)) << directory;
}

TEST(Attach, LoadAndUnloadOrder) {
    Scenario scenario;
    const std::string install = scenario.dir() / "App";
    ASSERT_TRUE(MakeDirectory(install));
    scenario.WriteHive(&install);
    ProbeOptions options;
    options.unload = true;
    const ProbeResult result = scenario.Load(options);
    ASSERT_TRUE(result.ran) << result.output;
    // The raw entry ran before the module registered itself: the host's classes were parked
    // and given back, not adopted by the module.
    EXPECT_TRUE(result.classesRestored) << result.output;
    EXPECT_FALSE(result.classesAdopted) << result.output;
    // DllMain ran after the store root was constructed: the root it set is still there.
    EXPECT_EQ(result.storeRoot, install + "\\Avatar\\");
    // Unloading unregistered the module from MFC and unmapped the library.
    EXPECT_TRUE(result.leftChain) << result.output;
    EXPECT_TRUE(result.unmapped) << result.output;
}

}  // namespace
