#include "app/gui/countdown.h"

#include <QTimer>

namespace kelvane {

namespace {

class QtMinuteClock : public MinuteClock {
  public:
    QtMinuteClock() {
        timer_.setInterval(60000);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (OnTick) OnTick();
        });
    }
    void Start() override { timer_.start(); }
    void Stop() override { timer_.stop(); }
    bool Running() const override { return timer_.isActive(); }

  private:
    QTimer timer_;
};

const QString kProgram = "Kelvane";
const QString kNextCheck = " - next e-mail check in ";

}  // namespace

std::unique_ptr<MinuteClock> MakeMinuteClock() {
    return std::make_unique<QtMinuteClock>();
}

QString MinutesText(int minutes) {
    return QString::number(minutes) + (minutes == 1 ? " minute" : " minutes");
}

Countdown::Countdown(std::unique_ptr<MinuteClock> clock) : clock_(std::move(clock)) {
    clock_->Stop();
    clock_->OnTick = [this] { Timer1Timer(); };
}

Countdown::~Countdown() {
    clock_->OnTick = nullptr;
}

void Countdown::Setup(bool automatic, int interval, int left) {
    interval_ = interval;
    left_ = left;
    UpdateAutomaticCaptions(automatic, left);
}

bool Countdown::TimerRunning() const {
    return clock_->Running();
}

void Countdown::Caption(const QString& text) {
    if (OnCaption) OnCaption(text);
}

void Countdown::ApplyRule() {
    if (automatic_ && pauses_ == 0)
        clock_->Start();
    else
        clock_->Stop();
}

void Countdown::UpdateAutomaticCaptions(bool automatic, int minutes) {
    automatic_ = automatic;
    ApplyRule();
    Caption(automatic ? kProgram + kNextCheck + MinutesText(minutes) : kProgram);
    if (OnMode) OnMode(automatic);
}

void Countdown::Timer1Timer() {
    --left_;
    UpdateAutomaticCaptions(automatic_, interval_);
    if (left_ > 0) {
        Caption(kProgram + kNextCheck + MinutesText(left_));
        return;
    }
    {
        // The walk is a run: no tick while it talks to the servers. Its
        // report may set the caption of the mailbox it stopped at.
        PauseScope pause(*this);
        Caption("Kelvane - Now automatically checking e-mail");
        if (OnRun) OnRun();
        // Also after a failed walk: the next one comes a full interval
        // later, not at the next tick.
        Reset();
    }
}

Countdown::PauseScope::PauseScope(Countdown& countdown) : countdown_(countdown) {
    ++countdown_.pauses_;
    countdown_.clock_->Stop();
}

Countdown::PauseScope::~PauseScope() {
    --countdown_.pauses_;
    countdown_.ApplyRule();
}

}  // namespace kelvane
