#pragma once

// The dial-up component. Linux has no remote-access service to dial through,
// so there are never any entries: an empty Service connects without any
// dial-up step, and naming a Service reports that dial-up is unavailable.

#include <functional>
#include <string>
#include <vector>

#include "base/prompts.h"
#include "mail/agsocket.h"

namespace kelvane {

inline constexpr const char* kRasUnavailableText =
    "TagRas component was unable to detect\nRAS on your system.";

class TagRas : public DialUpLink {
  public:
    // Messages of the Service setter reach the user through prompts (may be null).
    explicit TagRas(UserPrompts* prompts = nullptr) : prompts_(prompts) {}

    // The phone book's entries: none here.
    std::vector<std::string> Entries() const { return {}; }

    const std::string& Service() const { return service_; }
    // An empty value clears it; any other is refused with the message above.
    void SetService(const std::string& name);

    bool ForceService = true;
    bool MinimizeAtConnect = false;
    std::string Password;
    bool RemovePassword = true;
    int TimeOut = 120;
    std::function<void(TagRas&, const std::string&)> OnStatusChange;
    std::function<void(TagRas&)> OnDisconnected;

    bool Connected() const { return connected_; }

    // With no Service the connection counts as there already; nothing is dialled.
    void Connect() override;
    // Hangs up only what this component dialled, which here is never anything.
    void HangUp() override;

  private:
    UserPrompts* prompts_;
    std::string service_;
    bool connected_ = false;
    bool canceling_ = false;
};

}  // namespace kelvane
