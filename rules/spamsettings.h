#pragma once

// The user's rule set: four ordered rule lists, the two size limits and the
// known-spammer switch, with the files they live in.

#include <cstdint>
#include <string>
#include <vector>

#include "rules/rulelist.h"
#include "settings/keys.h"

namespace kelvane {

struct SizeLimits {
    bool smallerEnabled = keys::QSmaller.def;
    int32_t smallerBytes = keys::SmallerNum.def;
    bool smallerCheck = keys::SmallerCheck.def;  // true: check mark, false: question mark
    bool largerEnabled = keys::QLarger.def;
    int32_t largerBytes = keys::LargerNum.def;
    bool largerCheck = keys::LargerCheck.def;
};

enum class SaveMode {
    // After a mail check: only the hit counts the check added, merged into
    // each list file as it is now (RuleList::MergeHits), so edits made to
    // the files while the check ran survive; Kelvane.ini is not written. A
    // list whose file was damaged when loaded is skipped, so that lines it
    // could not read stay in the file until the user decides.
    Automatic,
    // The user confirmed the dialog or added rules: every list is written,
    // damaged or not, which clears the damage marks.
    Explicit
};

class SpamSettings {
  public:
    static constexpr const char* kSubjectFile = "subj.lst";
    static constexpr const char* kSenderFile = "from.lst";
    static constexpr const char* kHeaderFile = "header.lst";
    static constexpr const char* kExceptionFile = "except.lst";
    static constexpr const char* kIniFile = "Kelvane.ini";
    // Held by every save of the lists, so a check's hit counts and the
    // user's own save never interleave.
    static constexpr const char* kLockFile = "Kelvane.lock";

    RuleList SubjectRule{RuleKind::Subject};
    RuleList SenderRule{RuleKind::Sender};
    RuleList HeaderRule{RuleKind::Header};
    RuleList ExceptionRule{RuleKind::Exception};
    SizeLimits Limits;
    bool KnownSpammers = keys::QMonitor.def;

    // Loads the lists in the order subject, header, sender, exception, then
    // the INI keys. A file that cannot be read raises StoreError; that list
    // and everything after it keep their previous content. Returns the
    // warnings of the damaged files.
    std::vector<std::string> readSettings(const std::string& programDir);
    // Writes the lists and the INI keys (see SaveMode). A failure does not
    // stop the other writes; afterwards the first failure is raised as
    // StoreError.
    void Savesettings(const std::string& programDir, SaveMode mode);

    // The warnings of all four lists as last loaded.
    std::vector<std::string> Warnings() const;
};

}  // namespace kelvane
