#include "app/checkpolicy.h"

#include <charconv>
#include <cstdint>
#include <memory>

#include "base/fileio.h"
#include "settings/keys.h"

namespace kelvane {

RuleSet::RuleSet(const std::string& programDir) {
    warnings = spam.readSettings(programDir);
    known.LoadUpKnownList(JoinPath(programDir, "known.lst"));
}

void SaveHitCounts(RuleSet& rules, const std::string& programDir) {
    rules.spam.Savesettings(programDir, SaveMode::Automatic);
}

void AddToTotal(const Locations& where, int marked) {
    SettingsStore user = SettingsStore::OpenUser(where);
    // Read and raised under the store's lock, so two runs both count.
    user.Batch([&] {
        const std::string stored = keys::Read(user, keys::Count);
        std::int32_t small = 0;
        long long total = 0;
        // A total past 32 bits, as this function writes it, must not read
        // back as nothing.
        if (ParseStoredInteger(stored, small)) {
            total = small;
        } else {
            const char* end = stored.data() + stored.size();
            if (std::from_chars(stored.data(), end, total).ptr != end) total = 0;
        }
        keys::Write(user, keys::Count, std::to_string(total + marked));
    });
}

namespace {

// The unattended run asks nothing.
class SilentPrompts : public UserPrompts {
  public:
    void Information(const std::string&) override {}
    bool Confirm(const std::string&) override { return true; }
};

}  // namespace

bool RunChecks(MailCheck& check, RuleSet& rules, const Locations& where, const WalkOptions& options,
               WalkReport& report, const std::function<bool()>& canceled) {
    const SettingsStore user = SettingsStore::OpenUser(where);
    MailboxTable table;
    readServerSettings(user, table);

    std::vector<int> slots;
    if (options.all) {
        for (int n = 1; n <= keys::MailboxSlots; ++n)
            slots.push_back(n);
    } else {
        slots.push_back(options.mailbox != 0 ? options.mailbox : keys::Read(user, keys::Which));
    }

    std::unique_ptr<SecretStore> desktop;
    if (!options.secrets) desktop = MakeDesktopSecretStore(false);
    SecretStore& secrets = options.secrets ? *options.secrets : *desktop;

    bool ok = true;
    const auto fail = [&](const std::string& text) {
        report.Failed(text);
        ok = false;
    };
    for (int slot : slots) {
        if (canceled()) break;
        PopSettings account = GetRemotePOPSettings(user, slot);
        if (options.noPipelining) account.pipelining = false;
        const auto shown = [&](const KelvaneError& e) {
            return ShownErrorText(e.what(), account.userName, account.host);
        };
        if (options.all && (account.host.empty() || account.userName.empty())) continue;
        const int index = serverToIndex(table, account.host, account.userName);
        check.LoadAccount(account, index);
        if (auto missing = check.MissingAccountText()) {
            fail(*missing);
            continue;
        }
        if (options.all) report.MailboxStarting(slot, account);
        try {
            FetchSlotPassword(user, slot, account, secrets);
        } catch (const KelvaneError& e) {
            fail(e.what());
            if (!options.all) return ok;
            continue;
        }
        check.LoadAccount(account, index);

        try {
            check.UpdateInfo();
        } catch (const KelvaneError& e) {
            fail(shown(e));
            if (!options.all || canceled()) return ok;
        }
        check.LogMailCheck();
        report.Listed(check);
        SaveHitCounts(rules, where.programDir);

        if (!options.remove) continue;
        SilentPrompts prompts;
        DeletionOptions deletion;
        deletion.manualMode = false;
        try {
            const DeletionResult result = check.DeleteMessages(
                deletion, prompts, [&](int marked) { AddToTotal(where, marked); });
            report.Deleted(result.marked);
            report.Listed(check);
            if (!result.totalError.empty()) fail(result.totalError);
        } catch (const RefillError& e) {
            // The deletion itself is done: say so, and go on with the others.
            report.Deleted(e.Marked());
            fail(shown(e));
            if (!options.all || canceled()) return ok;
        } catch (const KelvaneError& e) {
            fail(shown(e));
            return ok;
        }
    }
    return ok;
}

}  // namespace kelvane
