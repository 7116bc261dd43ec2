#pragma once

// The POP3 client: logging in with USER and PASS, reading the mailbox size
// with STAT, fetching each message's size and header block (LIST and TOP),
// retrieving whole messages and deleting marked ones. No APOP. Message
// numbers change between sessions, so a second session checks a message's
// unique id (UIDL, when the server has it), size and headers again before it
// touches it. When the server announces PIPELINING in its CAPA reply, the
// header pass and the deletion pass send their commands ahead of the
// replies; what they do is the same.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/error.h"
#include "mail/agsocket.h"
#include "mail/headers.h"
#include "mail/popsettings.h"

namespace kelvane {

constexpr int kErrUserNameRequired = 57103;
constexpr int kErrPasswordRequired = 57104;
constexpr int kErrIdsDifferent = 57105;
constexpr int kErrOutOfStep = 57110;

inline constexpr std::string_view kTextUserNameRequired = "UserName property is required";
inline constexpr std::string_view kTextPasswordRequired = "Password property is required";
inline constexpr std::string_view kTextIdsDifferent = "IDs are different";

// "The replies of SERVER are out of step": with commands in flight, a reply
// did not fit the command it was read for.
std::string OutOfStepText(std::string_view server);

// Whether now is the message recorded as was: unique ids, sizes and header
// lines are compared where both records have them.
bool SameMessage(const TmsRemoteInfoItem& was, const TmsRemoteInfoItem& now);

// A reply the server refused with; the text is the reply line as it came
// (empty when the server closed before a whole line). Not reported to
// OnError: the caller shows it.
class ServerError : public KelvaneError {
  public:
    using KelvaneError::KelvaneError;
};

// Where a deletion pass puts the copies of the messages it deletes. The
// copies may be written on other threads, while the session goes on.
class CopyKeeper {
  public:
    struct Settled {
        int num;  // the message's list position
        bool kept;
        std::string reason;  // why not, when not kept
    };
    virtual ~CopyKeeper() = default;
    // Takes the copy of the message at num. Blocks while the keeper holds
    // as many copies as it may, so that fetched messages never pile up.
    virtual void Submit(int num, std::string message, bool headersOnly) = 0;
    // The copies settled since the last call: safe on disk, or failed.
    // With wait, blocks until there is one, unless none is outstanding.
    virtual std::vector<Settled> TakeSettled(bool wait) = 0;
};

class TmsCustomPOP : public TmsMailBase {
  public:
    using NumNotify = std::function<void(TmsCustomPOP& sender, int num)>;

    // The most one reply may hold: a header block far beyond any real one,
    // a message beyond what a mailbox is expected to hold.
    static constexpr std::size_t kMaxHeaderBlock = std::size_t{16} << 20;
    static constexpr std::size_t kMaxMessage = std::size_t{256} << 20;
    // What the records of one header pass keep of the header blocks, in
    // HeaderCost: a block is judged and shown from at most its first MiB,
    // far more than any rule or the list uses; once 32 MiB are spent, from
    // at most 16 KiB (a whole ordinary header block), so that a pass stays
    // bounded whatever the server sends.
    static constexpr std::size_t kKeepHeaderBlock = std::size_t{1} << 20;
    static constexpr std::size_t kKeepHeadersTotal = std::size_t{32} << 20;
    static constexpr std::size_t kKeepHeaderSmall = std::size_t{16} << 10;
    // The bound of the next block when spent bytes are kept already.
    static std::size_t HeaderKeepFor(std::size_t spent);

    TmsCustomPOP() : TmsMailBase("pop3", 110) { SetTlsService("pop3s", 995); }

    const std::string& UserName() const { return userName_; }
    void SetUserName(std::string name) { userName_ = std::move(name); }
    const std::string& Password() const { return password_; }
    void SetPassword(std::string password) { password_ = std::move(password); }

    // USER and PASS, or XOAUTH2 with Password() as the OAuth 2.0 token.
    SignIn SignInKind() const { return signIn_; }
    void SetSignIn(SignIn kind) { signIn_ = kind; }
    // The slot number the sign-in errors name (0: none).
    void SetMailboxNumber(int n) { mailboxNumber_ = n; }

