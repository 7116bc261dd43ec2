// kelvane-cli mailbox ... and settings ...: the per-user store from scripts.

#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "app/checkrun.h"
#include "base/error.h"
#include "cli/commands.h"
#include "mail/popprobe.h"
#include "settings/accounts.h"
#include "settings/keys.h"

namespace kelvane::cli {

namespace {

int Fail(const std::string& message) {
    std::cerr << message << "\n";
    return kFailed;
}

int ListMailboxes(const Options& opts) {
    MailboxTable t;
    readServerSettings(SettingsStore::OpenUser(opts.Where()), t);
    for (int n = 1; n <= keys::MailboxSlots; ++n) {
        const MailboxAccount& a = t.slot(n);
        if (a.server.empty() && a.userName.empty()) continue;
        std::cout << n << "\t" << a.server << "\t" << a.userName << "\t" << SecurityName(a.security)
                  << "\t" << PasswordSourceName(a.passwordSource)
                  << (n == t.defaultMailbox ? "\tdefault" : "") << "\n";
    }
    return kOk;
}

struct SetArgs {
    int slot = 0;
    std::optional<std::string> server, user;
    bool passwordStdin = false;
    std::optional<std::string> passwordCommand;
    bool movePassword = false;
    std::optional<std::string> security;
    std::optional<std::string> fingerprint;
    std::optional<std::string> auth;
};

const std::map<std::string, ConnectionSecurity> kSecurityNames = {
    {"none", ConnectionSecurity::None},
    {"tls", ConnectionSecurity::Tls},
    {"starttls", ConnectionSecurity::StartTls},
};

int MovePassword(const Options& opts, int slot) {
    SettingsStore store = SettingsStore::OpenUser(opts.Where());
    const auto secrets = MakeDesktopSecretStore(false);
    const std::string n = std::to_string(slot);
    switch (MovePasswordToKeyring(store, *secrets, slot)) {
        case MoveOutcome::Moved:
        case MoveOutcome::AlreadyThere:
            return kOk;
        case MoveOutcome::NoPassword:
            return Fail("Mailbox " + n + " has no password in the settings file to move");
        case MoveOutcome::FromCommand:
            return Fail("Mailbox " + n + " takes its password from a command");
        case MoveOutcome::NoKeyring:
            break;
    }
    return Fail(NoKeyringText(slot));
}

int SetMailbox(const Options& opts, const SetArgs& args) {
    if (args.movePassword) return MovePassword(opts, args.slot);
    SettingsStore store = SettingsStore::OpenUser(opts.Where());
    MailboxTable t;
    readServerSettings(store, t);
    const MailboxAccount was = t.slot(args.slot);
    MailboxAccount a = was;
    a.server = *args.server;
    a.userName = *args.user;
    if (args.passwordStdin) {
        std::string line;
        std::getline(std::cin, line);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        a.password = line;
        a.passwordSource = PasswordSource::Keyring;
    }
    if (args.passwordCommand) {
        a.passwordSource = PasswordSource::Command;
        a.passwordCommand = *args.passwordCommand;
        a.password.clear();
    }
    if (args.security) a.security = kSecurityNames.at(*args.security);
    if (args.auth) a.signIn = *ParseSignIn(*args.auth);
    if (args.fingerprint) {
        if (args.fingerprint->empty()) {
            a.fingerprint.clear();
        } else if (const auto pin = NormalizeFingerprint(*args.fingerprint)) {
            a.fingerprint = *pin;
        } else {
            return Fail("The fingerprint must be 64 hexadecimal digits (colons allowed)");
        }
    }
    if (!a.fingerprint.empty() && a.security == ConnectionSecurity::None)
        return Fail("A pinned fingerprint needs --security tls or starttls");
    if (a.signIn == SignIn::XOAuth2 && a.security == ConnectionSecurity::None) {
        std::cerr << "XOAUTH2 sign-in needs --security tls or starttls: a token never crosses a "
                     "plain connection\n";
        return kUsageError;
    }
    const std::unique_ptr<SecretStore> secrets = MakeDesktopSecretStore(false);
    const SlotPasswordStep step =
        PrepareSlotPassword(args.slot, *secrets, was, a, args.passwordStdin);
    if (step.refusal) return Fail(step.refusal->message + "; give it with --password-stdin");
    // Refuse before anything is written, so a bad slot never replaces a good one.
    if (auto bad = CheckAccountText(args.slot, a)) {
        std::cerr << bad->message << "\n";
        return kUsageError;
    }
    if (auto bad = CheckPasswordLength(args.slot, a)) return Fail(bad->message);
    if (auto bad = CheckMailboxSlot(args.slot, a)) return Fail(bad->message);
    if (step.toKeyring && !StoreSlotPassword(*secrets, a))
        std::cerr << NoKeyringText(args.slot) << "\n";
    WriteMailboxSlot(store, args.slot, a);
    ForgetReplacedKeyringPassword(*secrets, was, a);
    return kOk;
}

struct ProbeArgs {
    int slot = 0;
    std::optional<std::string> security;
};

int ProbeMailbox(const Options& opts, const ProbeArgs& args) {
    PopSettings account = GetRemotePOPSettings(SettingsStore::OpenUser(opts.Where()), args.slot);
    if (account.host.empty())
        return Fail("Mailbox " + std::to_string(args.slot) + " has no server");
    if (args.security) account.security = kSecurityNames.at(*args.security);
    if (account.security == ConnectionSecurity::None)
        return Fail("Mailbox " + std::to_string(args.slot) +
                    " connects in plain text; give --security tls or starttls");
    try {
        const CertificateInfo c = ProbeCertificate(account);
        std::cout << "Subject: " << c.subject << "\n"
                  << "Issuer: " << c.issuer << "\n"
                  << "Valid from: " << c.notBefore << "\n"
                  << "Valid until: " << c.notAfter << "\n"
                  << "SHA-256 fingerprint: " << FormatFingerprint(c.fingerprint) << "\n"
                  << "Trust store: " << (c.trustProblem.empty() ? "accepted" : c.trustProblem)
                  << "\n";
        if (const auto pin = NormalizeFingerprint(account.fingerprint))
            std::cout << "Pinned fingerprint: " << (*pin == c.fingerprint ? "matches" : "differs")
                      << "\n";
    } catch (const KelvaneError& e) {
        return Fail(ShownErrorText(e.what(), account.userName, account.host));
    }
    return kOk;
}

int ClearMailbox(const Options& opts, int slot) {
    SettingsStore store = SettingsStore::OpenUser(opts.Where());
    MailboxTable t;
    readServerSettings(store, t);
    if (!ForgetKeyringPassword(*MakeDesktopSecretStore(false), t.slot(slot)))
        std::cerr << "No keyring answered: the keyring item of mailbox " << slot
                  << " could not be removed\n";
    WriteMailboxSlot(store, slot, MailboxAccount{});
    return kOk;
}

int DefaultMailbox(const Options& opts, int slot) {
    SettingsStore store = SettingsStore::OpenUser(opts.Where());
    keys::Write(store, keys::Which, slot);
    return kOk;
}

}  // namespace

void RegisterMailboxCommands(CLI::App& app, Command& command) {
    CLI::App* mailbox = app.add_subcommand("mailbox", "List and change the twelve mailbox slots");
    mailbox->require_subcommand(1);

    mailbox
        ->add_subcommand("list",
                         "One line per configured slot: number, server, user name, security, "
                         "where the password lives (keyring, file or command), and "
                         "\"default\" for the default mailbox")
        ->callback([&command] { command = ListMailboxes; });

    auto setArgs = std::make_shared<SetArgs>();
    CLI::App* set = mailbox->add_subcommand("set", "Configure slot N");
    set->add_option("N", setArgs->slot, "Slot number")->required()->check(CLI::Range(1, 12));
    auto* server = set->add_option("--server", setArgs->server, "POP3 server host name");
    auto* user = set->add_option("--user", setArgs->user, "User name (mailbox name)");
    auto* fromStdin = set->add_flag(
        "--password-stdin", setArgs->passwordStdin,
        "Read the password from the first line of standard input and keep it in the desktop's "
        "keyring, or scrambled in the settings file when no keyring answers (without a "
        "password option the stored password is kept)");
    auto* fromCommand = set->add_option(
        "--password-command", setArgs->passwordCommand,
        "Run CMD through /bin/sh -c at each check and take the first line it prints as the "
        "password or token (pass, secret-tool, an OAuth 2.0 token helper)");
    fromCommand->excludes(fromStdin);
    auto* move = set->add_flag("--move-password", setArgs->movePassword,
                               "Move the slot's password from the settings file into the "
                               "keyring (no other option)");
    set->add_option("--auth", setArgs->auth,
                    "Sign-in: user (USER and PASS) or xoauth2 (the password is an OAuth 2.0 "
                    "access token; needs tls or starttls)")
        ->check(CLI::IsMember({"user", "xoauth2"}));
    set->add_option("--security", setArgs->security,
                    "Connection security: none, tls (port 995 by default) or starttls "
                    "(without it the slot's choice is kept)")
        ->check(CLI::IsMember({"none", "tls", "starttls"}));
    set->add_option("--fingerprint", setArgs->fingerprint,
                    "Accept only the server certificate with this SHA-256 fingerprint "
                    "(as 'mailbox probe' shows it; empty to remove)");
    set->callback([&command, setArgs, set, move, server, user] {
        if (setArgs->movePassword) {
            // Moving touches nothing but the password.
            for (const CLI::Option* other : set->get_options())
                if (other != move && other->get_name() != "N" && other->count() > 0)
                    throw CLI::ExcludesError(move->get_name(), other->get_name());
        } else {
            for (const CLI::Option* required : {server, user})
                if (required->count() == 0) throw CLI::RequiredError(required->get_name());
        }
        command = [setArgs](const Options& o) { return SetMailbox(o, *setArgs); };
    });

    auto probeArgs = std::make_shared<ProbeArgs>();
    CLI::App* probe = mailbox->add_subcommand(
        "probe", "Show the server certificate of slot N, whoever issued it; sends no password");
    probe->add_option("N", probeArgs->slot, "Slot number")->required()->check(CLI::Range(1, 12));
    probe->add_option("--security", probeArgs->security, "tls or starttls instead of the slot's")
        ->check(CLI::IsMember({"tls", "starttls"}));
    probe->callback([&command, probeArgs] {
        command = [probeArgs](const Options& o) { return ProbeMailbox(o, *probeArgs); };
    });

    auto slot = std::make_shared<int>(0);
    CLI::App* clear = mailbox->add_subcommand("clear", "Empty slot N");
    clear->add_option("N", *slot, "Slot number")->required()->check(CLI::Range(1, 12));
    clear->callback([&command, slot] {
        command = [slot](const Options& o) { return ClearMailbox(o, *slot); };
    });

    auto which = std::make_shared<int>(0);
    CLI::App* def = mailbox->add_subcommand("default", "Make slot N the default mailbox");
    def->add_option("N", *which, "Slot number")->required()->check(CLI::Range(1, 12));
    def->callback([&command, which] {
        command = [which](const Options& o) { return DefaultMailbox(o, *which); };
    });
}

namespace {

struct KeyArgs {
    std::string section, key, value;
};

int GetSetting(const Options& opts, const KeyArgs& a) {
    SettingsStore store = SettingsStore::OpenUser(opts.Where());
    std::string def = keys::UserStoreDefault(a.section, a.key).value_or("");
    std::cout << store.ReadString(a.section, a.key, def) << "\n";
    return kOk;
}

int SetSetting(const Options& opts, const KeyArgs& a) {
    for (const auto& [name, isKey] : {std::pair{&a.section, false}, std::pair{&a.key, true}}) {
        if (IsStorableName(*name, isKey)) continue;
        std::cerr
            << "\"" << OneLine(*name)
            << "\" cannot be stored: a section or key name must not be empty, begin or end "
               "with a blank, or hold a line break, \"=\", \"[\" or \"]\", and a key must not "
               "begin with \";\" or \"#\"\n";
        return kUsageError;
    }
    SettingsStore store = SettingsStore::OpenUser(opts.Where());
    store.WriteString(a.section, a.key, a.value);
    return kOk;
}

}  // namespace

void RegisterSettingsCommands(CLI::App& app, Command& command) {
    CLI::App* settings = app.add_subcommand("settings", "Read and write the per-user store");
    settings->require_subcommand(1);

    auto getArgs = std::make_shared<KeyArgs>();
    CLI::App* get = settings->add_subcommand(
        "get", "Print the value of KEY in SECTION (its default when not stored)");
    get->add_option("SECTION", getArgs->section)->required();
    get->add_option("KEY", getArgs->key)->required();
    get->callback([&command, getArgs] {
        command = [getArgs](const Options& o) { return GetSetting(o, *getArgs); };
    });

    auto setArgs = std::make_shared<KeyArgs>();
    CLI::App* set = settings->add_subcommand("set", "Store VALUE as KEY in SECTION");
    set->add_option("SECTION", setArgs->section)->required();
    set->add_option("KEY", setArgs->key)->required();
    set->add_option("VALUE", setArgs->value)->required();
    set->callback([&command, setArgs] {
        command = [setArgs](const Options& o) { return SetSetting(o, *setArgs); };
    });
}

}  // namespace kelvane::cli
