// LoadLibraryA and friends: module handles, reference counts, and a library whose start-up
// refuses its attach, loaded at run time and linked at build time.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "temp_dir.h"
#include "windows.h"

using portrix_test::TempDir;

namespace {

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Sets the library's trace file (and refusal) for one test.
class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("PORTRIX_TEST_TRACE", m_trace.c_str(), 1); }
    void TearDown() override {
        unsetenv("PORTRIX_TEST_TRACE");
        unsetenv("PORTRIX_TEST_REFUSE");
    }
    std::string Trace() const { return m_dir.Read("trace"); }

    TempDir m_dir;
    std::string m_trace = m_dir / "trace";
};

TEST_F(LoaderTest, LoadsCountAndUnload) {
    const HMODULE module = LoadLibraryA(PORTRIX_REFUSING_LIBRARY);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(LoadLibraryA(PORTRIX_REFUSING_LIBRARY), module);
    EXPECT_EQ(Trace(), "attach\n");

    auto answer = Lookup<int (*)()>(module, "RefusingLibraryAnswer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    // The module handle is where the library is mapped, and names its file.
    auto anchor = Lookup<const void* (*)()>(module, "RefusingLibraryAnchor");
    EXPECT_LT(static_cast<const void*>(module), anchor());
    char name[4096];
    const DWORD length = GetModuleFileNameA(module, name, sizeof(name));
    EXPECT_GT(length, 0u);
    EXPECT_NE(std::string(name).find("librefusing_library.so"), std::string::npos) << name;
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(module, small, sizeof(small)), sizeof(small));
    EXPECT_EQ(std::string(small), std::string(name, 7));

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(Trace(), "attach\n");  // one load is still held
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(Trace(), "attach\ndetach\n");
    EXPECT_FALSE(FreeLibrary(module));
}

TEST_F(LoaderTest, RefusedAttachFailsTheLoadAndUnloads) {
    setenv("PORTRIX_TEST_REFUSE", "1", 1);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(PORTRIX_REFUSING_LIBRARY), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(Trace(), "attach\ndetach\n");
    // The refusal is not left over for the next load.
    unsetenv("PORTRIX_TEST_REFUSE");
    const HMODULE module = LoadLibraryA(PORTRIX_REFUSING_LIBRARY);
    EXPECT_NE(module, nullptr);
    FreeLibrary(module);
}

TEST_F(LoaderTest, MissingLibrary) {
    EXPECT_EQ(LoadLibraryA((m_dir / "libnothing.so").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA(""), nullptr);
}

// Runs the host linked with the library; returns its exit status and what it wrote.
int RunHost(bool refuse, std::string* out, std::string* err, const TempDir& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (refuse) setenv("PORTRIX_TEST_REFUSE", "1", 1);
        if (!freopen((dir / "out").c_str(), "w", stdout) ||
            !freopen((dir / "err").c_str(), "w", stderr))
            _exit(126);
        execl(PORTRIX_REFUSING_HOST, PORTRIX_REFUSING_HOST, static_cast<char*>(nullptr));
        _exit(126);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    *out = dir.Read("out");
    *err = dir.Read("err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(LoaderTest, HostLinkedWithARefusingLibraryEndsAtStartUp) {
    std::string out, err;
    EXPECT_EQ(RunHost(false, &out, &err, m_dir), 0);
    EXPECT_EQ(out, "host ran 42\n");

    EXPECT_EQ(RunHost(true, &out, &err, m_dir), 127);
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("librefusing_library.so"), std::string::npos) << err;
    EXPECT_NE(err.find("ERROR_DLL_INIT_FAILED"), std::string::npos) << err;
}

}  // namespace
