#pragma once

// The live general options and the mailbox table, as the general settings
// dialog holds them and as kelvane-cli and the main window read them.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "settings/accounts.h"
#include "settings/keys.h"
#include "settings/settingsstore.h"

namespace kelvane {

struct GeneralSettings {
    std::string logfile;
    std::string mailer;
    std::string alarmFile;
    bool automatic = keys::Automatic.def;
    bool ask = keys::Ask.def;
    bool kill = keys::Kill.def;
    int minutes = keys::Minutes.def;
    bool launch = keys::Launch.def;
    bool exit = keys::Exit.def;
    bool alarm = keys::Alarm.def;
    bool repeat = keys::Repeat.def;
    int ras = keys::RAS.def;
    std::string count = keys::Count.def;
    bool sysTray = keys::SysTray.def;
    bool pipelining = keys::Pipelining.def;
    int timeOut = keys::TimeOut.def;
    bool keepDeleted = keys::KeepDeleted.def;
    int keepDays = keys::KeepDays.def;
    int keepMaxKB = keys::KeepMaxKB.def;
    bool notify = keys::Notify.def;
    MailboxTable table;

    // Every general key and the mailbox table; missing keys give their defaults.
    static GeneralSettings Read(const SettingsStore& user);

    // The general keys and the mailbox table as one change of the store.
    // With since, a general key is written only when it differs from since
    // (the value last read or written), so a key another program changed
    // meanwhile and the user did not touch keeps its new value. The table
    // is written whole; it must have passed Check.
    void Write(SettingsStore& user, const GeneralSettings* since = nullptr) const;
    // The general keys alone, as Write does them.
    void WriteGeneral(SettingsStore& user, const GeneralSettings* since = nullptr) const;

    // The first refusal of the mailbox table, slot by slot, or nothing.
    std::optional<SaveServerResult> Check() const;
    // The pinned fingerprints in their stored form, once Check passed.
    void NormalizeFingerprints();

    // After a deletion the list is left empty for the mail program only when
    // there is a program to start; otherwise nothing would show what is left.
    bool LaunchAfterDeletion() const;
    bool ManualMode() const { return !automatic; }
};

// One row of the general keys: the key and the member that holds it. The
// pages of the dialog bind their controls to the same members.
using GeneralField =
    std::variant<std::string GeneralSettings::*, bool GeneralSettings::*, int GeneralSettings::*>;
struct GeneralKeyRow {
    std::variant<keys::StringKey, keys::BoolKey, keys::IntKey> key;
    GeneralField field;
};
// In the order they are written.
const std::vector<GeneralKeyRow>& GeneralKeyRows();

}  // namespace kelvane
