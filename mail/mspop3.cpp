#include "mail/mspop3.h"
#include "base/text.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "base/fileio.h"

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

// What follows "+OK " in a reply.
std::string_view ReplyArguments(std::string_view reply) {
    return reply.size() > 4 ? reply.substr(4) : std::string_view();
}

std::string Number(int pos) {
    return std::to_string(pos + 1);
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
    Command("USER " + userName_);
    Command("PASS " + password_);
    ReadStat();
}

void TmsCustomPOP::ReadStat() {
    Command("STAT");
    const std::string_view rest = ReplyArguments(LastReply());
    const std::size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return;
    messageCount_ = StrictInt(rest.substr(0, blank));
    const std::string_view after = rest.substr(blank + 1);
    mailboxSize_ = StrictInt(after.substr(0, after.find(' ')));
}

void TmsCustomPOP::Logout() {
    Command("QUIT");
}

void TmsCustomPOP::EnsureConnected() {
    if (Linked()) return;
    Open();
    Login();
}

std::int32_t TmsCustomPOP::ListSize(int pos) {
    Command("LIST " + Number(pos));
    const std::string_view rest = ReplyArguments(LastReply());
    const std::size_t blank = rest.find(' ');
    int size = 0;
    if (blank == std::string_view::npos || !ToInt(rest.substr(blank + 1), size)) return 0;
    return size;
}

void TmsCustomPOP::GetInfo(int pos, TmsRemoteInfoItem& item) {
    item.Size = ListSize(pos);
    Command("TOP " + Number(pos) + " 1");
    std::string block;
    ReadData(block);
    item.Headers.LoadFromText(block);
    CutHeadersAtBody(item.Headers);
}

void TmsCustomPOP::Delete(int pos) {
    if (OnDeleting) OnDeleting(*this, pos);
    SendLine("DELE " + Number(pos));
    // A message already gone must not stop the rest of the pass.
    ReadReply();
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
    for (int pos = 0; pos < MessageCount(); ++pos) {
        auto item = std::make_unique<TmsRemoteInfoItem>();
        GetInfo(pos, *item);
        info_.Add(std::move(item));
        if (OnNextInfoUpdated) OnNextInfoUpdated(*this, static_cast<int>(info_.Count()) - 1);
    }
    if (!keepOpen_) Disconnect();
    Fire(OnInfoUpdated);
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
    const TmsHeaders& was = info_.Item(static_cast<std::size_t>(pos)).Headers;
    bool same = true;
    const std::string idWas = GetHeaderValue(was, "Message-ID");
    const std::string idNow = GetHeaderValue(now.Headers, "Message-ID");
    // Two different ids are final: equal lines further up must not turn
    // them back into the same message.
    if (!idWas.empty() && !idNow.empty()) same = idWas == idNow;
    // With no lines on one side nothing could be compared at all.
    if ((was.Count() == 0) != (now.Headers.Count() == 0)) same = false;
    // Lines beyond the shorter block are not compared: a header the server
    // adds later must not make a message look foreign.
    const std::size_t lines = std::min(was.Count(), now.Headers.Count());
    for (std::size_t i = 0; same && i < lines; ++i)
        same = was[i] == now.Headers[i];
    if (!same) RaiseError(kErrIdsDifferent, std::string(kTextIdsDifferent));
}

void TmsRemotePOP::Retrieve(int pos) {
    const std::int32_t size = ListSize(pos);
    if (OnRetrieving) OnRetrieving(*this, pos);
    Command("RETR " + Number(pos));
    std::string message;
    ReadData(message, size);
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
    Fire(OnDataTransfered);
    Disconnect();
}

void TmsRemotePOP::Disconnect() {
    if (!Connected()) return;
    if (Linked()) Logout();
    Close();
}

}  // namespace kelvane
