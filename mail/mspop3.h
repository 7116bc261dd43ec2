#pragma once

// The POP3 client: logging in with USER and PASS, reading the mailbox size
// with STAT, fetching each message's size and header block (LIST and TOP),
// retrieving whole messages and deleting marked ones. No UIDL and no APOP:
// messages are known by their number only, so a second session checks a
// message's headers again before it touches it.

#include <cstdint>
#include <functional>
#include <string>

#include "base/error.h"
#include "mail/agsocket.h"
#include "mail/headers.h"

namespace kelvane {

constexpr int kErrUserNameRequired = 57103;
constexpr int kErrPasswordRequired = 57104;
constexpr int kErrIdsDifferent = 57105;

inline constexpr std::string_view kTextUserNameRequired = "UserName property is required";
inline constexpr std::string_view kTextPasswordRequired = "Password property is required";
inline constexpr std::string_view kTextIdsDifferent = "IDs are different";

// A reply the server refused with; the text is the reply line as it came
// (empty when the server closed before a whole line). Not reported to
// OnError: the caller shows it.
class ServerError : public KelvaneError {
  public:
    using KelvaneError::KelvaneError;
};

class TmsCustomPOP : public TmsMailBase {
  public:
    using NumNotify = std::function<void(TmsCustomPOP& sender, int num)>;

    TmsCustomPOP() : TmsMailBase("pop3", 110) { SetTlsService("pop3s", 995); }

    const std::string& UserName() const { return userName_; }
    void SetUserName(std::string name) { userName_ = std::move(name); }
    const std::string& Password() const { return password_; }
    void SetPassword(std::string password) { password_ = std::move(password); }

    // From the last STAT reply; -1 before the first.
    int MessageCount() const { return messageCount_; }
    int MailboxSize() const { return mailboxSize_; }

    // "+" is 1, "-" is -1, anything else (an empty line too) is 0.
    int ReplyCode(std::string_view line) const override;
    // Checks the login data before anything is dialled or resolved.
    void Open() override;
    void Close() override;
    // Connects, reads the greeting, upgrades with STLS when the security
    // setting asks for it, sends USER and PASS, then STAT.
    void Login() override;
    // QUIT; a refused QUIT leaves the connection open.
    void Logout() override;

    void CheckLogin();
    // The size from LIST and the header block from TOP n 1 for the message
    // at list position pos.
    void GetInfo(int pos, TmsRemoteInfoItem& item);
    // Sends DELE; the reply is read but not judged.
    void Delete(int pos);

    NumNotify OnRetrieving;
    NumNotify OnRetrieved;
    NumNotify OnDeleting;

  protected:
    // True from a completed TCP connect until Close. The socket handle alone
    // says less: Open creates it before anything is connected.
    bool Linked() const { return linked_ && Connected(); }
    // Opens and logs in unless a session is still open.
    void EnsureConnected();
    // Sends the command and throws ServerError unless the reply is positive.
    void Command(const std::string& line);
    void ReadStat();
    // The size of the message at pos as LIST reports it, 0 when unreadable.
    std::int32_t ListSize(int pos);

  private:
    void CheckReply(int code);

    std::string userName_;
    std::string password_;
    int messageCount_ = -1;
    int mailboxSize_ = -1;
    bool linked_ = false;
};

class TmsRemotePOP : public TmsCustomPOP {
  public:
    using Notify = std::function<void(TmsRemotePOP& sender)>;
    using RemoteNumNotify = std::function<void(TmsRemotePOP& sender, int num)>;
    using SaveNotify = std::function<void(TmsRemotePOP& sender, int num, std::string& contents)>;

    const TmsRemoteInfo& Info() const { return info_; }
    TmsRemoteInfo& Info() { return info_; }

    // The folder for retrieved messages; a separator is appended when missing.
    const std::string& MessageDirectory() const { return messageDirectory_; }
    void SetMessageDirectory(std::string folder);

    bool KeepOpen() const { return keepOpen_; }
    void SetKeepOpen(bool keep) { keepOpen_ = keep; }

    // Refills Info with every waiting message, then logs out.
    void UpdateInfo();
    void MarkForDelete(int pos);
    void MarkForRetrieve(int pos);
    void ClearMarks(int pos);
    // Retrieves, then deletes, the marked messages of Info in a session of
    // its own. The marks stay set.
    void ProcessMarks();
    // QUIT and close when a session is open; a socket opened but never
    // connected is only closed.
    void Disconnect();

    // Throws "IDs are different" unless the message now at pos has the
    // headers recorded for it.
    void VerifySame(int pos);
    // Fetches the message at pos and hands it to SaveMessage.
    void Retrieve(int pos);
    void SaveMessage(int pos, std::string& contents);

    Notify OnUpdatingInfo;
    Notify OnInfoUpdated;
    Notify OnTransferringData;
    Notify OnDataTransfered;
    RemoteNumNotify OnNextInfoUpdated;
    SaveNotify OnUserMessageSave;

  private:
    void Fire(const Notify& event) {
        if (event) event(*this);
    }

    TmsRemoteInfo info_;
    std::string messageDirectory_;
    bool keepOpen_ = false;
};

}  // namespace kelvane
