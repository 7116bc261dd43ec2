#include "mail/mspop3.h"
#include "base/text.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "base/fileio.h"
#include "mail/pipeline.h"

namespace kelvane {

namespace {

bool ToInt(std::string_view text, int& value) {
    std::int32_t v = 0;
    if (!ParseDecimalInt32(text, v)) return false;
    value = v;
    return true;
}

int StrictInt(std::string_view text) {
    int value = 0;
    if (!ToInt(text, value))
        throw KelvaneError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

// A mailbox of 2 GiB or more is ordinary; its size must not fail the login.
std::int64_t StrictOctets(std::string_view text) {
    std::int64_t value = 0;
    if (ParseOctetCount(text, value)) return value;
    std::int32_t negative = 0;
    if (ParseDecimalInt32(text, negative)) return negative;
    throw KelvaneError("'" + std::string(text) + "' is not a valid integer value");
}

// What follows "+OK " in a reply.
std::string_view ReplyArguments(std::string_view reply) {
    return reply.size() > 4 ? reply.substr(4) : std::string_view();
}

// The octets of a positive LIST reply "+OK n size".
std::int64_t ListedSize(std::string_view reply) {
    const std::string_view rest = ReplyArguments(reply);
    const std::size_t blank = rest.find(' ');
    std::int64_t size = 0;
    if (blank == std::string_view::npos || !ParseOctetCount(rest.substr(blank + 1), size))
        return TmsRemoteInfoItem::kSizeUnknown;
    return size;
}

std::string Number(int pos) {
    return std::to_string(pos + 1);
}

std::string Base64(std::string_view data) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k)
            v = v << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[(v >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

bool IsBase64(std::string_view text) {
    if (text.size() % 4 != 0) return false;
    const std::size_t pad = text.find('=');
    if (pad != std::string_view::npos &&
        (pad + 2 < text.size() || text.find_first_not_of('=', pad) != std::string_view::npos))
        return false;
    const std::string_view digits = text.substr(0, pad);
    return digits.find_first_not_of(
               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") ==
           std::string_view::npos;
}

}  // namespace

// ---------------------------------------------------------------- TmsCustomPOP

int TmsCustomPOP::ReplyCode(std::string_view line) const {
    if (line.empty()) return 0;
    if (line[0] == '+') return 1;
    if (line[0] == '-') return -1;
    return 0;
}

void TmsCustomPOP::CheckLogin() {
    if (userName_.empty()) RaiseError(kErrUserNameRequired, std::string(kTextUserNameRequired));
    if (password_.empty()) RaiseError(kErrPasswordRequired, std::string(kTextPasswordRequired));
}

void TmsCustomPOP::Open() {
    CheckLogin();
    ResetState();
    linked_ = false;
    TmsMailBase::Open();
}

void TmsCustomPOP::Close() {
    linked_ = false;
    TmsMailBase::Close();
}

void TmsCustomPOP::CheckReply(int code) {
    if (code != 1) throw ServerError(LastReply());
}

void TmsCustomPOP::Command(const std::string& line) {
    SendLine(line);
    CheckReply(ReadReply());
}

void TmsCustomPOP::Login() {
    ResetState();
    serverPipelines_ = false;
    offersXOAuth2_ = false;
    Connect();
    linked_ = true;
    CheckReply(ReadReply());
    if (Security() == ConnectionSecurity::StartTls) {
        // A refusal ends the session: nothing more goes out in plain text.
        SendLine("STLS");
        if (ReadReply() != 1) {
            Close();
            throw ServerError(LastReply());
        }
        StartTls();
    }
    if (signIn_ == SignIn::XOAuth2) {
        SignInXOAuth2();
        Command("STAT");
        ParseStat();
        return;
    }
    // After STLS: what the server offers may change with the upgrade.
    if (pipelining_) ReadCapabilities();
    if (!serverPipelines_) {
        Command("USER " + userName_);
        Command("PASS " + password_);
        Command("STAT");
        ParseStat();
        return;
    }
    // One flight for the login as well: on a slow link each round trip
    // saved is felt. A refusal ends the login as it would command by
    // command, with the replies still owed read, so the session stays usable.
    Pipeline pipe(*this);
    pipe.Send("USER " + userName_, false);
    pipe.Send("PASS " + password_, false);
    pipe.Send("STAT", false);
    for (int i = 0; i < 3; ++i) {
        if (pipe.ReadReply() == 1) continue;
        std::string refusal = LastReply();
        pipe.Settle();
        throw ServerError(refusal);
    }
    ParseStat();
}

void TmsCustomPOP::FailSignIn(const std::string& what) {
    Close();
    const std::string mailbox = mailboxNumber_ > 0
                                    ? "The server of mailbox " + std::to_string(mailboxNumber_)
                                    : "The server";
    throw ServerError(mailbox + " " + what);
}

void TmsCustomPOP::SignInXOAuth2() {
    // After STLS, so that the list is the one of the secure session.
    ReadCapabilities();
    if (!offersXOAuth2_) FailSignIn("does not offer XOAUTH2 sign-in");
    SendLine("AUTH XOAUTH2 " + Base64("user=" + userName_ +
                                      "\x01"
                                      "auth=Bearer " +
                                      password_ + "\x01\x01"));
    ReadReply();
    const std::string reply = LastReply();
    if (reply.rfind("+OK", 0) == 0) return;
    if (reply.rfind("-", 0) == 0) {
        Close();
        throw ServerError(reply);
    }
    if (reply.empty()) {
        Close();
        throw ServerError(reply);  // closed instead of answering
    }
    // "+ " and the server's error document: an empty response ends the
    // exchange, and the final reply is the refusal the user sees.
    const bool continuation =
        reply == "+" ||
        (reply.rfind("+ ", 0) == 0 && IsBase64(TrimView(std::string_view(reply).substr(2))));
    if (!continuation) {
        if (reply[0] == '+') FailSignIn("sent a malformed XOAUTH2 challenge");
        FailSignIn("answered the XOAUTH2 sign-in unexpectedly");
    }
    SendLine("");
    ReadReply();
    const std::string final = LastReply();
    if (final.rfind("-", 0) == 0 || final.empty()) {
        Close();
        throw ServerError(final);
    }
    FailSignIn("answered the XOAUTH2 sign-in unexpectedly");
}

void TmsCustomPOP::ReadCapabilities() {
    // A capability list is a few lines; more is not one.
    constexpr std::size_t kMaxCapabilities = 65536;
    SendLine("CAPA");
    const int code = ReadReply();
    if (LastReply().empty()) CheckReply(code);  // closed instead of answering
    // A server without CAPA refuses it and is spoken to command by command.
    if (code != 1) return;
    std::string block;
    ReadData(block, -1, kMaxCapabilities);
    for (std::size_t at = 0; at < block.size();) {
        std::size_t end = block.find('\n', at);
        if (end == std::string::npos) end = block.size();
        const std::string_view line = TrimView(std::string_view(block).substr(at, end - at));
        const std::string_view name = line.substr(0, line.find(' '));
        if (AsciiIEquals(name, "PIPELINING")) serverPipelines_ = true;
        if (AsciiIEquals(name, "SASL")) {
            for (std::string_view rest = line.substr(name.size()); !rest.empty();) {
                rest = TrimView(rest);
                const std::string_view mechanism = rest.substr(0, rest.find(' '));
                if (AsciiIEquals(mechanism, "XOAUTH2")) offersXOAuth2_ = true;
                rest = rest.substr(mechanism.size());
            }
        }
        at = end + 1;
    }
}

void TmsCustomPOP::ParseStat() {
    const std::string_view rest = ReplyArguments(LastReply());
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return;
    messageCount_ = StrictInt(rest.substr(0, blank));
    const std::string_view after = rest.substr(blank + 1);
    mailboxSize_ = StrictOctets(after.substr(0, after.find(' ')));
}

void TmsCustomPOP::Logout() {
    Command("QUIT");
}

void TmsCustomPOP::EnsureConnected() {
    if (Linked()) return;
    Open();
    Login();
}

std::int64_t TmsCustomPOP::ListSize(int pos) {
    Command("LIST " + Number(pos));
    return ListedSize(LastReply());
}

void TmsCustomPOP::GetInfo(int pos, TmsRemoteInfoItem& item) {
    item.Size = ListSize(pos);
    Command("TOP " + Number(pos) + " 1");
    std::string block;
    ReadData(block, -1, headerLimit_);
    item.Headers.LoadFromText(block);
    CutHeadersAtBody(item.Headers);
}

bool TmsCustomPOP::SendInfoCommands(Pipeline& pipe, int pos) {
    const std::string n = Number(pos);
    if (!pipe.HasRoom(2, n.size() + 8)) return false;
    pipe.Send("LIST " + n, false);
    pipe.Send("TOP " + n + " 1", true);
    return true;
}

void TmsCustomPOP::ReadInfo(Pipeline& pipe, TmsRemoteInfoItem& item) {
    CheckReply(pipe.ReadReply());
    item.Size = ListedSize(LastReply());
    CheckReply(pipe.ReadReply());
    std::string block;
    pipe.ReadData(block, headerLimit_);
    item.Headers.LoadFromText(block);
    CutHeadersAtBody(item.Headers);
}

void TmsCustomPOP::Delete(int pos) {
    if (OnDeleting) OnDeleting(*this, pos);
    SendLine("DELE " + Number(pos));
    CheckDeleteReply(ReadReply());
}

// A refused DELE must not be counted as a deletion. Leaving without QUIT
// makes the server forget every DELE of the session, so the whole pass
// fails as one and nothing is half done.
void TmsCustomPOP::CheckDeleteReply(int code) {
    if (code == 1) return;
    const std::string reply = LastReply();
    Close();
    throw ServerError(reply);
}

// ---------------------------------------------------------------- TmsRemotePOP

void TmsRemotePOP::SetMessageDirectory(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    messageDirectory_ = std::move(folder);
}

void TmsRemotePOP::UpdateInfo() {
    EnsureConnected();
    Fire(OnUpdatingInfo);
    info_.Clear();
    if (PipelineActive() && MessageCount() > 0) {
        UpdateInfoPipelined();
    } else {
        for (int pos = 0; pos < MessageCount(); ++pos) {
            auto item = std::make_unique<TmsRemoteInfoItem>();
            GetInfo(pos, *item);
            info_.Add(std::move(item));
            if (OnNextInfoUpdated) OnNextInfoUpdated(*this, static_cast<int>(info_.Count()) - 1);
        }
    }
    if (!keepOpen_) Disconnect();
    Fire(OnInfoUpdated);
}

// The same commands in the same order as the strict pass, a window of them
// ahead of the replies; the records and events come as the replies do.
void TmsRemotePOP::UpdateInfoPipelined() {
    Pipeline pipe(*this);
    const int count = MessageCount();
    int sent = 0;
    try {
        for (int pos = 0; pos < count; ++pos) {
            while (sent < count && SendInfoCommands(pipe, sent))
                ++sent;
            auto item = std::make_unique<TmsRemoteInfoItem>();
            ReadInfo(pipe, *item);
            info_.Add(std::move(item));
            if (OnNextInfoUpdated) OnNextInfoUpdated(*this, static_cast<int>(info_.Count()) - 1);
        }
    } catch (...) {
        // As after the same failure in the strict pass, the session stays
        // usable: nothing of it may be left in flight.
        pipe.Settle();
        throw;
    }
}

void TmsRemotePOP::MarkForDelete(int pos) {
    info_.Item(static_cast<std::size_t>(pos)).DeleteMark = true;
}

void TmsRemotePOP::MarkForRetrieve(int pos) {
    info_.Item(static_cast<std::size_t>(pos)).RetrieveMark = true;
}

void TmsRemotePOP::ClearMarks(int pos) {
    auto& item = info_.Item(static_cast<std::size_t>(pos));
    item.RetrieveMark = false;
    item.DeleteMark = false;
}

void TmsRemotePOP::VerifySame(int pos) {
    TmsRemoteInfoItem now;
    GetInfo(pos, now);
    CheckSame(pos, now.Headers, false);
}

void TmsRemotePOP::CheckSame(int pos, const TmsHeaders& now, bool close) {
    const TmsHeaders& was = info_.Item(static_cast<std::size_t>(pos)).Headers;
    bool same = true;
    const std::string idWas = GetHeaderValue(was, "Message-ID");
    const std::string idNow = GetHeaderValue(now, "Message-ID");
    // Two different ids are final: equal lines further up must not turn
    // them back into the same message.
    if (!idWas.empty() && !idNow.empty()) same = idWas == idNow;
    // With no lines on one side nothing could be compared at all.
    if ((was.Count() == 0) != (now.Count() == 0)) same = false;
    // Lines beyond the shorter block are not compared: a header the server
    // adds later must not make a message look foreign.
    const std::size_t lines = std::min(was.Count(), now.Count());
    for (std::size_t i = 0; same && i < lines; ++i)
        same = was[i] == now[i];
    if (!same && close) RaiseAndClose(kErrIdsDifferent, std::string(kTextIdsDifferent));
    if (!same) RaiseError(kErrIdsDifferent, std::string(kTextIdsDifferent));
}

void TmsRemotePOP::Retrieve(int pos) {
    const std::int64_t size = ListSize(pos);
    if (OnRetrieving) OnRetrieving(*this, pos);
    Command("RETR " + Number(pos));
    std::string message;
    ReadData(message, size, MessageLimit());
    SaveMessage(pos, message);
    if (OnRetrieved) OnRetrieved(*this, pos);
}

void TmsRemotePOP::SaveMessage(int pos, std::string& contents) {
    if (OnUserMessageSave) {
        OnUserMessageSave(*this, pos, contents);
        return;
    }
    const std::string path = messageDirectory_ + "msg_" + std::to_string(pos) + ".eml";
    if (const auto error = WriteFileAtomic(path, contents, 0600))
        throw StoreError("Cannot create file " + path + ": " + *error);
}

void TmsRemotePOP::ProcessMarks() {
    if (info_.Empty()) return;
    EnsureConnected();
    Fire(OnTransferringData);
    std::vector<int> marked;
    bool retrieving = false;
    for (std::size_t i = 0; i < info_.Count(); ++i) {
        retrieving = retrieving || info_.Item(i).RetrieveMark;
        if (info_.Item(i).DeleteMark) marked.push_back(static_cast<int>(i));
    }
    if (PipelineActive() && !retrieving) {
        DeletePipelined(marked);
    } else {
        for (std::size_t i = 0; i < info_.Count(); ++i) {
            const int pos = static_cast<int>(i);
            if (info_.Item(i).RetrieveMark) {
                VerifySame(pos);
                Retrieve(pos);
            }
            if (info_.Item(i).DeleteMark) {
                VerifySame(pos);
                Delete(pos);
            }
        }
    }
    Fire(OnDataTransfered);
    Disconnect();
}

// Every marked message is checked before the first DELE goes out, so one
// foreign message stops the pass with nothing deleted at all.
void TmsRemotePOP::DeletePipelined(const std::vector<int>& marked) {
    Pipeline pipe(*this);
    std::size_t sent = 0;
    try {
        for (std::size_t i = 0; i < marked.size(); ++i) {
            while (sent < marked.size() && SendInfoCommands(pipe, marked[sent]))
                ++sent;
            TmsRemoteInfoItem now;
            ReadInfo(pipe, now);
            // The checks still in flight would be misread later: closed.
            CheckSame(marked[i], now.Headers, true);
        }
        CheckInStep(pipe);
    } catch (...) {
        pipe.Settle();
        throw;
    }
    sent = 0;
    try {
        for (std::size_t i = 0; i < marked.size(); ++i) {
            while (sent < marked.size() && pipe.HasRoom(1, Number(marked[sent]).size() + 7)) {
                if (OnDeleting) OnDeleting(*this, marked[sent]);
                pipe.Send("DELE " + Number(marked[sent]), false);
                ++sent;
            }
            CheckDeleteReply(pipe.ReadReply());
        }
        CheckInStep(pipe);
    } catch (...) {
        // With DELEs in flight, only leaving without QUIT is sure to undo them.
        if (Connected()) Close();
        throw;
    }
}

// A reply more than the commands asked for means that some reply was taken
// for another command's: a refused DELE may have passed as accepted. Leaving
// without QUIT undoes every DELE of the session.
void TmsRemotePOP::CheckInStep(const Pipeline& pipe) {
    if (!pipe.HasUnread()) return;
    std::string line = pipe.UnreadLine();
    SetLastReply(line);
    Close();
    throw ServerError(line);
}

void TmsRemotePOP::Disconnect() {
    if (!Connected()) return;
    if (Linked()) Logout();
    Close();
}

}  // namespace kelvane
