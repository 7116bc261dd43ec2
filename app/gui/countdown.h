#pragma once

// The minute countdown of automatic mode: the timer Timer1, the minutes
// left, the captions that count them, and the one rule for the timer:
// stopped during every run, dialog and message, restarted afterwards when
// automatic mode is selected. A pause is a scope, so no way out of a
// handler can forget the restart.

#include <QString>
#include <functional>
#include <memory>

class QTimer;

namespace kelvane {

// The timer behind the countdown; tests replace it with one they tick.
class MinuteClock {
  public:
    virtual ~MinuteClock() = default;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool Running() const = 0;
    // Called at every tick while running.
    std::function<void()> OnTick;
};

// Fires every 60000 ms.
std::unique_ptr<MinuteClock> MakeMinuteClock();

// " minute" at exactly 1, " minutes" otherwise (0 is plural too).
QString MinutesText(int minutes);

class Countdown {
  public:
    explicit Countdown(std::unique_ptr<MinuteClock> clock);
    ~Countdown();
    Countdown(const Countdown&) = delete;
    Countdown& operator=(const Countdown&) = delete;

    // The caption for the window, its title label and the tray hint.
    std::function<void(const QString& caption)> OnCaption;
    // Automatic mode changed: the tray items and the tray icon follow.
    std::function<void(bool automatic)> OnMode;
    // The countdown reached zero: the automatic walk.
    std::function<void()> OnRun;

    // The start-up state: the stored mode and the first countdown, taken as
    // stored.
    void Setup(bool automatic, int interval, int left);
    bool Automatic() const { return automatic_; }
    int Interval() const { return interval_; }
    int Left() const { return left_; }
    void SetInterval(int minutes) { interval_ = minutes; }
    void Reset() { left_ = interval_; }

    void Timer1Timer();
    void UpdateAutomaticCaptions(bool automatic, int minutes);
    bool TimerRunning() const;

    class PauseScope {
      public:
        explicit PauseScope(Countdown& countdown);
        ~PauseScope();
        PauseScope(const PauseScope&) = delete;
        PauseScope& operator=(const PauseScope&) = delete;

      private:
        Countdown& countdown_;
    };
    // Stops the timer until the returned scope (and every other one open)
    // ends; then it runs again when automatic mode is selected.
    [[nodiscard]] PauseScope Pause() { return PauseScope(*this); }
    bool Paused() const { return pauses_ > 0; }

  private:
    void Caption(const QString& text);
    void ApplyRule();

    std::unique_ptr<MinuteClock> clock_;
    bool automatic_ = false;
    int interval_ = 10;
    int left_ = 10;
    int pauses_ = 0;
};

}  // namespace kelvane
