#include "mail/timecounter.h"

#include <chrono>

namespace kelvane {

namespace {

class SteadyClockImpl : public Clock {
  public:
    std::int64_t NowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
};

}  // namespace

const Clock& SteadyClock() {
    static const SteadyClockImpl clock;
    return clock;
}

TTimeCounter::TTimeCounter(const Clock* clock) : clock_(clock ? clock : &SteadyClock()) {}

void TTimeCounter::SetClock(const Clock* clock) {
    clock_ = clock ? clock : &SteadyClock();
}

void TTimeCounter::Start() {
    remaining_ = limit_;
    expired_ = false;
    running_ = true;
    nextTickMs_ = clock_->NowMs() + 1000;
}

void TTimeCounter::Stop() {
    Tick();
    running_ = false;
}

void TTimeCounter::Tick() {
    if (!running_) return;
    const std::int64_t now = clock_->NowMs();
    if (now < nextTickMs_) return;
    const std::int64_t ticks = (now - nextTickMs_) / 1000 + 1;
    nextTickMs_ += ticks * 1000;
    const std::int64_t left = static_cast<std::int64_t>(remaining_) - ticks;
    remaining_ = left < -1000000 ? -1000000 : static_cast<int>(left);
    if (remaining_ <= 0) expired_ = true;
}

bool TTimeCounter::Expired() {
    Tick();
    return expired_;
}

int TTimeCounter::MsToNextTick() const {
    if (!running_) return -1;
    const std::int64_t left = nextTickMs_ - clock_->NowMs();
    return left <= 0 ? 0 : left >= 1000 ? 1000 : static_cast<int>(left);
}

int TTimeCounter::Remaining() {
    Tick();
    return remaining_;
}

}  // namespace kelvane
