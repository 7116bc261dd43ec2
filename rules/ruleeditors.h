#pragma once

// What the rule editors mean, without their windows: for each kind of rule
// the editor's state, its preset for Insert and for Edit (read from a row),
// the check that refuses a state (the message and the field to fix), and the
// cells a confirmed state writes. The windows only map their controls to and
// from these states. The keyword import's line rules live here as well.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/accounts.h"

namespace kelvane {

// A condition as the editors list it, and the keyword its row stores.
struct ConditionItem {
    const char* label;
    const char* stored;
};
// The subject editor offers the first seven, the sender editor all ten, the
// header and exception editors the first five.
extern const std::array<ConditionItem, 10> kConditionItems;
inline constexpr int kSubjectConditions = 7;
inline constexpr int kSenderConditions = 10;
inline constexpr int kHeaderConditions = 5;
inline constexpr int kExceptionConditions = 5;
// The conditions that look for a text: the first five.
inline constexpr int kTextConditions = 5;
bool ConditionTakesText(int condition);
// The index among the first count items whose stored keyword is stored, or
// -1 (the list is then left without a selection).
int ConditionIndex(std::string_view stored, int count);

extern const std::array<const char*, 44> kSubjectSuggestions;
extern const std::array<const char*, 54> kSenderSuggestions;
extern const std::array<const char*, 15> kHeaderSuggestions;

// The control an editor's refusal puts the focus on.
enum class EditorField { Condition, Text, To, Mailbox, Email, Domain, Subject };
struct EditorRefusal {
    std::string text;
    EditorField field;
};

inline constexpr std::string_view kNoConditionText = "Choose a condition from the list.";
inline constexpr std::string_view kSubjectBlankText = "The subject text cannot be left blank.";
inline constexpr std::string_view kSenderBlankText = "The Sender field cannot be left blank.";
inline constexpr std::string_view kHeaderBlankText = "The header text cannot be blank";
inline constexpr std::string_view kToBlankText = "The TO field cannot be blank";
inline constexpr std::string_view kNoMailboxText =
    "Enter a mailbox with a server in the general settings first.";
inline constexpr std::string_view kEmailBlankText = "The email line cannot be blank";
inline constexpr std::string_view kDomainBlankText = "The domain line cannot be blank";
inline constexpr std::string_view kExceptSubjectBlankText = "The subject line cannot be blank";

// Every editor's cells are a whole row of its list with the "Hits" cell left
// empty; writing them keeps a row's hit count, or sets "0" on a new row.
using RuleCells = std::vector<std::string>;

// --- subject rules
struct SubjectEditorState {
    int condition = 0;  // into kConditionItems, -1 for none
    std::string text;
    bool caseMatters = false;
    bool checkMark = true;
};
SubjectEditorState SubjectInsertPreset();
SubjectEditorState SubjectEditPreset(const RuleCells& row);
std::optional<EditorRefusal> CheckSubject(const SubjectEditorState& state);
RuleCells SubjectRow(const SubjectEditorState& state);

// --- sender rules
struct SenderEditorState {
    int condition = 2;   // "Equals (exact match)"
    bool domain = true;  // "Domain name", else "E-mail address"
    std::string text;
    bool checkMark = true;
};
SenderEditorState SenderInsertPreset();
SenderEditorState SenderEditPreset(const RuleCells& row);
std::optional<EditorRefusal> CheckSender(const SenderEditorState& state);
RuleCells SenderRow(const SenderEditorState& state);

// --- header rules
enum class HeaderKind { MessageHeader, ReplyToMismatch, ToDoesNotContain, SenderEqualsTo };
inline constexpr std::string_view kMailboxMarker = " - MailBox #";
struct HeaderMailboxEntry {
    int slot;
    std::string text;  // "%d) %s - server %s"
};
// One entry for every slot with a server, in slot order.
std::vector<HeaderMailboxEntry> HeaderMailboxEntries(const MailboxTable& table);
struct HeaderEditorState {
    HeaderKind kind = HeaderKind::MessageHeader;
    int condition = 0;
    std::string text = "X-1";
    bool caseMatters = false;
    bool checkMark = true;
    std::string to;   // edTo
    int mailbox = 0;  // the chosen entry's slot, 0 for none
};
HeaderEditorState HeaderInsertPreset();
HeaderEditorState HeaderEditPreset(const RuleCells& row);
std::optional<EditorRefusal> CheckHeader(const HeaderEditorState& state);
RuleCells HeaderRow(const HeaderEditorState& state);

// --- exceptions
enum class ExceptionKind { Email, Domain, Subject };
struct ExceptionEditorState {
    ExceptionKind kind = ExceptionKind::Email;
    std::string email, domain, subject;
    int condition = 0;
    bool caseMatters = false;
};
ExceptionEditorState ExceptionInsertPreset();
ExceptionEditorState ExceptionEditPreset(const RuleCells& row);
std::optional<EditorRefusal> CheckException(const ExceptionEditorState& state);
RuleCells ExceptionRow(const ExceptionEditorState& state);

// --- the keyword import
// The pasted lines, a line exactly equal to the one before it dropped.
std::vector<std::string> ImportLines(std::string_view text);
// The rows the non-blank lines become, trimmed: subject rules that delete
// on a whole word, or e-mail address exceptions.
std::vector<RuleCells> ImportedSubjectRows(const std::vector<std::string>& lines);
std::vector<RuleCells> ImportedExceptionRows(const std::vector<std::string>& lines);

}  // namespace kelvane