    // Whether to ask for CAPA and pipeline when the server offers it (on by
    // default; off for servers that announce it and get it wrong).
    bool Pipelining() const { return pipelining_; }
    void SetPipelining(bool on) { pipelining_ = on; }
    // Whether the server of this session announced PIPELINING.
    bool ServerPipelines() const { return serverPipelines_; }

    // Bytes a TOP block and a RETR block may hold (tests lower them).
    void SetBlockLimits(std::size_t headerBlock, std::size_t message) {
        headerLimit_ = headerBlock;
        messageLimit_ = message;
    }
    std::size_t HeaderBlockLimit() const { return headerLimit_; }
    std::size_t MessageLimit() const { return messageLimit_; }

    // From the last STAT reply; -1 before the first.
    int MessageCount() const { return messageCount_; }
    std::int64_t MailboxSize() const { return mailboxSize_; }

    // "+" is 1, "-" is -1, anything else (an empty line too) is 0.
    int ReplyCode(std::string_view line) const override;
    // The text of a reply that is not positive: the line as it came, empty
    // when the server closed first, kTextEmptyReply for an empty line.
    std::string RefusalText(int code) const;
    // Checks the login data before anything is dialled or resolved.
    void Open() override;
    void Close() override;
    // Connects, reads the greeting, upgrades with STLS when the security
    // setting asks for it, sends USER and PASS (or CAPA and AUTH XOAUTH2),
    // then STAT.
    void Login() override;
    // QUIT; a refused QUIT leaves the connection open.
    void Logout() override;

    void CheckLogin();
    // The size from LIST and the header block from TOP n 1 for the message
    // at list position pos, with its unique id when the session has them;
    // of the header block, what fits in keep (LoadHeaderBlock).
    void GetInfo(int pos, TmsRemoteInfoItem& item, std::size_t keep = kKeepHeaderBlock);
    // Sends DELE. A refusal closes the session without QUIT, so that none of
    // its deletions take effect, and raises the reply.
    void Delete(int pos);

    NumNotify OnRetrieving;
    NumNotify OnRetrieved;
    NumNotify OnDeleting;

  protected:
    class Pipeline;

    // True from a completed TCP connect until Close. The socket handle alone
    // says less: Open creates it before anything is connected.
    bool Linked() const { return linked_ && Connected(); }
    // Opens and logs in unless a session is still open.
    void EnsureConnected();
    // Sends the command and throws ServerError unless the reply is positive.
    void Command(const std::string& line);
    // The message count and mailbox size from the STAT reply just read.
    void ParseStat();
    // The size of the message at pos as LIST reports it, kSizeUnknown when
    // unreadable.
    std::int64_t ListSize(int pos);

    // Closes without QUIT and raises the reply unless it is positive.
    void CheckDeleteReply(int code);
    // Asks for the capabilities and notes whether the server pipelines.
    void ReadCapabilities();
    // Sends ahead of replies only when both sides agree to.
    bool PipelineActive() const { return pipelining_ && serverPipelines_; }
    // Queues LIST and TOP for the message at pos; false when the window is full.
    bool SendInfoCommands(Pipeline& pipe, int pos);
    // Reads the replies of SendInfoCommands into item, as GetInfo does; a
    // reply that does not fit its command raises OutOfStepText.
    void ReadInfo(Pipeline& pipe, int pos, TmsRemoteInfoItem& item, std::size_t keep);
    // A reply read with commands in flight; one that is neither positive
    // nor negative belongs to no command: out of step.
    int ReadInStep(Pipeline& pipe);
    [[noreturn]] void RaiseOutOfStep();

    // The unique ids are asked for once a session, before the first LIST.
    bool UniqueIdsWanted() const { return !uidsAsked_ && MessageCount() > 0; }
    // UIDL command by command; a refusal leaves the session without ids.
    void ReadUniqueIds();
    // Reads the reply to a queued UIDL.
    void ReadUniqueIds(Pipeline& pipe);
    // The id of the message at pos in this session, empty when unknown.
    std::string UniqueIdAt(int pos) const;

