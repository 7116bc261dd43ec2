#include "mail/mspop3.h"
#include "base/text.h"

#include <algorithm>
#include <deque>
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

// Whether a positive LIST reply "+OK n size" names message number n.
bool ListNames(std::string_view reply, int pos) {
    const std::string_view rest = ReplyArguments(reply);
    std::int32_t n = 0;
    return ParseDecimalInt32(rest.substr(0, rest.find(' ')), n) && n == pos + 1;
}

// A header block never starts with a status line; one that does is the
// next command's reply, read as this block because a reply went missing.
bool StartsWithReply(std::string_view block) {
    return block.starts_with("+OK") || block.starts_with("-ERR");
}

// A UIDL listing has a line for every message; anything much longer than
// the longest id (70 bytes) a line is no listing.
constexpr std::size_t kMaxUidLine = 128;

// The record's header lines from a TOP block of total bytes whose first
// bytes are block.
void KeepHeaders(TmsRemoteInfoItem& item, const std::string& block, std::size_t total,
                 std::size_t keep) {
    item.HeaderKeep = keep;
    item.HeadersCut = !LoadHeaderBlock(item.Headers, block, total == block.size(), keep);
}

}  // namespace

std::size_t TmsCustomPOP::HeaderKeepFor(std::size_t spent) {
    const std::size_t left = spent < kKeepHeadersTotal ? kKeepHeadersTotal - spent : 0;
    return std::clamp(left, kKeepHeaderSmall, kKeepHeaderBlock);
}

std::string OutOfStepText(std::string_view server) {
    return "The replies of " + std::string(server) + " are out of step";
}

