#pragma once

// The kept copies of a deletion, written on threads of their own while the
// session goes on reading the next messages. A copy's flush to disk is most
// of its cost; several flushing at once share the disk's work, and the
// folder is flushed once for all the copies renamed together. A copy is
// reported settled only once it is renamed into cur/ and the folder is on
// disk, so a deletion that waits for that never loses a message.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/deletedstore.h"
#include "mail/mspop3.h"

namespace kelvane {

class CopyWriter : public CopyKeeper {
  public:
    // What the index says of the message at num, asked on the thread that
    // submits it.
    using Describe =
        std::function<KeptMessage(int num, std::string_view message, bool headersOnly)>;

    // At most held copies are waiting or being written at a time, and at
    // most kHeldBytes of them (a larger one alone).
    static constexpr std::size_t kHeldBytes = std::size_t{64} << 20;
    CopyWriter(DeletedStore& store, Describe describe, std::size_t threads = 4,
               std::size_t held = 8);
    // Finishes every copy submitted, then ends the threads.
    ~CopyWriter() override;
    CopyWriter(const CopyWriter&) = delete;
    CopyWriter& operator=(const CopyWriter&) = delete;

    void Submit(int num, std::string message, bool headersOnly) override;
    std::vector<Settled> TakeSettled(bool wait) override;

    // The IDs of the copies kept so far, by message position.
    std::map<int, std::string> KeptIds() const;

  private:
    struct Job {
        std::size_t seq;
        int num;
        std::string message;
        KeptMessage meta;
    };
    void Write();
    void Commit();
    void Settle(int num, const std::string& id, const std::string& error);

    DeletedStore& store_;
    Describe describe_;
    const std::size_t held_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> waiting_;  // submitted, not yet taken by a writer
    struct Written {
        int num;
        PendingCopy copy;  // with its error, when it could not be written
        bool reused = false;
    };
    // Written, reused or failed, by order of submission. They are renamed
    // and settled in that order, so the session deletes in the order it
    // fetched and the index lists the copies in that order too.
    std::map<std::size_t, Written> written_;
    std::vector<Settled> settled_;  // not yet taken
    std::size_t submitted_ = 0;
    std::size_t committed_ = 0;
    std::map<int, std::string> kept_;
    std::size_t holding_ = 0;    // submitted and not settled
    std::size_t writing_ = 0;    // taken by a writer, not yet written
    std::size_t heldBytes_ = 0;  // of the messages not yet written
    bool stopping_ = false;
    std::vector<std::thread> writers_;
    std::thread committer_;
};

}  // namespace kelvane
