// portrix-reg as a user meets it: where it says the hive is and that it writes there, its
// commands, and messages that say in words what went wrong and which file was read.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "temp_dir.h"

using portrix_test::ProgramRun;
using portrix_test::RunProgram;
using portrix_test::TempDir;

namespace {

// Runs the tool with exactly the environment given.
ProgramRun RunTool(std::vector<std::string> args, const std::vector<std::string>& environment) {
    args.insert(args.begin(), PORTRIX_REG_TOOL);
    return RunProgram(args, environment);
}

const char kShare[] = "HKEY_CURRENT_USER\\Software\\szDomain\\Share";

TEST(PortrixReg, FindsTheHiveWhereTheLibraryDoes) {
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const ProgramRun withoutHome = RunTool({"path"}, {});
    EXPECT_EQ(withoutHome.out, std::string(user->pw_dir) + "/.config/portrix/hkcu.reg\n");

    TempDir dir;
    const std::vector<std::string> env = {"HOME=" + dir.path()};
    EXPECT_EQ(RunTool({"path"}, env).out, dir / ".config/portrix/hkcu.reg\n");
    ASSERT_EQ(RunTool({"set", kShare, "Path", "/opt/app"}, env).status, 0);
    EXPECT_TRUE(dir.Exists(".config/portrix/hkcu.reg"));
    const ProgramRun get = RunTool({"get", kShare, "Path"}, env);
    EXPECT_EQ(get.status, 0) << get.err;
    EXPECT_EQ(get.out, "/opt/app\n");
}

TEST(PortrixReg, Commands) {
    TempDir dir;
    const std::string hive = dir / "hkcu.reg";
    const std::vector<std::string> env = {"PORTRIX_HKCU=" + hive};
    ASSERT_EQ(RunTool({"set", kShare, "Path", "/opt/app"}, env).status, 0);
    ASSERT_EQ(
        RunTool({"set", "HKCU\\Software\\szDomain\\Share", "Count", "--dword", "0x1f"}, env).status,
        0);
    ASSERT_EQ(RunTool({"set", "HKCU\\Software\\szDomain\\Share\\Inner", "@", "x"}, env).status, 0);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    } cases[] = {
        /* 1 */ {{"get", kShare, "Path"}, 0, "/opt/app\n"},
        /* 2 */ {{"get", kShare, "count"}, 0, "31\n"},
        /* 3 */
        {{"list", "HKCU\\Software\\szDomain\\Share"},
         0,
         "Inner\\\nPath\tREG_SZ\t/opt/app\nCount\tREG_DWORD\t31 (0x0000001f)\n"},
        /* 4 */ {{"list", "HKEY_CURRENT_USER\\Software"}, 0, "szDomain\\\n"},
        /* 5 */ {{"delete", kShare, "Count"}, 0, ""},
        /* 6 */ {{"list", kShare}, 0, "Inner\\\nPath\tREG_SZ\t/opt/app\n"},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        const ProgramRun run = RunTool(c.args, env);
        EXPECT_EQ(run.status, c.status) << "row " << row << ": " << run.err;
        EXPECT_EQ(run.out, c.out) << "row " << row;
    }
}

TEST(PortrixReg, SaysWhatWentWrongInWords) {
    TempDir dir;
    const std::string hive = dir / "hkcu.reg";
    const std::vector<std::string> env = {"PORTRIX_HKCU=" + hive};
    ASSERT_EQ(RunTool({"set", kShare, "Path", "/opt/app"}, env).status, 0);
    struct Case {
        const char* hiveText;  // null: the hive as set above
        std::vector<std::string> args;
        int status;
        std::vector<std::string> saying;  // each must be in the message
    } cases[] = {
        /* 1 */ {nullptr,
                 {"get", "HKCU\\Software\\Missing", "Path"},
                 1,
                 {"no key HKEY_CURRENT_USER\\Software\\Missing", hive}},
        /* 2 */ {nullptr, {"get", kShare, "Nope"}, 1, {"no value Nope", kShare, hive}},
        /* 3 */ {nullptr, {"delete", kShare, "Nope"}, 1, {"no value Nope", hive}},
        /* 4 */ {nullptr, {"frobnicate"}, 2, {"unknown command 'frobnicate'"}},
        /* 5 */ {nullptr, {"get", kShare}, 2, {"get needs KEY NAME"}},
        /* 6 */
        {nullptr, {"list", "HKEY_LOCAL_MACHINE\\Software"}, 2, {"only keys of HKEY_CURRENT_USER"}},
        /* 7 */ {nullptr, {"set", kShare, "a\nb", "x"}, 1, {"line break"}},
        /* 8 */
        {"not a hive\r\n",
         {"get", kShare, "Path"},
         1,
         {hive, "is not a registry hive", "REGEDIT4"}},
        /* 9 */
        {"not a hive\r\n", {"set", kShare, "Path", "/x"}, 1, {hive, "is not a registry hive"}},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        if (c.hiveText) dir.Write("hkcu.reg", c.hiveText);
        const ProgramRun run = RunTool(c.args, env);
        EXPECT_EQ(run.status, c.status) << "row " << row << ": " << run.err;
        for (const std::string& words : c.saying) {
            EXPECT_NE(run.err.find(words), std::string::npos)
                << "row " << row << ": no \"" << words << "\" in " << run.err;
        }
        EXPECT_EQ(run.err.find("error "), std::string::npos) << "row " << row << ": " << run.err;
    }
    // A change waits a bounded time for another process's change, then says so.
    dir.Write("hkcu.reg", "REGEDIT4\r\n");
    const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(flock(folder, LOCK_EX), 0);
    const ProgramRun locked = RunTool({"set", kShare, "Path", "/x"}, env);
    close(folder);
    EXPECT_EQ(locked.status, 1);
    EXPECT_NE(locked.err.find("locked"), std::string::npos) << locked.err;
    EXPECT_EQ(locked.err.find("error "), std::string::npos) << locked.err;
}

}  // namespace
