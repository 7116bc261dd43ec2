#pragma once

#include <string>

namespace kelvane {

// How the core talks to the user: the windows show message boxes, the
// command line prints, and tests answer.
class UserPrompts {
  public:
    virtual ~UserPrompts() = default;
    // An information message with an OK button.
    virtual void Information(const std::string& text) = 0;
    // A confirmation with Yes and No; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;
};

}  // namespace kelvane
