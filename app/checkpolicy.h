#pragma once

// What a check means beyond one header pass, shared by the desktop program
// and kelvane-cli: the rule set as the program loads it, the walk over the
// mailboxes with its skip and failure rules, saving the hit counts after a
// check, and the running total of deleted spam.

#include <functional>
#include <string>
#include <vector>

#include "app/checkrun.h"
#include "base/prompts.h"
#include "rules/evaluate.h"
#include "rules/knownlist.h"
#include "rules/spamsettings.h"
#include "settings/accounts.h"
#include "settings/settingsstore.h"

namespace kelvane {

// The rule lists, the size limits and the blacklist of the program folder.
struct RuleSet {
    SpamSettings spam;
    KnownSpammerList known;
    MessageEvaluator evaluator{spam, known};
    // What the damaged lists lost on loading, one line each.
    std::vector<std::string> warnings;

    explicit RuleSet(const std::string& programDir);
    RuleSet(const RuleSet&) = delete;
    RuleSet& operator=(const RuleSet&) = delete;
};

// Keeps the hit counts a check raised.
void SaveHitCounts(RuleSet& rules, const std::string& programDir);

// Adds marked to the running total of deleted spam, kept as decimal text in
// the per-user store.
void AddToTotal(const Locations& where, int marked);

// What a walk reports as it goes. Every method has a default that shows
// nothing.
class WalkReport {
  public:
    virtual ~WalkReport() = default;
    // A mailbox of the walk over all mailboxes is about to be checked.
    virtual void MailboxStarting(int /*slot*/, const PopSettings& /*account*/) {}
    // The list as it stands after a header pass or a refill.
    virtual void Listed(const MailCheck& /*check*/) {}
    virtual void Deleted(int /*marked*/) {}
    // A check or deletion failed; text is what the user is told.
    virtual void Failed(const std::string& /*text*/) {}
};

struct WalkOptions {
    bool all = false;     // every configured mailbox, 1 to 12
    int mailbox = 0;      // with all false: this slot, 0 for the default mailbox
    bool remove = false;  // delete what the rules marked, without a question
    // Strict command-by-command exchange even where the server offers
    // pipelining, for servers that offer it and get it wrong.
    bool noPipelining = false;
    // Where keyring passwords are looked up; null: the desktop's keyring,
    // never prompting.
    SecretStore* secrets = nullptr;
};

// The check of one mailbox, or the unattended walk over all of them:
// - a slot without server or user name is skipped in the walk;
// - a slot whose password cannot be had (keyring, command) fails before
//   anything is sent, and the walk goes on with the next;
// - a single check ends at its failure; the walk goes on with the messages
//   that did arrive, unless the user canceled;
// - after each pass the "MAIL CHECK" line is written and the hit counts
//   saved; with remove, the marked messages are deleted (verified) and the
//   total raised;
// - a failed deletion ends the walk, except one whose messages were deleted
//   and only the refill failed, which goes on with the next mailbox.
// canceled tells whether the user ended the run. Returns true when nothing
// failed.
bool RunChecks(MailCheck& check, RuleSet& rules, const Locations& where, const WalkOptions& options,
               WalkReport& report, const std::function<bool()>& canceled);

}  // namespace kelvane
