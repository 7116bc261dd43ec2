#pragma once

// A keyring in memory for the tests: items by (server, user), or no answer
// at all when told so.

#include <map>
#include <string>
#include <utility>

#include "settings/secretstore.h"

namespace kelvane::test {

class FakeSecrets : public SecretStore {
  public:
    bool answers = true;
    std::map<std::pair<std::string, std::string>, std::string> items;
    int calls = 0;

    Lookup Find(const std::string& server, const std::string& user) override {
        ++calls;
        if (!answers) return {Status::Unavailable, {}, "no session bus"};
        const auto it = items.find({server, user});
        if (it == items.end()) return {Status::Missing, {}, {}};
        return {Status::Found, it->second, {}};
    }
    bool Store(const std::string& server, const std::string& user, const std::string& secret,
               std::string& detail) override {
        ++calls;
        if (!answers) detail = "no session bus";
        if (answers) items[{server, user}] = secret;
        return answers;
    }
    bool Remove(const std::string& server, const std::string& user) override {
        ++calls;
        if (answers) items.erase({server, user});
        return answers;
    }
};

}  // namespace kelvane::test
