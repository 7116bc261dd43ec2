#pragma once

// What the mail and check tests share: a sped-up clock, the scripted login
// of a POP3 session, a prompts double that is told its answers before the
// action, and a socket waiter that counts the sleeps the socket never ended.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "base/prompts.h"
#include "mail/agsocket.h"
#include "mail/timecounter.h"
#include "support/fakeserver.h"

namespace kelvane::test {

// Real time sped up a hundredfold, so that a 60-second limit passes in
// 0.6 s and a test that goes wrong ends in a moment instead of a minute.
class FastClock : public Clock {
  public:
    static constexpr int kFactor = 100;
    std::int64_t NowMs() const override { return SteadyClock().NowMs() * kFactor; }
};
extern const FastClock kFastClock;

// The greeting, USER, PASS and STAT, answered with statReply (no CR LF).
FakeServer& ScriptLogin(FakeServer& srv, const std::string& user, const std::string& password,
                        const std::string& statReply);

// Records every question; a confirmation takes the next answer told with
// WillAnswer, or fails the test when none was told.
class ScriptedPrompts : public UserPrompts {
  public:
    void WillAnswer(bool yes) { answers_.push_back(yes); }
    void Information(const std::string& text) override;
    bool Confirm(const std::string& text) override;

    std::vector<std::string> shown;  // every question's text, in order
    std::vector<std::string> asked;  // the same, as "info:TEXT" or "confirm:TEXT"

  private:
    std::deque<bool> answers_;
};

// Sleeps on the socket as the windows' waiter does, up to the next second of
// the time-out, and counts the long sleeps that ran to their end: with such
// a waiter a wait in the wrong direction stalls until the next second
// instead of a pump interval.
class SleepCounter : public SocketWaiter {
  public:
    short Wait(int fd, short events, int timeoutMs) override;
    void Interrupt() override {}
    int overslept = 0;
};

}  // namespace kelvane::test
