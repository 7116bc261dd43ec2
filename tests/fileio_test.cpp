#include "base/fileio.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/testdir.h"

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

}  // namespace
}  // namespace kelvane
