#include "app/checkrun.h"

#include <ctime>

#include "app/copywriter.h"
#include "app/deletedstore.h"
#include "base/text.h"
#include "mail/headers.h"
#include "settings/keys.h"

namespace kelvane {

std::string ListSenderText(std::string_view from) {
    // One odd From must not end the check of every other message.
    return AddressOrText(from);
}

std::string ListDateText(std::string_view date) {
    const MailDate parsed = ParseMailDate(date);
    const auto parts = parsed.Value != 0 ? DecodeDateTime(parsed.Value) : std::nullopt;
    if (!parts) return std::string(date);
    std::tm tm{};
    tm.tm_year = parts->Year - 1900;
    tm.tm_mon = parts->Month - 1;
    tm.tm_mday = parts->Day;
    tm.tm_hour = parts->Hour;
    tm.tm_min = parts->Minute;
    tm.tm_sec = parts->Second;
    // The day of the week for formats that show it, without mktime: that
    // consults the time zone files on every call, once per listed message.
    const int y = parts->Month <= 2 ? parts->Year - 1 : parts->Year;
    const int m = parts->Month <= 2 ? parts->Month + 12 : parts->Month;
    tm.tm_wday = (parts->Day + (13 * (m + 1)) / 5 + y + y / 4 - y / 100 + y / 400 + 6) % 7;
    const bool midnight = parts->Hour == 0 && parts->Minute == 0 && parts->Second == 0;
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, midnight ? "%x" : "%x %X", &tm);
    return std::string(buf, n);
}

std::string NotKeptText(int count) {
    return std::to_string(count) + " messages could not be kept and were not deleted";
}

const char* MarkName(MessageMark mark) {
    switch (mark) {
        case mmDelete:
            return "delete";
        case mmQuestion:
            return "question";
        case mmException:
            return "exception";
        case mmKnownSpammer:
            return "known-spammer";
        case mmNone:
            break;
    }
    return "none";
}

std::string DeletedText(int marked) {
    return "There were " + std::to_string(marked) + " messages deleted";
}

std::string ShownErrorText(std::string_view text, std::string_view user, std::string_view server) {
    const std::string where = " (" + std::string(user) + " on " + std::string(server) + ")";
    if (text == kTextEmptyReply) return std::string(text) + where;
    if (!text.empty() && text.front() != '\0') return std::string(text);
    return "The server closed the connection" + where;
}

std::string FailedMailboxText(std::string_view text, std::string_view user,
                              std::string_view server) {
    return "Mailbox " + std::string(user) + " on server " + std::string(server) + ":\n" +
           ShownErrorText(text, user, server);
}

MailCheck::MailCheck(TmsRemotePOP& pop, MessageList& list, MessageEvaluator& evaluator,
                     ActivityLog& log, CheckView& view)
    : pop_(pop), list_(list), evaluator_(evaluator), log_(log), view_(view) {
    Bind();
}

MailCheck::~MailCheck() {
    Unbind();
}

template <typename Write>
void MailCheck::QuietLog(Write write) {
    try {
        write();
    } catch (const KelvaneError&) {
    }
}

void MailCheck::Bind() {
    const auto status = [this](std::string text) {
        return [this, text](TagSocket&) { view_.Status(text); };
    };
    pop_.OnOpen = [this](TagSocket&) {
        view_.Status("Opening connection for " + pop_.UserName() + " on " + pop_.Server());
    };
    pop_.OnUpdatingInfo = [this](TmsRemotePOP&) { view_.Status("Updating headers"); };
    pop_.OnTransferringData = [this](TmsRemotePOP&) { view_.Status("Transferring data"); };
    pop_.OnDataTransfered = [this](TmsRemotePOP&) { view_.Status("Data has been transfered"); };
    pop_.OnClosing = status("Closing connection");
    pop_.OnClosed = status("Connection closed");
    pop_.OnCancel = [this](TagSocket&) {
        view_.Status(std::string(kTextCanceled));
        QuietLog([&] { log_.LogCanceled(pop_.UserName(), pop_.Server()); });
        view_.Canceled();
    };
    pop_.OnError = [this](TagSocket&, const std::string& message) {
        view_.Status(message);
        QuietLog([&] { log_.LogError(message, pop_.UserName(), pop_.Server()); });
        view_.Failed(message);
    };
    pop_.OnNextInfoUpdated = [this](TmsRemotePOP&, int num) { NextInfoUpdated(num); };
    pop_.OnInfoUpdated = [this](TmsRemotePOP&) { InfoUpdated(); };
    pop_.OnDeleting = [this](TmsCustomPOP&, int num) { DeletingMessage(num); };
}

void MailCheck::Unbind() {
    pop_.OnOpen = nullptr;
    pop_.OnUpdatingInfo = nullptr;
    pop_.OnTransferringData = nullptr;
    pop_.OnDataTransfered = nullptr;
    pop_.OnClosing = nullptr;
    pop_.OnClosed = nullptr;
    pop_.OnCancel = nullptr;
    pop_.OnError = nullptr;
    pop_.OnNextInfoUpdated = nullptr;
    pop_.OnInfoUpdated = nullptr;
    pop_.OnDeleting = nullptr;
}

