// kelvane-cli deleted: the kept copies of deleted messages, listed,
// restored as .eml files and purged.

#include <CLI/CLI.hpp>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/deletedstore.h"
#include "base/error.h"
#include "cli/commands.h"
#include "settings/keys.h"

namespace kelvane::cli {

namespace {

struct DeletedArgs {
    std::vector<std::string> ids;
    std::string to;
    int olderThan = -1;  // -1: KeepDays
};

DeletedStore StoreOf(const Options& opts) {
    return DeletedStore(DeletedStore::FolderIn(opts.Where().programDir));
}

std::string DateText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char buf[32];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(buf, n);
}

int List(const Options& opts) {
    for (const KeptMessage& m : StoreOf(opts).List()) {
        std::cout << m.id << "\t" << DateText(m.deleted) << "\t"
                  << OneLine(m.user + " on " + m.server) << "\t" << OneLine(m.mark) << "\t"
                  << OneLine(m.sender) << "\t" << OneLine(m.subject) << "\t" << m.size;
        if (m.headersOnly) std::cout << "\theaders-only";
        std::cout << "\n";
    }
    std::cout.flush();
    return kOk;
}

int Restore(const Options& opts, const DeletedArgs& args) {
    DeletedStore store = StoreOf(opts);
    int status = kOk;
    // One unknown ID must not keep the others from coming back.
    for (const std::string& id : args.ids) {
        try {
            store.Restore(id, args.to);
        } catch (const KelvaneError& e) {
            std::cerr << e.what() << "\n";
            status = kFailed;
        }
    }
    return status;
}

int Purge(const Options& opts, const DeletedArgs& args) {
    const int days = args.olderThan >= 0
                         ? args.olderThan
                         : keys::Read(SettingsStore::OpenUser(opts.Where()), keys::KeepDays);
    // KeepDays 0 or less keeps the copies for ever, as the deletions do.
    const int removed =
        days >= 0 && (args.olderThan >= 0 || days > 0) ? StoreOf(opts).Purge(days) : 0;
    std::cout << removed << " kept messages removed\n";
    return kOk;
}

}  // namespace

void RegisterDeletedCommands(CLI::App& app, Command& command) {
    auto args = std::make_shared<DeletedArgs>();
    CLI::App* deleted = app.add_subcommand(
        "deleted",
        "The copies kept of deleted messages (the Maildir \"Deleted\" in the program\n"
        "folder), listed, restored and purged.");
    deleted->require_subcommand(1);

    CLI::App* list = deleted->add_subcommand(
        "list",
        "One line per kept message, newest first: ID TAB DATE-DELETED TAB MAILBOX\n"
        "(USER on SERVER) TAB MARK TAB SENDER TAB SUBJECT TAB SIZE, with an eighth\n"
        "field headers-only when only the header block was kept. IDs stay the same\n"
        "between runs.");
    list->callback([&command] { command = [](const Options& o) { return List(o); }; });

    CLI::App* restore = deleted->add_subcommand(
        "restore",
        "Writes each kept message to DIR/ID.eml exactly as the server sent it. An\n"
        "unknown ID is reported and the others are still restored; exit status 1\n"
        "then.");
    restore->add_option("ids", args->ids, "IDs from deleted list")->required();
    restore->add_option("--to", args->to, "Folder to write the .eml files into")
        ->required()
        ->check(CLI::ExistingDirectory);
    restore->callback(
        [&command, args] { command = [args](const Options& o) { return Restore(o, *args); }; });

    CLI::App* purge = deleted->add_subcommand(
        "purge",
        "Removes the kept messages DAYS days old or more (default: the setting\n"
        "KeepDays; 0 or less there keeps them for ever), by their file's time, and\n"
        "prints how many went.");
    purge->add_option("--older-than", args->olderThan, "Age in days")
        ->check(CLI::Range(0, 1000000));
    purge->callback(
        [&command, args] { command = [args](const Options& o) { return Purge(o, *args); }; });
}

}  // namespace kelvane::cli
