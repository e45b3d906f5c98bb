// Opening names beneath a directory without following links, by the kernel and by the walk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Beneath.h"
#include "TempStore.h"

namespace {

namespace fs = std::filesystem;
using nimbrel::OpenBeneath;
using nimbrel::Resolution;
using nimbrel::UniqueFd;

TEST(Beneath, NamesResolveInsideAndNeverThroughLinks) {
    nimbrel_test::TempStore store;
    nimbrel_test::TempStore outside;
    nimbrel_test::WriteFile(store.Path("Body/plain.gif"), "plain");
    nimbrel_test::WriteFile(outside.Path("secret"), "secret");
    fs::create_symlink(outside.Path("secret"), store.Path("Body/link.gif"));
    fs::create_symlink("plain.gif", store.Path("Body/inside-link.gif"));
    fs::create_directory_symlink(outside.Root(), store.Path("Linked"));
    // A read lease, as Samba or an NFS server holds one: a write open that must not wait
    // fails EAGAIN until its holder lets go. The lease break's SIGIO is for the holder to see.
    nimbrel_test::WriteFile(store.Path("Body/leased.gif"), "leased");
    ::signal(SIGIO, SIG_IGN);
    const UniqueFd lease(::open(store.Path("Body/leased.gif").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::fcntl(lease.Get(), F_SETLEASE, F_RDLCK), 0) << std::strerror(errno);
    const UniqueFd root(nimbrel::OpenDirectory(store.Root().string()));
    ASSERT_TRUE(root);

    const struct Row {
        int line;
        const char* relative;
        int flags;
        bool opens;
    } rows[] = {
        {1, "Body/plain.gif", O_RDONLY, true},
        {2, "Body//./plain.gif", O_RDONLY, true},
        {3, "Body", O_RDONLY | O_DIRECTORY, true},
        {4, "", O_RDONLY | O_DIRECTORY, true},
        {5, "Body/link.gif", O_RDONLY, false},         // a link at the end, even to a file
        {6, "Body/inside-link.gif", O_RDONLY, false},  // even one that stays inside
        {7, "Linked/secret", O_RDONLY, false},         // a link on the way
        {8, "Linked", O_RDONLY | O_DIRECTORY, false},
        {9, "Body/../Body/plain.gif", O_RDONLY, false},
        {10, "../x", O_RDONLY, false},
        {11, "/etc/hostname", O_RDONLY, false},
        {12, "Body/missing.gif", O_RDONLY, false},
        {13, "Linked/created", O_WRONLY | O_CREAT, false},
        {14, "Body/leased.gif", O_RDWR | O_NONBLOCK, false},  // at once, not when the lease ends
        {15, "Body/leased.gif", O_RDONLY | O_NONBLOCK, true},
    };
    for (Resolution resolution : {Resolution::Automatic, Resolution::Walk}) {
        const char* how = resolution == Resolution::Walk ? "walk" : "automatic";
        for (const Row& row : rows) {
            const UniqueFd fd(OpenBeneath(root.Get(), row.relative, row.flags, 0644, resolution));
            EXPECT_EQ(static_cast<bool>(fd), row.opens)
                << how << " row " << row.line << ": " << (fd ? "opened" : std::strerror(errno));
        }
    }
    EXPECT_FALSE(fs::exists(outside.Path("created")));
}

}  // namespace
