#pragma once

// Where a mailbox password may live besides the settings file: the
// desktop's keyring (the freedesktop Secret Service). The check and the
// command line see only this interface, so tests give it a fake and nothing
// depends on a daemon being there.

#include <memory>
#include <string>

namespace kelvane {

class SecretStore {
  public:
    enum class Status {
        Found,
        Missing,      // the keyring answered and holds no such item
        Unavailable,  // no keyring answered, or it stayed locked
    };
    struct Lookup {
        Status status = Status::Unavailable;
        std::string secret;
        std::string detail;  // why it was unavailable; never holds a secret
    };

    virtual ~SecretStore() = default;
    // The item of exactly this server text and user name; never another's.
    virtual Lookup Find(const std::string& server, const std::string& user) = 0;
    // False (with detail) when no keyring took it.
    virtual bool Store(const std::string& server, const std::string& user,
                       const std::string& secret, std::string& detail) = 0;
    // False when no keyring answered; removing what is not there succeeds.
    virtual bool Remove(const std::string& server, const std::string& user) = 0;
};

// The Secret Service on the session bus. Without mayPrompt a locked
// collection counts as unavailable (unattended runs must never show a
// dialog); every call ends within a few seconds when no bus or service is
// there, or within a couple of minutes while the Secret Service's own
// unlock prompt waits for the user.
std::unique_ptr<SecretStore> MakeDesktopSecretStore(bool mayPrompt);

// "Kelvane: USER on SERVER", the label the user sees in the keyring.
std::string SecretLabel(const std::string& server, const std::string& user);

}  // namespace kelvane
