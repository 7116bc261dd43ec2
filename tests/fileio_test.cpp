#include "base/fileio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>

#include "support/testdir.h"

namespace kelvane {
namespace {

// Runs once, inside the next save, just before its rename.
std::function<void()> beforeRename;

}  // namespace
}  // namespace kelvane

// Stands in for the C library's rename in this test program, so that a
// test can act at the moment before a save's rename.
extern "C" int rename(const char* from, const char* to) noexcept {
    if (auto hook = std::exchange(kelvane::beforeRename, nullptr)) hook();
    return ::renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace kelvane {
namespace {

using test::ReadFile;
using test::TempDir;

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

TEST(WriteFileAtomic, ReplacesKeepsModeAndSkipsIdenticalBytes) {
    TempDir dir;
    const std::string path = dir.file("subj.lst");

    ASSERT_FALSE(WriteFileAtomic(path, "one\r\n", 0600));
    EXPECT_EQ(ReadFile(path), "one\r\n");
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0600u);

    ::chmod(path.c_str(), 0640);
    const ino_t first = StatOf(path).st_ino;
    // The same bytes: the file is not replaced at all.
    ASSERT_FALSE(WriteFileAtomic(path, "one\r\n", 0600));
    EXPECT_EQ(StatOf(path).st_ino, first);
    // Same length, other bytes: replaced, keeping the user's permissions.
    ASSERT_FALSE(WriteFileAtomic(path, "two\r\n", 0600));
    EXPECT_EQ(ReadFile(path), "two\r\n");
    EXPECT_NE(StatOf(path).st_ino, first);
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0640u);
}

TEST(WriteFileAtomic, FailureLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    const std::string folder = dir.file("sub");
    ASSERT_FALSE(WriteFileAtomic(dir.file("sub"), "not a folder"));
    // A folder in the way: the write fails with the system's text.
    const std::string blocked = dir.path();
    const auto error = WriteFileAtomic(blocked, "x");
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->empty());
    // A path below a plain file cannot be created; the file stays whole.
    EXPECT_TRUE(WriteFileAtomic(folder + "/inner.lst", "x"));
    EXPECT_EQ(ReadFile(folder), "not a folder");
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1);
}

// A list kept elsewhere and linked into the program folder keeps receiving
// the saves: the link stays, its target (through a second, relative link)
// is replaced in its own folder.
TEST(WriteFileAtomic, WritesThroughSymbolicLinks) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("real"));
    const std::string target = dir.file("real/subj.lst");
    ASSERT_FALSE(WriteFileAtomic(target, "old\r\n", 0640));
    std::filesystem::create_symlink("subj.lst", dir.file("real/via.lst"));
    std::filesystem::create_symlink(dir.file("real/via.lst"), dir.file("subj.lst"));

    ASSERT_FALSE(WriteFileAtomic(dir.file("subj.lst"), "new\r\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("subj.lst")));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("real/via.lst")));
    EXPECT_EQ(ReadFile(target), "new\r\n");
    EXPECT_EQ(StatOf(target).st_mode & 07777, 0640u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

// A save killed before its rename leaves its temporary file; the next save
// of the same file removes it, but not one a running save still holds, nor
// the temporary files of another file.
TEST(WriteFileAtomic, RemovesTemporaryFilesOfKilledSaves) {
    TempDir dir;
    const std::string killed = dir.file("subj.lst.tmp-a1B2c3");
    const std::string running = dir.file("subj.lst.tmp-Zz9Yy8");
    const std::string other = dir.file("from.lst.tmp-a1B2c3");
    for (const std::string& p : {killed, running, other})
        test::WriteFile(p, "half");
    const int held = ::open(running.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_FALSE(WriteFileAtomic(dir.file("subj.lst"), "x"));
    EXPECT_FALSE(std::filesystem::exists(killed));
    EXPECT_TRUE(std::filesystem::exists(running));
    EXPECT_TRUE(std::filesystem::exists(other));
    ::close(held);
}

// A second save of the same file (another program's) that starts when the
// first has written everything but not yet renamed must not take the first
// one's finished temporary file for a leftover.
TEST(WriteFileAtomic, ASaveStartingBeforeAnothersRenameKeepsItsTemporaryFile) {
    TempDir dir;
    const std::string path = dir.file("subj.lst");
    test::WriteFile(path, "old");
    std::optional<std::string> second = "not run";
    beforeRename = [&] { second = WriteFileAtomic(path, "second"); };

    EXPECT_EQ(WriteFileAtomic(path, "first"), std::nullopt);
    EXPECT_EQ(second, std::nullopt);
    EXPECT_EQ(ReadFile(path), "first");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace kelvane
