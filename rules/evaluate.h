#pragma once

// Deciding the mark of a message: the exception list, the size limits, the
// subject, sender and header rules and the known-spammer blacklist, in that
// order. Normal evaluation may stop early and credits the hit counter of
// every rule that matches; the reasons report evaluates without stopping,
// credits nothing and collects one text line per match instead.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/headers.h"
#include "rules/knownlist.h"
#include "rules/spamsettings.h"

namespace kelvane {

// The values double as the indices of the row pictures, so they are fixed.
enum MessageMark : int {
    mmNone = -1,
    mmDelete = 0,
    mmQuestion = 1,
    mmException = 2,
    mmKnownSpammer = 3,
};

// The one test the count line, the deletion and its confirmations share.
constexpr bool IsMarkedForDeletion(MessageMark mark) {
    return mark == mmDelete || mark == mmKnownSpammer;
}

// One line of the message list. Row i stands for record i of the mailbox's
// remote information.
struct MessageRow {
    std::string subject;  // the "Subject" value
    std::string sender;   // the address part of "From", no display name
    std::string size;     // octets, decimal text
    std::string date;     // formatted, or the raw "Date" text
    MessageMark mark = mmNone;
};

enum class ReasonKind { Delete, Question, Exception };

inline constexpr std::string_view kReasonDeletePrefix = "Delete   : ";
inline constexpr std::string_view kReasonQuestionPrefix = "Question : ";
inline constexpr std::string_view kReasonExceptionPrefix = "Exception : ";
inline constexpr std::string_view kReasonCaseText = " (Case Sensitive)";

// "<prefix> <name> <verb> \"<value>\" <case text>" with a value, otherwise
// "<prefix> <name> <verb>" (and no case text).
std::string FormatReasonLine(ReasonKind kind, std::string_view name, std::string_view verb,
                             std::optional<std::string_view> value, bool caseSensitive);

class MessageEvaluator {
  public:
    // Both must outlive the evaluator. Hit counters of settings' lists are
    // credited in place.
    MessageEvaluator(SpamSettings& settings, const KnownSpammerList& known);

    // Evaluates one row from its current mark. mailbox is the number (1 to
    // 12) of the configured mailbox being checked, 0 when none matches.
    void MarkForDeletion(MessageRow& row, const TmsHeaders& headers, int mailbox);

    // index >= 0 evaluates that row only, a negative index every row in
    // order. Row i takes the headers of info record i; a row without a record
    // is judged with no header lines. An index past the last row does nothing.
    void MarkForDeletion(std::vector<MessageRow>& rows, const TmsRemoteInfo& info, int index,
                         int mailbox);
    // The same with the headers of row i given by headersOf(i).
    void MarkForDeletion(std::vector<MessageRow>& rows,
                         const std::function<const TmsHeaders&(std::size_t)>& headersOf, int index,
                         int mailbox);

    // Evaluates the row without early ends and without crediting hits,
    // appending one reason line per match to reasons. The row's mark is
    // updated as normal evaluation would from the same start.
    void CollectReasons(MessageRow& row, const TmsHeaders& headers, int mailbox,
                        std::vector<std::string>& reasons);

  private:
    struct Pass;

    void Evaluate(MessageRow& row, const TmsHeaders& headers, int mailbox, Pass& pass);
    bool ExceptionStep(const MessageRow& row, Pass& pass);
    void SizeStep(MessageRow& row, Pass& pass);
    void SubjectStep(MessageRow& row, Pass& pass);
    void SenderStep(MessageRow& row, Pass& pass);
    void HeaderStep(MessageRow& row, const TmsHeaders& headers, int mailbox, Pass& pass);
    void KnownStep(MessageRow& row, Pass& pass);

    // Header rules on the stored lines; returns whether any line matched.
    bool HeaderLineRule(std::size_t rule, const TmsHeaders& headers, Pass& pass, bool& stop);
    void PrepareHeaderLines(const TmsHeaders& headers);
    std::string_view FoldPattern(std::string_view pattern);

    SpamSettings& settings_;
    const KnownSpammerList& known_;

    // Scratch reused from message to message so that judging one allocates
    // nothing once the buffers have grown.
    std::string subjectUpper_;
    std::string senderUpper_;
    std::string patternUpper_;
    // Every stored header line but the last, joined by LF, raw and folded;
    // lineStarts_ holds each line's offset into them.
    std::string block_;
    std::string blockUpper_;
    std::vector<std::size_t> lineStarts_;
    // How often each byte occurs in block_ and blockUpper_.
    std::array<std::uint32_t, 256> blockCounts_{};
    std::array<std::uint32_t, 256> blockUpperCounts_{};
    bool linesPrepared_ = false;
};

// The lines of the "why was this marked" report for one row: who and what,
// an empty line, the reasons, and notes on marks the user changed by hand.
// Neither the row nor any hit counter changes.
std::vector<std::string> ReasonsReport(MessageEvaluator& evaluator, const MessageRow& row,
                                       const TmsHeaders& headers, int mailbox);

inline constexpr std::string_view kReportFromPrefix = "Message from ";
inline constexpr std::string_view kReportSubjectPrefix = "Subject of   ";
inline constexpr std::string_view kReportNothingMatched =
    "Message was neither on the exception list nor on the list of matching criteria";
inline constexpr std::string_view kReportUserMarked = "** You marked this message **";
inline constexpr std::string_view kReportUserUnmarked = "** You un-marked this message **";

}  // namespace kelvane