void MailCheck::LoadAccount(const PopSettings& account, int mailbox) {
    // A failed run may leave its session open for the next run on the same
    // mailbox. Another mailbox must never be handled over it: close it
    // without QUIT, so nothing half done in it takes effect.
    // A session of another security setting must not be reused either.
    if (pop_.Connected() &&
        (account.host != pop_.Server() || account.userName != pop_.UserName() ||
         account.security != pop_.Security() || account.fingerprint != pop_.Fingerprint() ||
         account.signIn != pop_.SignInKind()))
        pop_.Close();
    pop_.SetServer(account.host);
    pop_.SetUserName(account.userName);
    pop_.SetPassword(account.password);
    pop_.SetSignIn(account.signIn);
    pop_.SetMailboxNumber(account.slot);
    pop_.SetPipelining(account.pipelining);
    pop_.SetSecurity(account.security);
    pop_.SetFingerprint(account.fingerprint);
    pop_.SetTimeOut(account.timeOut);
    mailbox_ = mailbox;
}

void MailCheck::KeepCopiesIn(const Locations& where, std::function<std::time_t()> now) {
    keepWhere_ = where;
    keepNow_ = std::move(now);
}

KeptMessage MailCheck::DescribeCopy(int num, std::string_view message, bool headersOnly) const {
    const auto index = static_cast<std::size_t>(num);
    KeptMessage meta;
    meta.user = pop_.UserName();
    meta.server = pop_.Server();
    meta.headersOnly = headersOnly;
    meta.size = static_cast<std::int64_t>(message.size());
    if (index < pop_.Info().Count()) {
        const TmsRemoteInfoItem& item = pop_.Info().Item(index);
        if (item.Size >= 0) meta.size = item.Size;
        // Without the server's ids, the position tells twin messages apart
        // (a spam sent twice is two copies); a retry finds them at the same
        // places, since a session without QUIT deleted nothing.
        meta.uid = item.UniqueId.empty() ? "#" + std::to_string(num) : item.UniqueId;
    }
    if (index < list_.Count() && index < pop_.Info().Count()) {
        const MessageRow& row = list_.Rows()[index];
        meta.mark = MarkName(row.mark);
        meta.sender = row.sender;
        meta.subject = row.subject;
        meta.reasons = ReasonsReport(evaluator_, row, pop_.Info().Item(index).Headers, mailbox_);
    }
    return meta;
}

std::optional<std::string> MailCheck::MissingAccountText() const {
    if (IsBlankText(pop_.UserName())) return std::string(kNeedUserNameText);
    if (IsBlankText(pop_.Server())) return std::string(kNeedServerText);
    return std::nullopt;
}

void MailCheck::NextInfoUpdated(int num) {
    const auto index = static_cast<std::size_t>(num);
    if (index >= pop_.Info().Count()) return;
    const TmsHeaders& headers = pop_.Info().Item(index).Headers;
    MessageRow row;
    row.subject = GetHeaderValue(headers, "Subject");
    row.sender = ListSenderText(GetHeaderValue(headers, "From"));
    // An unreadable size stays empty, so the size limits pass it by.
    const std::int64_t size = pop_.Info().Item(index).Size;
    row.size = size < 0 ? std::string() : std::to_string(size);
    row.date = ListDateText(GetHeaderValue(headers, "Date"));
    list_.Append(std::move(row));
    const std::string of = std::to_string(num + 1) + " of " + std::to_string(pop_.MessageCount());
    view_.Status("Getting message " + of + " total waiting messages");
    evaluator_.MarkForDeletion(list_.Rows(), pop_.Info(), static_cast<int>(list_.Count()) - 1,
                               mailbox_);
    view_.Progress("Message " + of);
    view_.RowsChanged();
}

void MailCheck::InfoUpdated() {
    view_.Status(std::to_string(pop_.Info().Count()) + " msg(s) for " + pop_.UserName() + " on " +
                 pop_.Server());
    evaluator_.MarkForDeletion(list_.Rows(), pop_.Info(), -1, mailbox_);
    view_.RowsChanged();
}

void MailCheck::UpdateInfo() {
    if (list_.Count() > 0) {
        list_.Clear();
        view_.RowsChanged();
    }
    checking_ = true;
    try {
        pop_.UpdateInfo();
    } catch (...) {
        checking_ = false;
        throw;
    }
    checking_ = false;
}

void MailCheck::LogMailCheck() {
    log_.LogMailCheck(list_.Count(), pop_.UserName(), pop_.Server());
}

void MailCheck::Cancel() {
    pop_.Cancel();
    if (checking_) {
        list_.Clear();
        view_.RowsChanged();
    }
    checking_ = false;
}

void MailCheck::DeletingMessage(int num) {
    view_.Status("Deleting " + std::to_string(num + 1));
    deleted_.push_back(num);
}

