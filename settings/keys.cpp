#include "settings/keys.h"

#include <string>

#include "base/text.h"

namespace kelvane::keys {

namespace {
bool Is(const std::string& section, const std::string& key, const char* s, const char* k) {
    return AsciiIEquals(section, s) && AsciiIEquals(key, k);
}
}  // namespace

std::optional<std::string> UserStoreDefault(const std::string& section, const std::string& key) {
    for (const UserKeyRow& k : kUserKeys) {
        if (!Is(section, key, k.section, k.key)) continue;
        if (k.kind == UserKeyRow::Text) return std::string(k.text);
        return std::to_string(k.integer);
    }
    if (AsciiIEquals(section, ServerSection)) {
        for (const char* prefix :
             {ServerPrefix, MailboxPrefix, PasswdPrefix, FingerprintPrefix, PasswordCommandPrefix})
            if (AsciiIStartsWith(key, prefix)) return std::string();
        if (AsciiIStartsWith(key, PasswordStorePrefix)) return std::string("file");
        if (AsciiIStartsWith(key, AuthPrefix)) return std::string("user");
        if (AsciiIStartsWith(key, SecurityPrefix)) return std::string("0");
    }
    return std::nullopt;
}

}  // namespace kelvane::keys
