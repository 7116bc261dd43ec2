#include "ui/sound.h"

#include <QApplication>
#include <QSoundEffect>
#include <QUrl>

namespace kelvane::ui {

namespace {

class QtSound : public Sound {
  public:
    void Play(const QString& file, bool loop) override {
        // A fresh effect per alarm: a changed file must not play the old one.
        effect_ = std::make_unique<QSoundEffect>();
        effect_->setSource(QUrl::fromLocalFile(file));
        effect_->setLoopCount(loop ? QSoundEffect::Infinite : 1);
        effect_->play();
    }
    void Stop() override {
        if (effect_) effect_->stop();
    }
    void Beep() override { QApplication::beep(); }

  private:
    std::unique_ptr<QSoundEffect> effect_;
};

}  // namespace

std::unique_ptr<Sound> MakeSound() {
    return std::make_unique<QtSound>();
}

}  // namespace kelvane::ui
