#include "rules/ruleeditors.h"

#include "base/lines.h"
#include "base/text.h"
#include "rules/rulelist.h"

namespace kelvane {

const std::array<ConditionItem, 10> kConditionItems{{
    {"Contains", "Contains"},
    {"Contains (whole word)", "Contains (whole word)"},
    {"Equals (exact match)", "Equals"},
    {"Starts with", "Starts with"},
    {"Ends with", "Ends with"},
    {"Is blank or empty", "Is blank"},
    {"Is all UPPERCASE", "Is UPPERCASE"},
    {"Is ALL numeric", "All numeric"},
    {"Is at least 1/2 numeric", "50% numeric"},
    {"Starts with a number", "First char numeric"},
}};

const std::array<const char*, 44> kSubjectSuggestions{
    "!!",          "$$",          "==",           "adult site", "adults only",
    "advertise",   "advertising", "bulk",         "buy",        "call 800",
    "dollar",      "exciting",    "extra income", "for only",   "free",
    "guaranteed",  "help wanted", "huge",         "income",     "incredible deal",
    "lottery",     "make money",  "market",       "million",    "MLM",
    "mlm",         "naked",       "nude",         "offer",      "opportunity",
    "please read", "profit",      "read this",    "rich",       "save $",
    "secret",      "sex",         "spam",         "specials",   "weight",
    "win $",       "women",       "work at home", "XXX",
};

const std::array<const char*, 54> kSenderSuggestions{
    "bigbucks",    "bulkemail", "business",   "cableguys", "canceranswer",
    "careers",     "cash",      "casino",     "clubmail",  "credaid",
    "credaide",    "credit",    "directmail", "dontreply", "energy",
    "erotic",      "floodgate", "fortune",    "freedom",   "freesoftware",
    "friend",      "friends",   "global",     "golf",      "gorgeousgirls",
    "health",      "help",      "helpcrdt",   "homebiz",   "hotbabe69",
    "important",   "info",      "internet",   "market",    "nobody",
    "opportunity", "platinum",  "politics",   "profit",    "promotion",
    "psychic",     "remove",    "sales",      "scoop",     "selective.marketing",
    "sender",      "sexy",      "stop",       "stopnow",   "success",
    "video",       "virtual",   "wealth",     "xxx",
};

const std::array<const char*, 15> kHeaderSuggestions{
    "X-1",
    "X-Advertisement",
    "X-Authentication-Warning",
    "X-BulkEmail",
    "X-Distribution: Bulk",
    "X-Distribution: Mass",
    "X-Distribution: Moderate",
    "X-Mailer: Emailer Platinum",
    "X-Mailer: Extractor",
    "X-Mailer: eMarksman",
    "X-Mailer: Floodgate",
    "X-Mailer: Group Mail",
    "X-Mailer: Millennium Mailer",
    "X-Removal",
    "X-Sender: News Breaker",
};

namespace {

constexpr const char* kYes = "Yes";
constexpr const char* kNo = "No";
constexpr const char* kEmailAddress = "E-mail address";
constexpr const char* kDomainName = "Domain name";
constexpr const char* kSubjectWhat = "Subject";
constexpr const char* kToDoesNotContain = "To does not contain";
constexpr const char* kSenderWhat = "Sender";
constexpr const char* kReplyToMismatch = "does not match Reply-to";
constexpr const char* kEqualsTo = "equals To field";

const std::string& At(const RuleCells& row, std::size_t col) {
    static const std::string empty;
    return col < row.size() ? row[col] : empty;
}

const char* YesNo(bool yes) {
    return yes ? kYes : kNo;
}

const char* Stored(int condition) {
    return kConditionItems.at(static_cast<std::size_t>(condition)).stored;
}

// Nothing left after the trimming the row applies.
bool Blank(std::string_view text) {
    return TrimView(text).empty();
}

bool InRange(int condition, int count) {
    return condition >= 0 && condition < count;
}

std::optional<EditorRefusal> Refuse(std::string_view text, EditorField field) {
    return EditorRefusal{std::string(text), field};
}

// The part of a 'To' rule's text before its mailbox marker.
std::string BeforeMarker(std::string_view text) {
    return std::string(text.substr(0, text.find(kMailboxMarker)));
}

}  // namespace

bool ConditionTakesText(int condition) {
    return InRange(condition, kTextConditions);
}

namespace {

// A condition from the list, and a text where the condition looks at one.
std::optional<EditorRefusal> CheckConditionAndText(int condition, int conditions,
                                                   std::string_view text,
                                                   std::string_view blankText) {
    if (!InRange(condition, conditions)) return Refuse(kNoConditionText, EditorField::Condition);
    if (ConditionTakesText(condition) && Blank(text)) return Refuse(blankText, EditorField::Text);
    return std::nullopt;
}

}  // namespace

int ConditionIndex(std::string_view stored, int count) {
    for (int i = 0; i < count; ++i)
        if (stored == Stored(i)) return i;
    return -1;
}

// --- subject rules

SubjectEditorState SubjectInsertPreset() {
    return {};
}

SubjectEditorState SubjectEditPreset(const RuleCells& row) {
    using C = rulecol::Subject;
    SubjectEditorState s;
    s.condition = ConditionIndex(At(row, C::What), kSubjectConditions);
    s.text = At(row, C::Matches);
    s.caseMatters = At(row, C::Case) == kYes;
    s.checkMark = At(row, C::Del) == kYes;
    return s;
}

std::optional<EditorRefusal> CheckSubject(const SubjectEditorState& s) {
    return CheckConditionAndText(s.condition, kSubjectConditions, s.text, kSubjectBlankText);
}

RuleCells SubjectRow(const SubjectEditorState& s) {
    RuleCells row(6);
    using C = rulecol::Subject;
    row[C::What] = Stored(s.condition);
    // "Is blank" and "Is UPPERCASE" look at the whole subject: no text, no case.
    if (ConditionTakesText(s.condition)) {
        row[C::Matches] = Trim(s.text);
        row[C::Case] = YesNo(s.caseMatters);
    }
    row[C::Del] = YesNo(s.checkMark);
    return row;
}

// --- sender rules

SenderEditorState SenderInsertPreset() {
    return {};
}

SenderEditorState SenderEditPreset(const RuleCells& row) {
    using C = rulecol::Sender;
    SenderEditorState s;
    s.domain = At(row, C::What) != kEmailAddress;
    s.condition = ConditionIndex(At(row, C::Condition), kSenderConditions);
    s.text = At(row, C::Matches);
    s.checkMark = At(row, C::Del) == kYes;
    return s;
}

std::optional<EditorRefusal> CheckSender(const SenderEditorState& s) {
    return CheckConditionAndText(s.condition, kSenderConditions, s.text, kSenderBlankText);
}

RuleCells SenderRow(const SenderEditorState& s) {
    RuleCells row(6);
    using C = rulecol::Sender;
    row[C::What] = s.domain ? kDomainName : kEmailAddress;
    row[C::Condition] = Stored(s.condition);
    // A text left over from an earlier condition is dropped with its field.
    if (ConditionTakesText(s.condition)) row[C::Matches] = Trim(s.text);
    row[C::Del] = YesNo(s.checkMark);
    return row;
}

// --- header rules

std::vector<HeaderMailboxEntry> HeaderMailboxEntries(const MailboxTable& table) {
    std::vector<HeaderMailboxEntry> out;
    for (int n = 1; n <= static_cast<int>(table.slots.size()); ++n) {
        const MailboxAccount& a = table.slot(n);
        if (a.server.empty()) continue;
        out.push_back({n, std::to_string(n) + ") " + a.userName + " - server " + a.server});
    }
    return out;
}

HeaderEditorState HeaderInsertPreset() {
    return {};
}

HeaderEditorState HeaderEditPreset(const RuleCells& row) {
    using C = rulecol::Header;
    HeaderEditorState s;
    const std::string& what = At(row, C::What);
    const std::string& matches = At(row, C::Matches);
    s.condition = ConditionIndex(what, kHeaderConditions);
    s.text = matches;
    s.caseMatters = At(row, C::Case) == kYes;
    s.checkMark = At(row, C::Del) == kYes;
    if (matches == kReplyToMismatch) {
        s.kind = HeaderKind::ReplyToMismatch;
    } else if (matches == kEqualsTo) {
        s.kind = HeaderKind::SenderEqualsTo;
    } else if (what == kToDoesNotContain) {
        s.kind = HeaderKind::ToDoesNotContain;
        s.to = BeforeMarker(matches);
        const std::size_t at = matches.find(kMailboxMarker);
        std::int32_t n = 0;
        if (at != std::string::npos &&
            ParseDecimalInt32(std::string_view(matches).substr(at + kMailboxMarker.size()), n))
            s.mailbox = n;
    }
    return s;
}

std::optional<EditorRefusal> CheckHeader(const HeaderEditorState& s) {
    switch (s.kind) {
        case HeaderKind::MessageHeader:
            if (!InRange(s.condition, kHeaderConditions))
                return Refuse(kNoConditionText, EditorField::Condition);
            // A blank text would be a rule that every header line contains.
            if (Blank(s.text)) return Refuse(kHeaderBlankText, EditorField::Text);
            break;
        case HeaderKind::ToDoesNotContain:
            if (Blank(BeforeMarker(s.to))) return Refuse(kToBlankText, EditorField::To);
            if (s.mailbox <= 0) return Refuse(kNoMailboxText, EditorField::Mailbox);
            break;
        case HeaderKind::ReplyToMismatch:
        case HeaderKind::SenderEqualsTo:
            break;
    }
    return std::nullopt;
}

RuleCells HeaderRow(const HeaderEditorState& s) {
    RuleCells row(6);
    using C = rulecol::Header;
    row[C::Del] = YesNo(s.checkMark);
    switch (s.kind) {
        case HeaderKind::MessageHeader:
            row[C::What] = Stored(s.condition);
            row[C::Matches] = Trim(s.text);
            row[C::Case] = YesNo(s.caseMatters);
            break;
        case HeaderKind::ReplyToMismatch:
            row[C::What] = kSenderWhat;
            row[C::Matches] = kReplyToMismatch;
            row[C::Case] = kNo;
            break;
        case HeaderKind::SenderEqualsTo:
            row[C::What] = kSenderWhat;
            row[C::Matches] = kEqualsTo;
            row[C::Case] = kNo;
            break;
        case HeaderKind::ToDoesNotContain:
            row[C::What] = kToDoesNotContain;
            row[C::Matches] =
                Trim(BeforeMarker(s.to)) + std::string(kMailboxMarker) + std::to_string(s.mailbox);
            row[C::Case] = kNo;
            break;
    }
    return row;
}

// --- exceptions

ExceptionEditorState ExceptionInsertPreset() {
    return {};
}

ExceptionEditorState ExceptionEditPreset(const RuleCells& row) {
    using C = rulecol::Exception;
    ExceptionEditorState s;
    const std::string& what = At(row, C::What);
    const std::string& matches = At(row, C::Matches);
    if (what == kDomainName) {
        s.kind = ExceptionKind::Domain;
        s.domain = matches;
    } else if (what == kEmailAddress) {
        s.kind = ExceptionKind::Email;
        s.email = matches;
    } else {
        s.kind = ExceptionKind::Subject;
        s.subject = matches;
    }
    s.condition = ConditionIndex(At(row, C::Condition), kExceptionConditions);
    s.caseMatters = At(row, C::Case) == kYes;
    return s;
}

// Blank means empty here: an address of spaces is the user's to keep.
std::optional<EditorRefusal> CheckException(const ExceptionEditorState& s) {
    switch (s.kind) {
        case ExceptionKind::Email:
            if (s.email.empty()) return Refuse(kEmailBlankText, EditorField::Email);
            break;
        case ExceptionKind::Domain:
            if (s.domain.empty()) return Refuse(kDomainBlankText, EditorField::Domain);
            break;
        case ExceptionKind::Subject:
            if (!InRange(s.condition, kExceptionConditions))
                return Refuse(kNoConditionText, EditorField::Condition);
            if (s.subject.empty()) return Refuse(kExceptSubjectBlankText, EditorField::Subject);
            break;
    }
    return std::nullopt;
}

RuleCells ExceptionRow(const ExceptionEditorState& s) {
    RuleCells row(5);
    using C = rulecol::Exception;
    switch (s.kind) {
        case ExceptionKind::Email:
            row[C::What] = kEmailAddress;
            row[C::Condition] = "Equals";
            row[C::Matches] = s.email;
            break;
        case ExceptionKind::Domain:
            row[C::What] = kDomainName;
            row[C::Condition] = "Equals";
            row[C::Matches] = s.domain;
            break;
        case ExceptionKind::Subject:
            row[C::What] = kSubjectWhat;
            row[C::Condition] = Stored(s.condition);
            row[C::Matches] = s.subject;
            break;
    }
    row[C::Case] = YesNo(s.caseMatters);
    return row;
}

// --- the keyword import

std::vector<std::string> ImportLines(std::string_view text) {
    std::vector<std::string> out;
    LineSplitter lines(text);
    for (std::string_view line; lines.Next(line);)
        if (out.empty() || out.back() != line) out.emplace_back(line);
    return out;
}

std::vector<RuleCells> ImportedSubjectRows(const std::vector<std::string>& lines) {
    std::vector<RuleCells> rows;
    for (const std::string& line : lines)
        if (!Blank(line)) rows.push_back({"", "Contains (whole word)", Trim(line), kNo, kYes});
    return rows;
}

std::vector<RuleCells> ImportedExceptionRows(const std::vector<std::string>& lines) {
    std::vector<RuleCells> rows;
    for (const std::string& line : lines)
        if (!Blank(line)) rows.push_back({kEmailAddress, "Equals", Trim(line), kNo});
    return rows;
}

}  // namespace kelvane