void MailCheck::LogDeleted() {
    if (!log_.IsOpen()) return;
    for (const int num : deleted_) {
        const auto index = static_cast<std::size_t>(num);
        if (index >= list_.Count()) continue;
        const MessageRow& row = list_.Rows()[index];
        const std::string kept = index < keptIds_.size() ? keptIds_[index] : std::string();
        QuietLog([&] {
            log_.LogDeletion(pop_.Server(), pop_.UserName(), row.subject, row.sender, row.size,
                             row.date, kept);
        });
    }
}

DeletionResult MailCheck::DeleteMessages(const DeletionOptions& options, UserPrompts& prompts,
                                         const std::function<void(int marked)>& addToTotal) {
    DeletionResult result;
    if (deleting_) return result;
    deleting_ = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{deleting_};

    result.total = static_cast<int>(list_.Count());
    result.marked = static_cast<int>(list_.MarkedCount());
    const bool ask = options.manualMode && options.confirm;
    if (result.marked == 0) {
        if (ask) prompts.Information(std::string(kNothingMarkedText));
        return result;
    }
    if (ask && !prompts.Confirm(std::string(kReallyDeleteText))) return result;

    // The rows and the client's records are one list; if they ever disagree
    // a row number no longer names the message the user saw.
    if (list_.Count() != pop_.Info().Count()) throw KelvaneError(std::string(kTextIdsDifferent));
    // A deletion that failed earlier leaves its marks on the records; only
    // what the list shows marked now may go.
    for (std::size_t i = 0; i < list_.Count(); ++i)
        pop_.ClearMarks(static_cast<int>(i));
    for (std::size_t i = 0; i < list_.Count(); ++i)
        if (IsMarkedForDeletion(list_.Rows()[i].mark)) pop_.MarkForDelete(static_cast<int>(i));

    // The copies: where, and whether, as the settings say now. The writer
    // goes before the store it writes into.
    std::optional<DeletedStore> store;
    std::optional<CopyWriter> writer;
    keptIds_.assign(list_.Count(), std::string());
    if (keepWhere_) {
        const SettingsStore user = SettingsStore::OpenUser(*keepWhere_);
        store.emplace(DeletedStore::FolderIn(keepWhere_->programDir), keepNow_);
        // A purge that fails must not stand in the way of the deletion.
        const int days = keys::Read(user, keys::KeepDays);
        if (days > 0) QuietLog([&] { store->Purge(days); });
        if (keys::Read(user, keys::KeepDeleted)) {
            const std::int32_t kb = keys::Read(user, keys::KeepMaxKB);
            pop_.SetKeepWholeLimit(kb < 0 ? -1 : std::int64_t{kb} * 1024);
            writer.emplace(*store, [this](int num, std::string_view message, bool headersOnly) {
                return DescribeCopy(num, message, headersOnly);
            });
            pop_.SetKeeper(&*writer);
        }
    }
    struct Unhook {
        TmsRemotePOP& pop;
        ~Unhook() { pop.SetKeeper(nullptr); }
    } unhook{pop_};

    view_.DeletionStarting();
    deleted_.clear();
    log_.OpenLogFile();
    try {
        pop_.ProcessMarks();
    } catch (const ServerError& e) {
        // Nothing of the pass took effect, and the log must say why.
        // (Connection errors are logged on their way already.)
        QuietLog([&] { log_.LogError(e.what(), pop_.UserName(), pop_.Server()); });
        log_.CloseLogFile();
        throw;
    } catch (...) {
        log_.CloseLogFile();
        throw;
    }
    // The server carries the DELEs out only once QUIT is answered: the
    // blocks record what it did, not what was asked of it.
    if (writer) {
        for (const auto& [num, id] : writer->KeptIds())
            if (static_cast<std::size_t>(num) < keptIds_.size())
                keptIds_[static_cast<std::size_t>(num)] = id;
    }
    LogDeleted();
    log_.CloseLogFile();
    result.ran = true;
    result.deleted = result.marked - pop_.NotKept();
    if (pop_.NotKept() > 0) {
        result.keepError = NotKeptText(pop_.NotKept());
        result.keepReason = pop_.NotKeptReason();
        QuietLog([&] { log_.LogError(result.keepError, pop_.UserName(), pop_.Server()); });
    }
    // The messages are gone from the server whatever becomes of the total:
    // the list must still be emptied and refilled, or its rows would name
    // messages that no longer exist.
    if (addToTotal) {
        try {
            addToTotal(result.deleted);
        } catch (const KelvaneError& e) {
            result.totalError = e.what();
        }
    }

    list_.Clear();
    view_.RowsChanged();
    result.launchMailer = options.manualMode && options.launch && result.total != result.marked;
    if (!result.launchMailer) {
        try {
            pop_.UpdateInfo();
        } catch (const KelvaneError& e) {
            throw RefillError(e.what(), result.deleted);
        }
    }
    view_.Status(DeletedText(result.deleted));
    return result;
}

}  // namespace kelvane
