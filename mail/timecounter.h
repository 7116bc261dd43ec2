#pragma once

// The clock and the one-second countdown behind every network wait.

#include <cstdint>

namespace kelvane {

// Monotonic time in milliseconds. Tests pass a fast or hand-driven one.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::int64_t NowMs() const = 0;
};
const Clock& SteadyClock();

// A one-second countdown: Start loads Limit() seconds and lowers Expired(),
// every whole second after that takes one off, and reaching 0 sets Expired().
// The flag outlives Stop, so a wait can tell afterwards why it ended; every
// wait starts the counter afresh and so gets its full limit.
class TTimeCounter {
  public:
    explicit TTimeCounter(const Clock* clock = nullptr);

    void SetClock(const Clock* clock);  // null: the steady clock
    int Limit() const { return limit_; }
    void SetLimit(int seconds) { limit_ = seconds; }

    void Start();
    void Stop();
    bool Running() const { return running_; }
    bool Expired();
    int Remaining();
    // Milliseconds until the next whole second is taken off, 0 when it is
    // due; -1 when the counter is not running.
    int MsToNextTick() const;
    void ClearExpired() { expired_ = false; }

  private:
    void Tick();

    const Clock* clock_;
    int limit_ = 60;
    int remaining_ = 0;
    bool running_ = false;
    bool expired_ = false;
    std::int64_t nextTickMs_ = 0;
};

}  // namespace kelvane
