#include "rules/spamsettings.h"

#include <utility>

#include "base/error.h"
#include "base/fileio.h"
#include "settings/settingsstore.h"

namespace kelvane {

std::vector<std::string> SpamSettings::readSettings(const std::string& programDir) {
    std::vector<std::string> warnings;
    auto load = [&](RuleList& list, const char* name) {
        list.Load(JoinPath(programDir, name));
        warnings.insert(warnings.end(), list.Warnings().begin(), list.Warnings().end());
    };
    load(SubjectRule, kSubjectFile);
    load(HeaderRule, kHeaderFile);
    load(SenderRule, kSenderFile);
    load(ExceptionRule, kExceptionFile);

    const SettingsStore ini = SettingsStore::OpenProgram(JoinPath(programDir, kIniFile));
    KnownSpammers = keys::Read(ini, keys::QMonitor);
    Limits.smallerEnabled = keys::Read(ini, keys::QSmaller);
    Limits.smallerBytes = keys::Read(ini, keys::SmallerNum);
    Limits.smallerCheck = keys::Read(ini, keys::SmallerCheck);
    Limits.largerEnabled = keys::Read(ini, keys::QLarger);
    Limits.largerBytes = keys::Read(ini, keys::LargerNum);
    Limits.largerCheck = keys::Read(ini, keys::LargerCheck);
    return warnings;
}

void SpamSettings::Savesettings(const std::string& programDir, SaveMode mode) {
    // Hit counts in the files that can be written are worth keeping even
    // when another file fails, so every write is tried before reporting.
    std::string firstError;
    auto attempt = [&](auto&& write) {
        try {
            write();
        } catch (const StoreError& e) {
            if (firstError.empty()) firstError = e.what();
        }
    };
    const std::pair<RuleList*, const char*> lists[] = {{&SubjectRule, kSubjectFile},
                                                       {&HeaderRule, kHeaderFile},
                                                       {&SenderRule, kSenderFile},
                                                       {&ExceptionRule, kExceptionFile}};
    if (mode == SaveMode::Automatic) {
        // Most checks credit no rule at all: then there is nothing to lock.
        bool gained = false;
        for (const auto& [list, name] : lists)
            gained = gained || (!list->Damaged() && list->HasNewHits());
        if (!gained) return;
    }
    // Without a lock file (a folder we cannot write) the writes fail on
    // their own.
    const FileLock lock(JoinPath(programDir, kLockFile));
    for (const auto& entry : lists) {
        RuleList* list = entry.first;  // not a binding: clang 14 cannot capture one
        const std::string path = JoinPath(programDir, entry.second);
        if (mode == SaveMode::Explicit)
            attempt([&] { list->Save(path); });
        else if (!list->Damaged())
            attempt([&] { list->MergeHits(path); });
    }
    if (mode == SaveMode::Automatic) {
        if (!firstError.empty()) throw StoreError(firstError);
        return;
    }

    attempt([&] {
        SettingsStore ini = SettingsStore::OpenProgram(JoinPath(programDir, kIniFile));
        keys::Write(ini, keys::QMonitor, KnownSpammers);
        keys::Write(ini, keys::QSmaller, Limits.smallerEnabled);
        keys::Write(ini, keys::SmallerNum, Limits.smallerBytes);
        keys::Write(ini, keys::SmallerCheck, Limits.smallerCheck);
        keys::Write(ini, keys::QLarger, Limits.largerEnabled);
        keys::Write(ini, keys::LargerNum, Limits.largerBytes);
        keys::Write(ini, keys::LargerCheck, Limits.largerCheck);
    });
    if (!firstError.empty()) throw StoreError(firstError);
}

std::vector<std::string> SpamSettings::Warnings() const {
    std::vector<std::string> out;
    for (const RuleList* list : {&SubjectRule, &HeaderRule, &SenderRule, &ExceptionRule})
        out.insert(out.end(), list->Warnings().begin(), list->Warnings().end());
    return out;
}

}  // namespace kelvane
