#include "base/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace kelvane {

namespace {

std::string SystemText(int err) {
    return std::strerror(err);
}

}  // namespace

FileContent ReadWholeFile(const std::string& path) {
    FileContent result;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            result.status = ReadStatus::Missing;
        } else {
            result.status = ReadStatus::Unreadable;
            result.error = SystemText(errno);
        }
        return result;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        result.status = ReadStatus::Unreadable;
        result.error = SystemText(EISDIR);
        return result;
    }
    if (st.st_size > 0) result.data.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            result.data.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result.status = ReadStatus::Unreadable;
            result.error = SystemText(errno);
            result.data.clear();
            ::close(fd);
            return result;
        }
    }
    ::close(fd);
    result.status = ReadStatus::Ok;
    return result;
}

namespace {

std::string TooLargeText(std::size_t maxBytes) {
    return maxBytes % (1u << 20) == 0 ? "larger than " + std::to_string(maxBytes >> 20) + " MiB"
                                      : "larger than " + std::to_string(maxBytes) + " bytes";
}

}  // namespace

FileContent ReadAnyFile(const std::string& path, std::size_t maxBytes) {
    FileContent result;
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        result.status =
            errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
        if (result.status == ReadStatus::Unreadable) result.error = SystemText(errno);
        return result;
    }
    const auto refuse = [&](std::string error) {
        if (!standardInput) ::close(fd);
        result.data.clear();
        result.status = ReadStatus::Unreadable;
        result.error = std::move(error);
        return result;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return refuse(SystemText(errno));
    if (S_ISDIR(st.st_mode)) return refuse("a folder, not a file");
    if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > maxBytes)
        return refuse(TooLargeText(maxBytes));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            // A device or pipe may never end: the bound ends it.
            if (result.data.size() + static_cast<std::size_t>(n) > maxBytes)
                return refuse(TooLargeText(maxBytes));
            result.data.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return refuse(SystemText(errno));
        }
    }
    if (!standardInput) ::close(fd);
    result.status = ReadStatus::Ok;
    return result;
}

FileContent ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    FileContent result;
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.status =
            errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
        if (result.status == ReadStatus::Unreadable) result.error = SystemText(errno);
        return result;
    }
    struct stat st {};
    const auto refuse = [&](std::string error) {
        ::close(fd);
        result.status = ReadStatus::Unreadable;
        result.error = std::move(error);
        return result;
    };
    if (::fstat(fd, &st) != 0) return refuse(SystemText(errno));
    if (!S_ISREG(st.st_mode)) return refuse("not a regular file");
    const std::string tooLarge = maxBytes % (1u << 20) == 0
                                     ? "larger than " + std::to_string(maxBytes >> 20) + " MiB"
                                     : "larger than " + std::to_string(maxBytes) + " bytes";
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) return refuse(tooLarge);
    result.data.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            // The file may grow while it is read.
            if (result.data.size() + static_cast<std::size_t>(n) > maxBytes) {
                result.data.clear();
                return refuse(tooLarge);
            }
            result.data.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result.data.clear();
            return refuse(SystemText(errno));
        }
    }
    ::close(fd);
    result.status = ReadStatus::Ok;
    return result;
}

namespace {

// The file a path names, following symbolic links: a save replaces the
// link's target, so the link keeps pointing at the file that is updated.
// A link that points nowhere names the file the save will create.
std::optional<int> ResolveLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return std::nullopt;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buf, sizeof buf - 1);
        if (n < 0) return errno;
        std::string next(buf, static_cast<std::size_t>(n));
        target = !next.empty() && next.front() == '/' ? next : JoinPath(DirName(target), next);
    }
    return ELOOP;
}

constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempSuffix = 6;  // the XXXXXX of mkstemp

// Removes the temporary files of earlier saves of path that were killed
// before their rename. A save in progress holds a lock on its temporary
// file, so only files nobody holds are taken.
void RemoveLeftovers(const std::string& path) {
    const std::string dir = DirName(path);
    const std::string prefix = path.substr(path.find_last_of('/') + 1) + std::string(kTempInfix);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name.size() != prefix.size() + kTempSuffix || !name.starts_with(prefix)) continue;
        const std::string leftover = JoinPath(dir, name);
        const int fd = ::open(leftover.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(leftover.c_str());
        ::close(fd);
    }
    ::closedir(d);
}

}  // namespace

std::optional<std::string> WriteFileAtomic(const std::string& linkPath, std::string_view data,
                                           unsigned mode, ModeRule rule) {
    std::string path;
    if (const auto err = ResolveLinks(linkPath, path)) return SystemText(*err);
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) return SystemText(EISDIR);
        if (rule == ModeRule::KeepExisting) mode = old.st_mode & 07777;
        // A file that already holds the bytes is left alone.
        if (static_cast<std::size_t>(old.st_size) == data.size()) {
            const FileContent current = ReadWholeFile(path);
            if (current.status == ReadStatus::Ok && current.data == data) {
                if ((old.st_mode & 07777) != mode &&
                    ::chmod(path.c_str(), static_cast<mode_t>(mode)) != 0)
                    return SystemText(errno);
                return std::nullopt;
            }
        }
    }
    RemoveLeftovers(path);
    // Beside the target, so the rename stays within one file system.
    const std::string pattern = path + std::string(kTempInfix) + std::string(kTempSuffix, 'X');
    std::string tmp;
    int fd = -1;
    for (;;) {
        tmp = pattern;
        fd = ::mkstemp(tmp.data());
        if (fd < 0) return SystemText(errno);
        // Marks the file as in use until this save ends, however it ends.
        // Another save may have taken it for a leftover in the moment
        // before: then it is gone, and a new one is made.
        struct stat st {};
        // (A file system without locks goes on unguarded.)
        if (::flock(fd, LOCK_EX) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink > 0) break;
        ::close(fd);
    }
    auto fail = [&](int err) -> std::optional<std::string> {
        ::close(fd);
        ::unlink(tmp.c_str());
        return SystemText(err);
    };
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) return fail(errno);
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(errno);
    // Renamed while still held: closing first would let another save take
    // the finished file for a leftover and remove it before the rename.
    if (::rename(tmp.c_str(), path.c_str()) != 0) return fail(errno);
    // The data is on disk and in place; closing cannot lose it any more.
    ::close(fd);
    // Make the rename itself durable.
    std::string dir = DirName(path);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return std::nullopt;
}

FileLock::FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string parent = DirName(path);
    if (parent != path && !MakeFolders(parent)) return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string ExecutableFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    return DirName(std::string(buf, static_cast<std::size_t>(n)));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (!out.empty() && out.back() != '/') out += '/';
    out += name;
    return out;
}

std::string DirName(const std::string& path) {
    auto pos = path.find_last_of('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

}  // namespace kelvane