    // Throws ServerError with the reply unless code is positive.
    void CheckReply(int code);

  private:
    // Takes the ids from a UIDL listing; false when a line is not "n id".
    bool ParseUniqueIds(std::string_view block);
    // CAPA, then AUTH XOAUTH2 with the initial response. Every failure
    // closes the session; nothing falls back to USER and PASS.
    void SignInXOAuth2();
    [[noreturn]] void FailSignIn(const std::string& what);

    std::string userName_;
    std::string password_;
    SignIn signIn_ = SignIn::UserPass;
    int mailboxNumber_ = 0;
    bool offersXOAuth2_ = false;
    int messageCount_ = -1;
    std::int64_t mailboxSize_ = -1;
    bool pipelining_ = true;
    bool serverPipelines_ = false;
    std::size_t headerLimit_ = kMaxHeaderBlock;
    std::size_t messageLimit_ = kMaxMessage;
    bool linked_ = false;
    bool uidsAsked_ = false;
    std::vector<std::string> uids_;  // by position; empty without UIDL
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

    // Throws "IDs are different" unless the message now at pos is the one
    // recorded there (SameMessage).
    void VerifySame(int pos);
    // Fetches the message at pos and hands it to SaveMessage.
    void Retrieve(int pos);
    void SaveMessage(int pos, std::string& contents);

    // A copy of each message before it is deleted. With a keeper set, the
    // deletion pass fetches every marked message after its identity check:
    // whole with RETR, or its header block alone with TOP n 0 when its
    // listed size is above the whole-copy limit, and hands it to the keeper
    // as the server sent it (dot-stuffing undone, line ends as they came).
    // Pipelined, the session goes on reading while the keeper writes; a
    // message's DELE goes out once the keeper says its copy is safe. A
    // message the server will not hand over, or whose copy the keeper
    // could not make, is not deleted; the pass goes on with the others.
    // The keeper must outlive the pass.
    void SetKeeper(CopyKeeper* keeper) { keeper_ = keeper; }
    // Bytes above which only the header block is kept; negative: no limit.
    void SetKeepWholeLimit(std::int64_t bytes) { keepWholeLimit_ = bytes; }
    // The marked messages the last pass left on the server for want of a
    // copy, and why the first of them was not kept.
    int NotKept() const { return notKept_; }
    const std::string& NotKeptReason() const { return notKeptReason_; }

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
    void UpdateInfoPipelined();
    // The pipelined deletion: every marked message checked, then the DELEs.
    void DeletePipelined(const std::vector<int>& marked);
    void VerifyPipelined(Pipeline& pipe, const std::vector<int>& marked);
    void DeleteVerified(Pipeline& pipe, const std::vector<int>& marked);
    // Closes without QUIT and raises OutOfStepText when the pass's pipe
    // holds bytes beyond its last reply.
    void CheckInStep(const Pipeline& pipe);
    // The bound a record's block was read with.
    std::size_t KeepOf(int pos) const;
    // Fails with "IDs are different" unless now is the message recorded at
    // pos; close: the connection is closed first (commands still in flight).
    void CheckSame(int pos, const TmsRemoteInfoItem& now, bool close);
    bool KeepsHeadersOnly(int pos) const;
    // The strict fetch and copy of the message at pos; false when it must
    // not be deleted.
    bool FetchAndKeep(int pos);
    // Hands the fetched block to the keeper and waits for it; false when
    // the copy failed.
    bool StoreCopy(int pos, std::string_view block, bool headersOnly);
    void NoteNotKept(std::string reason);
    void DeleteKeepingPipelined(const std::vector<int>& marked);

    TmsRemoteInfo info_;
    std::string messageDirectory_;
    bool keepOpen_ = false;
    CopyKeeper* keeper_ = nullptr;
    std::int64_t keepWholeLimit_ = -1;
    int notKept_ = 0;
    std::string notKeptReason_;
};

// The message a dot-terminated block carries: the final "." line removed
// and the dot the server put before a line starting with "." taken away.
std::string UnstuffBlock(std::string_view block);

}  // namespace kelvane
