#pragma once

// The alarm sound: a sound file played once or looping until stopped.
// Behind an interface so windows can test it and run without audio.

#include <string>

namespace kelvane::ui {

class AlarmSound {
  public:
    virtual ~AlarmSound() = default;
    virtual void Play(const std::string& path, bool loop) = 0;
    virtual void Stop() = 0;
};

}  // namespace kelvane::ui
