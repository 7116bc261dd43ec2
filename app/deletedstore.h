#pragma once

// The kept copies of deleted messages: the Maildir "Deleted" in the program
// folder holds each message exactly as the server sent it, one file each, so
// any mail program can open it. Beside the files, an index says what a file
// cannot: when it was deleted, from which mailbox, its mark and the reasons.
// The files are the truth: a damaged index is rebuilt from them, and the
// index never creates or removes a file.

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

struct KeptMessage {
    // Stable between runs: the unique part of the Maildir file name, which
    // a mail program changing the file's flags keeps.
    std::string id;
    std::time_t deleted = 0;  // when the copy was kept
    std::string user;         // the mailbox: USER on SERVER
    std::string server;
    std::string mark;  // "delete" or "known-spammer"; empty once lost
    std::vector<std::string> reasons;
    std::string sender;
    std::string subject;
    std::int64_t size = 0;  // the message's size on the server
    bool headersOnly = false;
    std::string path;  // the file, filled in by the store
    // The server's unique id of the message, when it has them; not kept in
    // the index, only in what tells one copy from another.
    std::string uid;
};

// A copy written into tmp/ and flushed, not yet renamed into cur/.
struct PendingCopy {
    KeptMessage meta;
    std::string tmp;
    std::string error;  // why it is not kept, once committed
};

inline constexpr std::string_view kDeletedFolderName = "Deleted";

class DeletedStore {
  public:
    using Now = std::function<std::time_t()>;

    // folder is the Maildir itself; now gives the time of each copy (its
    // file's modification time) and the purge's notion of age.
    explicit DeletedStore(
        std::string folder, Now now = [] { return std::time(nullptr); });
    static std::string FolderIn(const std::string& programDir);
    const std::string& Folder() const { return folder_; }

    // Keeps message: the copy of the same message from the same mailbox
    // when there is one already (Reuse), else a new one (Write, Commit).
    // meta.id and meta.path are filled in. Throws StoreError unless the copy
    // is safely in cur/; no part of a new copy is left behind then.
    void Keep(std::string_view message, KeptMessage& meta);

    // A session that failed before QUIT deleted nothing, yet kept its copies:
    // its retry finds them here instead of keeping each message twice. A
    // copy's name carries a digest of the mailbox, the server's unique id
    // and the bytes, so that this works from the files alone; the bytes are
    // compared before a copy is reused. Its time is set to now, as if kept
    // again. LoadReuse reads the folder once; after it, Reuse, Write and
    // Commit may be called from several threads (Commit from one at a time).
    void LoadReuse();
    bool Reuse(std::string_view message, KeptMessage& meta);
    // Writes message into tmp/ and flushes it to disk; throws StoreError.
    PendingCopy Write(std::string_view message, KeptMessage meta);
    // Renames the written copies into cur/, flushes the folder once for all
    // of them and adds them to the index. Those that failed have an error
    // and left nothing behind.
    void Commit(std::vector<PendingCopy>& batch);

    // Every kept copy, newest first. Index lines that are damaged or name a
    // file that is gone are dropped, files the index lacks are described
    // from their own headers, and the index is rewritten when it changed.
    std::vector<KeptMessage> List();

    // The copy with this ID, read from the listing.
    std::optional<KeptMessage> Find(const std::string& id);

    // Writes the copy to DIR/ID.eml, byte for byte. Throws StoreError for an
    // unknown ID or a file that cannot be written.
    void Restore(const std::string& id, const std::string& dir);
    // The same to the file path, replaced atomically: a failure leaves the
    // file as it was.
    void RestoreTo(const std::string& id, const std::string& path);

    // Removes the copies whose file is days days old or more, and leftovers
    // of killed copies in tmp/. Returns how many copies went.
    int Purge(int days);

    // The copies opened with the desktop's mail program are written to the
    // program folder under these names; the mail program may still read one
    // when the window closes, so they go at the next start.
    static std::string OpenedCopyPath(const std::string& programDir, const std::string& id);
    static void CleanUpOpenedCopies(const std::string& programDir);

  private:
    void EnsureFolders();
    void AppendIndex(const std::vector<PendingCopy>& batch);
    std::string IndexPath() const;
    std::string LockPath() const;

    std::string folder_;
    Now now_;
    bool reuseLoaded_ = false;
    std::map<std::string, std::string> byDigest_;  // digest -> path of the copy
};

}  // namespace kelvane
