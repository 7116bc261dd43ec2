#pragma once

// The alarm sound behind a small interface: the windows ask for a file to
// be played or stopped, tests record what was asked.

#include <QString>
#include <memory>

namespace kelvane::ui {

class Sound {
  public:
    virtual ~Sound() = default;
    // Plays the file asynchronously, looping until Stop when loop is set.
    virtual void Play(const QString& file, bool loop) = 0;
    virtual void Stop() = 0;
    // The desktop's warning beep.
    virtual void Beep() = 0;
};

// Qt Multimedia. On a machine without audio it stays silent and never
// blocks.
std::unique_ptr<Sound> MakeSound();

}  // namespace kelvane::ui
