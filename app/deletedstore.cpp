#include "app/deletedstore.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>

#include "app/checkrun.h"
#include "base/error.h"
#include "base/fileio.h"
#include "base/text.h"
#include "mail/headers.h"

namespace kelvane {

namespace {

constexpr std::string_view kIndexName = "kelvane-index";
constexpr std::string_view kIndexHeading = "Kelvane kept copies 1";
constexpr std::string_view kOpenedPrefix = "kept_";
// Maildir flags: seen, and a keyword letter for a copy of the header block
// alone. Flags stand in ASCII order.
constexpr std::string_view kFlagsWhole = ":2,S";
constexpr std::string_view kFlagsHeadersOnly = ":2,Sh";
// Maildir's own rule for what is left in tmp/.
constexpr std::time_t kStaleTmpSeconds = 36 * 3600;

// The name field of a copy's digest; other programs' fields are ",S=" and
// the like, so this one stays apart.
constexpr std::string_view kDigestField = ",K=";
constexpr std::size_t kDigestChars = 24;

std::string SystemText(int error) {
    return std::strerror(error);
}

[[noreturn]] void Fail(const std::string& what, int error) {
    throw StoreError(what + ": " + SystemText(error));
}

// An ID names one file of the folder and nothing outside it; names other
// mail programs give their files (with ",S=size") are IDs as well.
bool IsValidId(std::string_view id) {
    if (id.empty() || id.size() > 200 || id.front() == '.') return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '.' || c == '_' || c == '-' || c == ',' || c == '=';
    });
}

std::string UniqueName(std::time_t now) {
    static std::atomic<unsigned> counter{0};
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return std::to_string(now) + ".M" + std::to_string(tv.tv_usec) + "P" +
           std::to_string(::getpid()) + "Q" + std::to_string(++counter);
}

// What tells this copy from any other: the mailbox, the server's unique id,
// whether it is the header block alone, and the bytes.
std::string DigestOf(std::string_view message, const KeptMessage& meta) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const auto add = [&](std::string_view part) {
        EVP_DigestUpdate(ctx, part.data(), part.size());
        EVP_DigestUpdate(ctx, "", 1);
    };
    const bool ok = ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1;
    if (ok) {
        add(meta.user);
        add(meta.server);
        add(meta.uid);
        add(meta.headersOnly ? "h" : "w");
        EVP_DigestUpdate(ctx, message.data(), message.size());
        EVP_DigestFinal_ex(ctx, md, &length);
    }
    EVP_MD_CTX_free(ctx);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string digest;
    for (unsigned int i = 0; i < length && digest.size() < kDigestChars; ++i) {
        digest += kHex[md[i] >> 4];
        digest += kHex[md[i] & 15];
    }
    return digest;
}

// The digest a copy's ID carries; empty for copies named without one.
std::string_view DigestIn(std::string_view id) {
    const std::size_t at = id.find(kDigestField);
    if (at == id.npos) return {};
    id.remove_prefix(at + kDigestField.size());
    return id.substr(0, id.find(','));
}

// Index fields: a TAB between fields, so TAB, line ends and the backslash
// itself are escaped.
std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