bool SameMessage(const TmsRemoteInfoItem& was, const TmsRemoteInfoItem& now) {
    // Two messages with byte-equal header blocks (a script's reports sent in
    // the same second) differ in their ids and often in their sizes.
    if (!was.UniqueId.empty() && !now.UniqueId.empty() && was.UniqueId != now.UniqueId)
        return false;
    constexpr std::int64_t unknown = TmsRemoteInfoItem::kSizeUnknown;
    if (was.Size != unknown && now.Size != unknown && was.Size != now.Size) return false;
    const TmsHeaders& a = was.Headers;
    const TmsHeaders& b = now.Headers;
    const std::string idWas = GetHeaderValue(a, "Message-ID");
    const std::string idNow = GetHeaderValue(b, "Message-ID");
    // Two different ids are final: equal lines further up must not turn
    // them back into the same message.
    if (!idWas.empty() && !idNow.empty() && idWas != idNow) return false;
    // With no lines on one side nothing could be compared at all.
    if ((a.Count() == 0) != (b.Count() == 0)) return false;
    // Lines beyond the shorter block are not compared: a header the server
    // adds later must not make a message look foreign.
    const std::size_t lines = std::min(a.Count(), b.Count());
    for (std::size_t i = 0; i < lines; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

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

std::string TmsCustomPOP::RefusalText(int code) const {
    if (code == 0 && LastReply().empty()) return std::string(kTextEmptyReply);
    return LastReply();
}

void TmsCustomPOP::CheckReply(int code) {
    if (code != 1) throw ServerError(RefusalText(code));
}

void TmsCustomPOP::Command(const std::string& line) {
    SendLine(line);
    CheckReply(ReadReply());
}

void TmsCustomPOP::Login() {
    ResetState();
    serverPipelines_ = false;
    offersXOAuth2_ = false;
    uidsAsked_ = false;
    uids_.clear();
    Connect();
    linked_ = true;
    CheckReply(ReadReply());
    if (Security() == ConnectionSecurity::StartTls) {
        // A refusal ends the session: nothing more goes out in plain text.
        SendLine("STLS");
        if (const int code = ReadReply(); code != 1) {
            Close();
            throw ServerError(RefusalText(code));
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
        const int code = pipe.ReadReply();
        if (code == 1) continue;
        std::string refusal = RefusalText(code);
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

void TmsCustomPOP::ReadUniqueIds() {
    uidsAsked_ = true;
    uids_.clear();
    SendLine("UIDL");
    const int code = ReadReply();
    if (LastReply().empty()) CheckReply(code);  // closed instead of answering
    // Without UIDL messages are known by size and headers alone.
    if (code != 1) return;
    std::string block;
    ReadData(block, -1, (static_cast<std::size_t>(MessageCount()) + 1) * kMaxUidLine);
    // A listing that cannot be read is no worse than none.
    if (!ParseUniqueIds(block)) uids_.clear();
}

void TmsCustomPOP::ReadUniqueIds(Pipeline& pipe) {
    uidsAsked_ = true;
    uids_.clear();
    const int code = ReadInStep(pipe);
    if (LastReply().empty()) CheckReply(code);  // closed instead of answering
    if (code != 1) return;
    std::string block;
    pipe.ReadData(block, (static_cast<std::size_t>(MessageCount()) + 1) * kMaxUidLine);
    // With commands in flight, a block that is no listing is the next
    // command's, taken for this one's.
    if (!ParseUniqueIds(block)) RaiseOutOfStep();
}

bool TmsCustomPOP::ParseUniqueIds(std::string_view block) {
    uids_.assign(static_cast<std::size_t>(std::max(MessageCount(), 0)), std::string());
    for (std::size_t at = 0; at < block.size();) {
        std::size_t end = block.find('\n', at);
        if (end == std::string_view::npos) end = block.size();
        std::string_view line = block.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == ".") break;
        const std::size_t blank = line.find(' ');
        std::int32_t n = 0;
        if (blank == std::string_view::npos || !ParseDecimalInt32(line.substr(0, blank), n) ||
            n < 1 || n > MessageCount())
            return false;
        const std::string_view id = TrimView(line.substr(blank + 1));
        if (id.empty()) return false;
        uids_[static_cast<std::size_t>(n - 1)] = std::string(id);
    }
    return true;
}

std::string TmsCustomPOP::UniqueIdAt(int pos) const {
    const auto i = static_cast<std::size_t>(pos);
    return i < uids_.size() ? uids_[i] : std::string();
}

int TmsCustomPOP::ReadInStep(Pipeline& pipe) {
    const int code = pipe.ReadReply();
    if (code == 0 && !LastReply().empty()) RaiseOutOfStep();
    return code;
}

void TmsCustomPOP::RaiseOutOfStep() {
    RaiseAndClose(kErrOutOfStep, OutOfStepText(Server()));
}

void TmsCustomPOP::GetInfo(int pos, TmsRemoteInfoItem& item, std::size_t keep) {
    item.UniqueId = UniqueIdAt(pos);
    item.Size = ListSize(pos);
    Command("TOP " + Number(pos) + " 1");
    std::string block;
    const std::size_t total = ReadData(block, -1, headerLimit_, keep);
    KeepHeaders(item, block, total, keep);
}

bool TmsCustomPOP::SendInfoCommands(Pipeline& pipe, int pos) {
    const std::string n = Number(pos);
    if (!pipe.HasRoom(2, n.size() + 8)) return false;
    pipe.Send("LIST " + n, false);
    pipe.Send("TOP " + n + " 1", true);
    return true;
}

void TmsCustomPOP::ReadInfo(Pipeline& pipe, int pos, TmsRemoteInfoItem& item, std::size_t keep) {
    // A reply that went missing or came twice would shift every later
    // record onto the wrong message: each reply must fit its command.
    CheckReply(ReadInStep(pipe));
    if (!ListNames(LastReply(), pos)) RaiseOutOfStep();
    item.UniqueId = UniqueIdAt(pos);
    item.Size = ListedSize(LastReply());
    CheckReply(ReadInStep(pipe));
    std::string block;
    const std::size_t total = pipe.ReadData(block, headerLimit_, keep);
    if (StartsWithReply(block)) RaiseOutOfStep();
    KeepHeaders(item, block, total, keep);
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
    const std::string reply = RefusalText(code);
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
        if (UniqueIdsWanted()) ReadUniqueIds();
        std::size_t spent = 0;
        for (int pos = 0; pos < MessageCount(); ++pos) {
            auto item = std::make_unique<TmsRemoteInfoItem>();
            GetInfo(pos, *item, HeaderKeepFor(spent));
            spent += HeaderCost(item->Headers);
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
    bool uidl = UniqueIdsWanted();
    if (uidl) pipe.Send("UIDL", true);
    std::size_t spent = 0;
    try {
        for (int pos = 0; pos < count; ++pos) {
            while (sent < count && SendInfoCommands(pipe, sent))
                ++sent;
            if (uidl) ReadUniqueIds(pipe);
            uidl = false;
            auto item = std::make_unique<TmsRemoteInfoItem>();
            ReadInfo(pipe, pos, *item, HeaderKeepFor(spent));
            spent += HeaderCost(item->Headers);
            info_.Add(std::move(item));
            if (OnNextInfoUpdated) OnNextInfoUpdated(*this, static_cast<int>(info_.Count()) - 1);
        }
        CheckInStep(pipe);
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
    GetInfo(pos, now, KeepOf(pos));
    CheckSame(pos, now, false);
}

std::size_t TmsRemotePOP::KeepOf(int pos) const {
    const std::size_t keep = info_.Item(static_cast<std::size_t>(pos)).HeaderKeep;
    return keep > 0 ? keep : kKeepHeaderBlock;
}

void TmsRemotePOP::CheckSame(int pos, const TmsRemoteInfoItem& now, bool close) {
    const bool same = SameMessage(info_.Item(static_cast<std::size_t>(pos)), now);
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
    notKept_ = 0;
    notKeptReason_.clear();
    if (info_.Empty()) return;
    EnsureConnected();
    Fire(OnTransferringData);
    std::vector<int> marked;
    bool retrieving = false;
    for (std::size_t i = 0; i < info_.Count(); ++i) {
        retrieving = retrieving || info_.Item(i).RetrieveMark;
        if (info_.Item(i).DeleteMark) marked.push_back(static_cast<int>(i));
    }
    if (PipelineActive() && !retrieving && keeper_) {
        DeleteKeepingPipelined(marked);
    } else if (PipelineActive() && !retrieving) {
        DeletePipelined(marked);
    } else {
        if ((retrieving || !marked.empty()) && UniqueIdsWanted()) ReadUniqueIds();
        for (std::size_t i = 0; i < info_.Count(); ++i) {
            const int pos = static_cast<int>(i);
            if (info_.Item(i).RetrieveMark) {
                VerifySame(pos);
                Retrieve(pos);
            }
            if (info_.Item(i).DeleteMark) {
                VerifySame(pos);
                if (keeper_ && !FetchAndKeep(pos)) continue;
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
    try {
        VerifyPipelined(pipe, marked);
    } catch (...) {
        pipe.Settle();
        throw;
    }
    // A step of its own for each checked message goes here, before any DELE.
    try {
        DeleteVerified(pipe, marked);
    } catch (...) {
        // With DELEs in flight, only leaving without QUIT is sure to undo them.
        if (Connected()) Close();
        throw;
    }
}

void TmsRemotePOP::VerifyPipelined(Pipeline& pipe, const std::vector<int>& marked) {
    std::size_t sent = 0;
    bool uidl = !marked.empty() && UniqueIdsWanted();
    if (uidl) pipe.Send("UIDL", true);
    for (std::size_t i = 0; i < marked.size(); ++i) {
        while (sent < marked.size() && SendInfoCommands(pipe, marked[sent]))
            ++sent;
        if (uidl) ReadUniqueIds(pipe);
        uidl = false;
        TmsRemoteInfoItem now;
        ReadInfo(pipe, marked[i], now, KeepOf(marked[i]));
        // The checks still in flight would be misread later: closed.
        CheckSame(marked[i], now, true);
    }
    CheckInStep(pipe);
}

void TmsRemotePOP::DeleteVerified(Pipeline& pipe, const std::vector<int>& marked) {
    std::size_t sent = 0;
    for (std::size_t i = 0; i < marked.size(); ++i) {
        while (sent < marked.size() && pipe.HasRoom(1, Number(marked[sent]).size() + 7)) {
            if (OnDeleting) OnDeleting(*this, marked[sent]);
            pipe.Send("DELE " + Number(marked[sent]), false);
            ++sent;
        }
        CheckDeleteReply(ReadInStep(pipe));
    }
    CheckInStep(pipe);
}

bool TmsRemotePOP::KeepsHeadersOnly(int pos) const {
    const std::int64_t size = info_.Item(static_cast<std::size_t>(pos)).Size;
    return keepWholeLimit_ >= 0 && size != TmsRemoteInfoItem::kSizeUnknown &&
           size > keepWholeLimit_;
}

void TmsRemotePOP::NoteNotKept(std::string reason) {
    if (notKept_++ == 0) notKeptReason_ = std::move(reason);
}

bool TmsRemotePOP::StoreCopy(int pos, std::string_view block, bool headersOnly) {
    keeper_->Submit(pos, UnstuffBlock(block), headersOnly);
    for (;;) {
        const auto settled = keeper_->TakeSettled(true);
        // Nothing outstanding and no answer: never taken for kept.
        if (settled.empty()) break;
        for (const CopyKeeper::Settled& s : settled) {
            if (s.num != pos) continue;
            if (!s.kept) NoteNotKept(s.reason);
            return s.kept;
        }
    }
    NoteNotKept("Cannot keep a copy");
    return false;
}

bool TmsRemotePOP::FetchAndKeep(int pos) {
    const bool headersOnly = KeepsHeadersOnly(pos);
    SendLine(headersOnly ? "TOP " + Number(pos) + " 0" : "RETR " + Number(pos));
    if (ReadReply() != 1) {
        // Without a reply line the session is gone; a refusal spares only
        // this message.
        if (LastReply().empty()) throw ServerError("");
        NoteNotKept(LastReply());
        return false;
    }
    std::string block;
    ReadData(block, headersOnly ? -1 : info_.Item(static_cast<std::size_t>(pos)).Size,
             headersOnly ? HeaderBlockLimit() : MessageLimit());
    return StoreCopy(pos, block, headersOnly);
}

// The check and the fetch of each marked message in flight together, the
// copies written by the keeper while the next replies arrive, and the DELE
// of each message sent as soon as its copy is safe. A failure once a DELE
// went out closes without QUIT, which undoes every DELE of the session.
void TmsRemotePOP::DeleteKeepingPipelined(const std::vector<int>& marked) {
    enum class Kind { Check, Fetch, Dele };
    struct Owed {
        Kind kind;
        int pos;
        bool headersOnly;
    };
    Pipeline pipe(*this);
    std::deque<Owed> owed;
    std::size_t sent = 0;
    std::size_t writing = 0;  // copies handed over and not settled yet
    bool deleting = false;
    bool uidl = !marked.empty() && UniqueIdsWanted();
    if (uidl) pipe.Send("UIDL", true);
    // The DELEs of the copies settled by now; with wait, for at least one.
    const auto deleteSettled = [&](bool wait) {
        const auto settled = keeper_->TakeSettled(wait);
        // Told nothing is outstanding: what is missing was never kept.
        if (wait && settled.empty()) writing = 0;
        for (const CopyKeeper::Settled& s : settled) {
            --writing;
            if (!s.kept) {
                NoteNotKept(s.reason);
                continue;
            }
            if (OnDeleting) OnDeleting(*this, s.num);
            pipe.Send("DELE " + Number(s.num), false);
            owed.push_back({Kind::Dele, s.num, false});
            deleting = true;
        }
    };
    try {
        while (sent < marked.size() || !owed.empty() || writing > 0) {
            while (sent < marked.size()) {
                const int pos = marked[sent];
                const std::string n = Number(pos);
                if (!pipe.HasRoom(3, n.size() + 8)) break;
                const bool headersOnly = KeepsHeadersOnly(pos);
                SendInfoCommands(pipe, pos);
                pipe.Send(headersOnly ? "TOP " + n + " 0" : "RETR " + n, true);
                owed.push_back({Kind::Check, pos, headersOnly});
                owed.push_back({Kind::Fetch, pos, headersOnly});
                ++sent;
            }
            if (uidl) ReadUniqueIds(pipe);
            uidl = false;
            // Nothing owed by the server: only the keeper can move things on.
            if (writing > 0) deleteSettled(owed.empty());
            if (owed.empty()) continue;
            const Owed next = owed.front();
            owed.pop_front();
            switch (next.kind) {
                case Kind::Check: {
                    TmsRemoteInfoItem now;
                    ReadInfo(pipe, next.pos, now, KeepOf(next.pos));
                    // The fetches still in flight would be misread later: closed.
                    CheckSame(next.pos, now, true);
                    break;
                }
                case Kind::Fetch: {
                    const int code = ReadInStep(pipe);
                    if (code == -1) {
                        NoteNotKept(LastReply());
                        break;
                    }
                    CheckReply(code);
                    std::string block;
                    pipe.ReadData(block, next.headersOnly ? HeaderBlockLimit() : MessageLimit());
                    ++writing;
                    keeper_->Submit(next.pos, UnstuffBlock(block), next.headersOnly);
                    break;
                }
                case Kind::Dele:
                    CheckDeleteReply(ReadInStep(pipe));
                    break;
            }
        }
        CheckInStep(pipe);
    } catch (...) {
        if (deleting && Connected()) Close();
        pipe.Settle();
        throw;
    }
}

std::string UnstuffBlock(std::string_view block) {
    if (block.ends_with("\r\n.\r\n")) {
        block.remove_suffix(3);
    } else if (block == ".\r\n") {
        block = {};
    }
    std::string message;
    message.reserve(block.size());
    for (std::size_t at = 0; at < block.size();) {
        if (block[at] == '.') ++at;
        const std::size_t lf = block.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        message.append(block.substr(at, end - at));
        at = end;
    }
    return message;
}

// A reply more than the commands asked for means that some reply was taken
// for another command's: a refused DELE may have passed as accepted. Leaving
// without QUIT undoes every DELE of the session.
void TmsRemotePOP::CheckInStep(const Pipeline& pipe) {
    if (!pipe.HasUnread()) return;
    SetLastReply(pipe.UnreadLine());
    RaiseOutOfStep();
}

void TmsRemotePOP::Disconnect() {
    if (!Connected()) return;
    if (Linked()) Logout();
    Close();
}

}  // namespace kelvane
