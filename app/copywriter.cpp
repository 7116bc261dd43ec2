#include "app/copywriter.h"

#include <exception>

namespace kelvane {

CopyWriter::CopyWriter(DeletedStore& store, Describe describe, std::size_t threads,
                       std::size_t held)
    : store_(store), describe_(std::move(describe)), held_(held > 0 ? held : 1) {
    // Before any thread looks a copy up.
    store_.LoadReuse();
    for (std::size_t i = 0; i < (threads > 0 ? threads : 1); ++i)
        writers_.emplace_back([this] { Write(); });
    committer_ = std::thread([this] { Commit(); });
}

CopyWriter::~CopyWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : writers_)
        t.join();
    // The writers are gone: the committer ends once nothing is written.
    committer_.join();
}

void CopyWriter::Submit(int num, std::string message, bool headersOnly) {
    KeptMessage meta = describe_(num, message, headersOnly);
    meta.headersOnly = headersOnly;
    std::unique_lock lock(mutex_);
    const std::size_t bytes = message.size();
    changed_.wait(lock, [&] {
        return holding_ < held_ && (heldBytes_ == 0 || heldBytes_ + bytes <= kHeldBytes);
    });
    ++holding_;
    heldBytes_ += bytes;
    waiting_.push_back({submitted_++, num, std::move(message), std::move(meta)});
    lock.unlock();
    changed_.notify_all();
}

std::vector<CopyKeeper::Settled> CopyWriter::TakeSettled(bool wait) {
    std::unique_lock lock(mutex_);
    if (wait) changed_.wait(lock, [&] { return !settled_.empty() || holding_ == 0; });
    std::vector<Settled> out;
    out.swap(settled_);
    return out;
}

std::map<int, std::string> CopyWriter::KeptIds() const {
    std::lock_guard lock(mutex_);
    return kept_;
}

// With the lock held.
void CopyWriter::Settle(int num, const std::string& id, const std::string& error) {
    settled_.push_back({num, error.empty(), error});
    if (error.empty()) kept_[num] = id;
    --holding_;
}

void CopyWriter::Write() {
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !waiting_.empty() || stopping_; });
        if (waiting_.empty()) return;
        Job job = std::move(waiting_.front());
        waiting_.pop_front();
        ++writing_;
        lock.unlock();

        Written done{job.num, {}, false};
        try {
            done.reused = store_.Reuse(job.message, job.meta);
            if (done.reused) {
                done.copy.meta = std::move(job.meta);
            } else {
                done.copy = store_.Write(job.message, std::move(job.meta));
            }
        } catch (const std::exception& e) {
            done.copy.error = e.what();
        } catch (...) {
            done.copy.error = "Cannot keep a copy in " + store_.Folder();
        }
        const std::size_t bytes = job.message.size();
        std::string().swap(job.message);

        lock.lock();
        --writing_;
        heldBytes_ -= bytes;
        written_[job.seq] = std::move(done);
        lock.unlock();
        changed_.notify_all();
    }
}

// The copies written while the last batch was renamed and flushed make the
// next batch.
void CopyWriter::Commit() {
    for (;;) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] {
            return written_.count(committed_) ||
                   (stopping_ && waiting_.empty() && writing_ == 0 && written_.empty());
        });
        if (!written_.count(committed_)) return;
        std::vector<Written> taken;
        for (auto next = written_.find(committed_); next != written_.end();
             next = written_.find(committed_)) {
            taken.push_back(std::move(next->second));
            written_.erase(next);
            ++committed_;
        }
        lock.unlock();

        std::vector<PendingCopy> batch;
        for (Written& entry : taken)
            if (!entry.reused && entry.copy.error.empty()) batch.push_back(std::move(entry.copy));
        try {
            store_.Commit(batch);
        } catch (...) {
            for (PendingCopy& copy : batch)
                if (copy.error.empty()) copy.error = "Cannot keep a copy in " + store_.Folder();
        }

        lock.lock();
        std::size_t at = 0;
        for (Written& entry : taken) {
            const PendingCopy& copy =
                entry.reused || !entry.copy.error.empty() ? entry.copy : batch[at++];
            Settle(entry.num, copy.meta.id, copy.error);
        }
        lock.unlock();
        changed_.notify_all();
    }
}

}  // namespace kelvane
