#pragma once

#include <stdexcept>
#include <string>

namespace kelvane {

// Every failure the user may see is an error carrying its message text.
class KelvaneError : public std::runtime_error {
  public:
    explicit KelvaneError(const std::string& message) : std::runtime_error(message) {}
};

// A settings value that cannot be stored or read, or a file that cannot be written.
class StoreError : public KelvaneError {
  public:
    using KelvaneError::KelvaneError;
};

}  // namespace kelvane
