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

    // Writes message into tmp/, flushes it to disk, renames it into cur/ and
    // flushes the folder, then adds it to the index. meta.id and meta.path
    // are filled in. Throws StoreError unless the copy is safely in cur/; no
    // part of it is left behind then.
    void Keep(std::string_view message, KeptMessage& meta);

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
    void AppendIndex(const KeptMessage& meta);
    std::string IndexPath() const;
    std::string LockPath() const;

    std::string folder_;
    Now now_;
};

}  // namespace kelvane