bool ParseInt64(std::string_view text, std::int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string IndexLine(const KeptMessage& m) {
    std::string line = Escape(m.id) + "\t" + std::to_string(m.deleted) + "\t" + Escape(m.user) +
                       "\t" + Escape(m.server) + "\t" + Escape(m.mark) + "\t" + Escape(m.sender) +
                       "\t" + Escape(m.subject) + "\t" + std::to_string(m.size) + "\t" +
                       (m.headersOnly ? "1" : "0");
    for (const std::string& reason : m.reasons)
        line += "\t" + Escape(reason);
    return line + "\n";
}

std::optional<KeptMessage> ParseIndexLine(std::string_view line) {
    const auto f = SplitTabs(line);
    if (f.size() < 9) return std::nullopt;
    KeptMessage m;
    m.id = Unescape(f[0]);
    std::int64_t when = 0;
    if (!IsValidId(m.id) || !ParseInt64(f[1], when) || !ParseInt64(f[7], m.size) ||
        (f[8] != "0" && f[8] != "1"))
        return std::nullopt;
    m.deleted = static_cast<std::time_t>(when);
    m.user = Unescape(f[2]);
    m.server = Unescape(f[3]);
    m.mark = Unescape(f[4]);
    m.sender = Unescape(f[5]);
    m.subject = Unescape(f[6]);
    m.headersOnly = f[8] == "1";
    for (std::size_t i = 9; i < f.size(); ++i)
        m.reasons.push_back(Unescape(f[i]));
    return m;
}

struct KeptFile {
    std::string path;
    std::time_t mtime = 0;
    std::int64_t bytes = 0;
    bool headersOnly = false;
};

// The copies in cur/ and new/ by ID. A mail program may have moved a file
// from new/ to cur/ or changed its flags; the part before ":" stays.
std::map<std::string, KeptFile> ScanFiles(const std::string& folder) {
    std::map<std::string, KeptFile> files;
    for (const char* sub : {"new", "cur"}) {
        const std::string dir = JoinPath(folder, sub);
        DIR* d = ::opendir(dir.c_str());
        if (!d) continue;
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            const std::size_t colon = name.find(':');
            const std::string id = name.substr(0, colon);
            if (!IsValidId(id)) continue;
            KeptFile file;
            file.path = JoinPath(dir, name);
            struct stat st {};
            if (::stat(file.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            file.mtime = st.st_mtime;
            file.bytes = st.st_size;
            if (colon != std::string::npos) {
                const std::string_view info = std::string_view(name).substr(colon);
                file.headersOnly = info.starts_with(":2,") && info.find('h') != info.npos;
            }
            files[id] = std::move(file);
        }
        ::closedir(d);
    }
    return files;
}

// A copy the index lacks, described from its own header block.
KeptMessage FromFile(const std::string& id, const KeptFile& file) {
    KeptMessage m;
    m.id = id;
    m.deleted = file.mtime;
    m.size = file.bytes;
    m.headersOnly = file.headersOnly;
    const FileContent content = ReadRegularFile(file.path, std::size_t{512} << 20);
    if (content.status == ReadStatus::Ok) {
        std::string_view text = content.data;
        const std::size_t end = text.find("\r\n\r\n");
        TmsHeaders headers;
        headers.LoadFromText(text.substr(0, end == text.npos ? text.size() : end + 2));
        m.subject = GetHeaderValue(headers, "Subject");
        m.sender = ListSenderText(GetHeaderValue(headers, "From"));
    }
    return m;
}

bool FsyncPath(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A tmp/ file of a copy whose writer is gone: its process has ended, or it
// is older than any copy takes.
bool IsLeftover(const std::string& name, std::time_t mtime, std::time_t now) {
    if (now - mtime > kStaleTmpSeconds) return true;
    const std::size_t p = name.find('P');
    const std::size_t q = name.find('Q', p == name.npos ? 0 : p);
    std::int64_t pid = 0;
    if (p == name.npos || q == name.npos || !ParseInt64(name.substr(p + 1, q - p - 1), pid))
        return false;
    if (pid == ::getpid()) return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

DeletedStore::DeletedStore(std::string folder, Now now)
    : folder_(std::move(folder)), now_(std::move(now)) {}

std::string DeletedStore::FolderIn(const std::string& programDir) {
    return JoinPath(programDir, kDeletedFolderName);
}

std::string DeletedStore::IndexPath() const {
    return JoinPath(folder_, kIndexName);
}

std::string DeletedStore::LockPath() const {
    return JoinPath(folder_, std::string(kIndexName) + ".lock");
}

void DeletedStore::EnsureFolders() {
    for (const char* sub : {"", "cur", "new", "tmp"}) {
        const std::string dir = *sub ? JoinPath(folder_, sub) : folder_;
        if (::mkdir(dir.c_str(), 0700) == 0) continue;
        if (errno == EEXIST) continue;
        if (errno != ENOENT || !MakeFolders(dir)) Fail("Cannot create the folder " + dir, errno);
    }
}

void DeletedStore::Keep(std::string_view message, KeptMessage& meta) {
    if (!reuseLoaded_) LoadReuse();
    if (Reuse(message, meta)) return;
    std::vector<PendingCopy> batch;
    batch.push_back(Write(message, meta));
    Commit(batch);
    if (!batch[0].error.empty()) throw StoreError(batch[0].error);
    meta = std::move(batch[0].meta);
}

void DeletedStore::LoadReuse() {
    reuseLoaded_ = true;
    byDigest_.clear();
    for (const auto& [id, file] : ScanFiles(folder_)) {
        const std::string_view digest = DigestIn(id);
        if (digest.size() == kDigestChars) byDigest_[std::string(digest)] = file.path;
    }
}

bool DeletedStore::Reuse(std::string_view message, KeptMessage& meta) {
    const auto found = byDigest_.find(DigestOf(message, meta));
    if (found == byDigest_.end()) return false;
    const std::string& path = found->second;
    const std::time_t now = now_();
    const timespec times[2] = {{now, 0}, {now, 0}};
    // Under the lock, so that a purge cannot take the copy between the
    // comparison and the new time.
    FileLock lock(LockPath());
    const FileContent content = ReadRegularFile(path, message.size() + 1);
    // The session that kept it may have been killed before its folder was
    // on disk: flushed again before the server is told to delete.
    if (content.status != ReadStatus::Ok || content.data != message ||
        ::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0 ||
        !FsyncPath(path.substr(0, path.rfind('/'))))
        return false;
    const std::string name = path.substr(path.rfind('/') + 1);
    meta.id = name.substr(0, name.find(':'));
    meta.deleted = now;
    meta.path = path;
    return true;
}

PendingCopy DeletedStore::Write(std::string_view message, KeptMessage meta) {
    EnsureFolders();
    const std::time_t now = now_();
    const std::string name = UniqueName(now) + std::string(kDigestField) + DigestOf(message, meta);
    PendingCopy copy;
    copy.tmp = JoinPath(JoinPath(folder_, "tmp"), name);
    const int fd = ::open(copy.tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) Fail("Cannot keep a copy in " + folder_, errno);
    // The copy's age is its file's time, on the same clock the purge reads.
    const timespec times[2] = {{now, 0}, {now, 0}};
    if (!WriteAll(fd, message) || ::fsync(fd) != 0 || ::futimens(fd, times) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(copy.tmp.c_str());
        Fail("Cannot keep a copy in " + folder_, error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(copy.tmp.c_str());
        Fail("Cannot keep a copy in " + folder_, error);
    }
    meta.id = name;
    meta.deleted = now;
    meta.path = JoinPath(JoinPath(folder_, "cur"),
                         name + std::string(meta.headersOnly ? kFlagsHeadersOnly : kFlagsWhole));
    copy.meta = std::move(meta);
    return copy;
}

void DeletedStore::Commit(std::vector<PendingCopy>& batch) {
    const auto fail = [&](PendingCopy& copy, int error) {
        copy.error = "Cannot keep a copy in " + folder_ + ": " + SystemText(error);
    };
    bool any = false;
    for (PendingCopy& copy : batch) {
        if (!copy.error.empty()) continue;
        if (::rename(copy.tmp.c_str(), copy.meta.path.c_str()) != 0) {
            fail(copy, errno);
            ::unlink(copy.tmp.c_str());
            continue;
        }
        any = true;
    }
    if (!any) return;
    // The renames must be on disk before the server is told to delete.
    if (!FsyncPath(JoinPath(folder_, "cur"))) {
        const int error = errno;
        for (PendingCopy& copy : batch) {
            if (!copy.error.empty()) continue;
            ::unlink(copy.meta.path.c_str());
            fail(copy, error);
        }
        return;
    }
    // The copies are safe; the index can be rebuilt from them when this fails.
    AppendIndex(batch);
}

void DeletedStore::AppendIndex(const std::vector<PendingCopy>& batch) {
    FileLock lock(LockPath());
    const int fd = ::open(IndexPath().c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size == 0) {
        text = std::string(kIndexHeading) + "\n";
    } else if (st.st_size > 0) {
        // A line cut short by a kill must not swallow this one.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') text = "\n";
    }
    for (const PendingCopy& copy : batch)
        if (copy.error.empty()) text += IndexLine(copy.meta);
    (void)WriteAll(fd, text);
    ::close(fd);
}

std::vector<KeptMessage> DeletedStore::List() {
    std::vector<KeptMessage> kept;
    if (!FileExists(folder_)) return kept;
    FileLock lock(LockPath());
    const auto files = ScanFiles(folder_);
    const FileContent index = ReadWholeFile(IndexPath());
    bool changed = index.status != ReadStatus::Ok;
    std::map<std::string, std::size_t> listed;  // ID -> position in kept
    std::string_view text = index.data;
    if (index.status == ReadStatus::Ok) {
        const std::size_t first = text.find('\n');
        if (text.substr(0, first) != kIndexHeading) changed = true;
        text = first == text.npos ? std::string_view() : text.substr(first + 1);
    }
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        text = lf == text.npos ? std::string_view() : text.substr(lf + 1);
        auto m = lf == std::string_view::npos ? std::nullopt : ParseIndexLine(line);
        const auto file = m ? files.find(m->id) : files.end();
        if (file == files.end() || listed.count(m->id)) {
            changed = true;
            continue;
        }
        m->path = file->second.path;
        // A copy kept again by a retry has its file's new time.
        m->deleted = file->second.mtime;
        listed[m->id] = kept.size();
        kept.push_back(std::move(*m));
    }
    for (const auto& [id, file] : files) {
        if (listed.count(id)) continue;
        kept.push_back(FromFile(id, file));
        changed = true;
    }
    if (changed) {
        std::string rebuilt = std::string(kIndexHeading) + "\n";
        for (const KeptMessage& m : kept)
            rebuilt += IndexLine(m);
        (void)WriteFileAtomic(IndexPath(), rebuilt, 0600);
    }
    // Newest first; copies of one second stand in the order they were kept.
    std::vector<std::size_t> order(kept.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (kept[a].deleted != kept[b].deleted) return kept[a].deleted > kept[b].deleted;
        return a > b;
    });
    std::vector<KeptMessage> sorted;
    sorted.reserve(kept.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(kept[i]));
    return sorted;
}

std::optional<KeptMessage> DeletedStore::Find(const std::string& id) {
    if (!IsValidId(id)) return std::nullopt;
    for (KeptMessage& m : List())
        if (m.id == id) return std::move(m);
    return std::nullopt;
}

void DeletedStore::Restore(const std::string& id, const std::string& dir) {
    RestoreTo(id, JoinPath(dir, id + ".eml"));
}

void DeletedStore::RestoreTo(const std::string& id, const std::string& target) {
    const auto m = Find(id);
    if (!m) throw StoreError("No kept message has the ID " + id);
    const FileContent content = ReadWholeFile(m->path);
    if (content.status != ReadStatus::Ok)
        throw StoreError("Cannot read " + m->path + ": " +
                         (content.error.empty() ? "missing" : content.error));
    if (const auto error = WriteFileAtomic(target, content.data, 0600))
        throw StoreError("Cannot create file " + target + ": " + *error);
}

std::string DeletedStore::OpenedCopyPath(const std::string& programDir, const std::string& id) {
    return JoinPath(programDir, std::string(kOpenedPrefix) + id + ".eml");
}

void DeletedStore::CleanUpOpenedCopies(const std::string& programDir) {
    DIR* d = ::opendir(programDir.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (!name.starts_with(kOpenedPrefix) || !name.ends_with(".eml")) continue;
        const std::string_view id =
            name.substr(kOpenedPrefix.size(), name.size() - kOpenedPrefix.size() - 4);
        if (IsValidId(id)) names.emplace_back(name);
    }
    ::closedir(d);
    for (const std::string& name : names)
        ::unlink(JoinPath(programDir, name).c_str());
}

int DeletedStore::Purge(int days) {
    if (!FileExists(folder_)) return 0;
    const std::time_t now = now_();
    const std::time_t cutoff = now - static_cast<std::time_t>(days) * 86400;
    int removed = 0;
    {
        FileLock lock(LockPath());
        for (const auto& [id, file] : ScanFiles(folder_))
            if (file.mtime <= cutoff && ::unlink(file.path.c_str()) == 0) ++removed;
        const std::string tmp = JoinPath(folder_, "tmp");
        if (DIR* d = ::opendir(tmp.c_str())) {
            while (dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                const std::string path = JoinPath(tmp, name);
                struct stat st {};
                if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                    IsLeftover(name, st.st_mtime, now))
                    ::unlink(path.c_str());
            }
            ::closedir(d);
        }
    }
    // Drops the index lines of the removed copies.
    if (removed > 0) List();
    return removed;
}

}  // namespace kelvane
