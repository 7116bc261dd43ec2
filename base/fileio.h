#pragma once

// File access shared by every store the user owns: whole-file reads and
// atomic replacement, so a crash or a full disk never leaves half a file.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

enum class ReadStatus { Ok, Missing, Unreadable };

struct FileContent {
    ReadStatus status = ReadStatus::Missing;
    std::string data;
    std::string error;  // the system's text when Unreadable
};

// Reads the whole file. A missing file is not an error; anything else that
// stops the read (permission, a directory, an I/O error) is Unreadable.
FileContent ReadWholeFile(const std::string& path);

// ReadWholeFile for input the user names, which may be anything: only a
// regular file of at most maxBytes is read. Anything else is Unreadable,
// with the error "not a regular file" or "larger than N MiB" (N bytes when
// maxBytes is not whole MiB). A FIFO is not waited on.
FileContent ReadRegularFile(const std::string& path, std::size_t maxBytes);
// Any file that can be read, a pipe or a device too, to its end or at most
// maxBytes (more is refused as too large); "-" is the standard input.
FileContent ReadAnyFile(const std::string& path, std::size_t maxBytes);

// Writes data to a temporary file beside path, flushes it to disk and renames
// it over path. On failure the old file is untouched, the temporary file is
// removed and the system's error text is returned. mode applies to a new
// file; an existing file keeps its permissions unless rule is Always. A file that already
// holds exactly data is not rewritten. A symbolic link is followed: its
// target is replaced, in the target's own folder, and the link stays.
// Temporary files left by earlier saves of the same file that were killed
// (PATH.tmp-XXXXXX, held by no running save) are removed.
// How WriteFileAtomic treats the permissions of a file that exists.
enum class ModeRule {
    KeepExisting,  // the user's permissions stay
    Always         // the file ends with mode, even when its bytes were already right
};
std::optional<std::string> WriteFileAtomic(const std::string& path, std::string_view data,
                                           unsigned mode = 0644,
                                           ModeRule rule = ModeRule::KeepExisting);

// An exclusive lock (flock) on a lock file, held while the object lives.
// Whoever re-reads a file, changes it and replaces it holds the file's lock,
// so that no one works from a copy another has just replaced. A lock file
// that cannot be created or locked leaves Held() false.
class FileLock {
  public:
    // Waits for the lock, creating the lock file (mode 0600) when needed.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

bool FileExists(const std::string& path);

// Creates the folder and its parents as needed (mode 0700 for new folders).
bool MakeFolders(const std::string& path);

// The folder holding the running executable, resolved through /proc/self/exe.
std::string ExecutableFolder();

// Joins a folder and a file name with one "/".
std::string JoinPath(std::string_view folder, std::string_view name);

std::string DirName(const std::string& path);

}  // namespace kelvane
