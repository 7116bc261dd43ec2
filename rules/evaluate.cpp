#include "rules/evaluate.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "base/text.h"
#include "rules/predicates.h"

namespace kelvane {

namespace {

constexpr std::string_view kMailboxMarker = " - MailBox #";
constexpr std::string_view kNotReplyTo = "does not match Reply-to";
constexpr std::string_view kEqualsTo = "equals To field";
constexpr std::string_view kToNotContain = "To does not contain";
constexpr std::string_view kSenderKeyword = "Sender";
constexpr std::string_view kDomainName = "Domain name";
constexpr std::string_view kEmailAddress = "E-mail address";
constexpr std::string_view kSubject = "Subject";
constexpr std::string_view kHeader = "Header";

// Cells are compared against "Yes" for every rule of every message.
bool IsYes(std::string_view cell) {
    return cell.size() == 3 && cell[0] == 'Y' && cell[1] == 'e' && cell[2] == 's';
}

// The rule's condition keyword.
std::optional<Predicate> Condition(std::string_view keyword) {
    return PredicateFromKeyword(keyword);
}

// The byte of pattern that occurs least often in the text counted by
// counts; searching for it first skips most of a header block, which is
// full of the bytes patterns start with (the "X" of "X-Mailer" in every
// "EXAMPLE").
std::size_t RarestByte(std::string_view pattern, const std::array<std::uint32_t, 256>& counts) {
    std::size_t best = 0;
    for (std::size_t j = 1; j < pattern.size(); ++j)
        if (counts[static_cast<unsigned char>(pattern[j])] <
            counts[static_cast<unsigned char>(pattern[best])])
            best = j;
    return best;
}

// The first occurrence of pattern in text at or after from, looking for
// pattern[anchor] first.
std::size_t FindFrom(std::string_view text, std::string_view pattern, std::size_t anchor,
                     std::size_t from) {
    const std::size_t n = pattern.size();
    if (n == 0 || n > text.size()) return std::string_view::npos;
    const std::size_t last = text.size() - n;
    const char* base = text.data();
    for (std::size_t i = from; i <= last;) {
        const void* hit = std::memchr(base + i + anchor, pattern[anchor], last - i + 1);
        if (!hit) break;
        const std::size_t start =
            static_cast<std::size_t>(static_cast<const char*>(hit) - base) - anchor;
        if (std::memcmp(base + start, pattern.data(), n) == 0) return start;
        i = start + 1;
    }
    return std::string_view::npos;
}

void FoldInPlace(std::string& s) {
    for (char& c : s)
        c = AsciiUpper(c);
}

// The sender's parts as the sender rules and the blacklist cut them.
std::string_view DomainPart(std::string_view sender) {
    const std::size_t at = sender.find('@');
    if (at == std::string_view::npos) return sender;
    return sender.substr(at + 1, kMaxAddressPart);
}
std::string_view LocalPart(std::string_view sender) {
    return sender.substr(0, sender.find('@'));
}

struct ToRule {
    std::string_view address;
    int mailbox = 0;
};

// "addr - MailBox #n". Only a hand-edited file can hold anything else, and
// such a row never applies.
std::optional<ToRule> ParseToRule(std::string_view matches) {
    const std::size_t pos = matches.rfind(kMailboxMarker);
    if (pos == std::string_view::npos) return std::nullopt;
    const std::string_view digits = TrimView(matches.substr(pos + kMailboxMarker.size()));
    if (digits.empty()) return std::nullopt;
    for (char c : digits)
        if (!IsDigitByte(c)) return std::nullopt;
    int number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return ToRule{matches.substr(0, pos), number};
}

std::optional<std::int64_t> ParseSize(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Exceptions on the subject know only the tests that take a text.
std::optional<Predicate> ExceptionCondition(std::string_view keyword) {
    const auto p = Condition(keyword);
    if (p && TakesPattern(*p)) return p;
    return std::nullopt;
}

void ApplyListResult(MessageRow& row, bool anyMatch, bool check) {
    if (!anyMatch) return;
    if (check)
        row.mark = mmDelete;
    else if (row.mark != mmDelete)
        row.mark = mmQuestion;
}

ReasonKind KindFor(bool check) {
    return check ? ReasonKind::Delete : ReasonKind::Question;
}

}  // namespace

std::string FormatReasonLine(ReasonKind kind, std::string_view name, std::string_view verb,
                             std::optional<std::string_view> value, bool caseSensitive) {
    std::string_view prefix = kReasonDeletePrefix;
    if (kind == ReasonKind::Question) prefix = kReasonQuestionPrefix;
    if (kind == ReasonKind::Exception) prefix = kReasonExceptionPrefix;
    std::string line;
    line.reserve(prefix.size() + name.size() + verb.size() + (value ? value->size() : 0) + 24);
    line.append(prefix).append(" ").append(name).append(" ").append(verb);
    if (value) {
        line.append(" \"").append(*value).append("\" ");
        if (caseSensitive) line.append(kReasonCaseText);
    }
    return line;
}

struct MessageEvaluator::Pass {
    bool reasons = false;
    std::vector<std::string>* out = nullptr;

    void Credit(RuleList& list, std::size_t row) const {
        if (!reasons) list.IncrementHits(row);
    }
    void Why(ReasonKind kind, std::string_view name, std::string_view verb,
             std::optional<std::string_view> value, bool caseSensitive) const {
        if (reasons && out)
            out->push_back(FormatReasonLine(kind, name, verb, value, caseSensitive));
    }
    // A matching rule that asks for the check mark ends its walk, except
    // while collecting reasons, where every rule is tried.
    bool EndsWalk(bool check) const { return check && !reasons; }
};

MessageEvaluator::MessageEvaluator(SpamSettings& settings, const KnownSpammerList& known)
    : settings_(settings), known_(known) {}

void MessageEvaluator::MarkForDeletion(MessageRow& row, const TmsHeaders& headers, int mailbox) {
    Pass pass;
    Evaluate(row, headers, mailbox, pass);
}

void MessageEvaluator::MarkForDeletion(std::vector<MessageRow>& rows, const TmsRemoteInfo& info,
                                       int index, int mailbox) {
    static const TmsHeaders kNoHeaders;
    MarkForDeletion(
        rows,
        [&](std::size_t i) -> const TmsHeaders& {
            return i < info.Count() ? info.Item(i).Headers : kNoHeaders;
        },
        index, mailbox);
}

void MessageEvaluator::MarkForDeletion(
    std::vector<MessageRow>& rows, const std::function<const TmsHeaders&(std::size_t)>& headersOf,
    int index, int mailbox) {
    if (index >= 0) {
        const auto i = static_cast<std::size_t>(index);
        if (i < rows.size()) MarkForDeletion(rows[i], headersOf(i), mailbox);
        return;
    }
    for (std::size_t i = 0; i < rows.size(); ++i)
        MarkForDeletion(rows[i], headersOf(i), mailbox);
}

void MessageEvaluator::CollectReasons(MessageRow& row, const TmsHeaders& headers, int mailbox,
                                      std::vector<std::string>& reasons) {
    Pass pass;
    pass.reasons = true;
    pass.out = &reasons;
    Evaluate(row, headers, mailbox, pass);
}

std::string_view MessageEvaluator::FoldPattern(std::string_view pattern) {
    patternUpper_.assign(pattern);
    FoldInPlace(patternUpper_);
    return patternUpper_;
}

void MessageEvaluator::Evaluate(MessageRow& row, const TmsHeaders& headers, int mailbox,
                                Pass& pass) {
    // Every rule sees the same two fields, so they are folded once here.
    subjectUpper_.assign(row.subject);
    FoldInPlace(subjectUpper_);
    senderUpper_.assign(row.sender);
    FoldInPlace(senderUpper_);
    linesPrepared_ = false;

    if (ExceptionStep(row, pass)) {
        row.mark = mmException;
        return;
    }
    SizeStep(row, pass);
    auto goesOn = [&] { return pass.reasons || row.mark != mmDelete; };
    if (goesOn()) SubjectStep(row, pass);
    if (goesOn()) SenderStep(row, pass);
    if (goesOn()) HeaderStep(row, headers, mailbox, pass);
    if (goesOn() && settings_.KnownSpammers) KnownStep(row, pass);
}

bool MessageEvaluator::ExceptionStep(const MessageRow& row, Pass& pass) {
    using C = rulecol::Exception;
    RuleList& list = settings_.ExceptionRule;
    const TextForms subject{row.subject, subjectUpper_};
    for (std::size_t r = 1; r < list.RowCount(); ++r) {
        const std::string& what = list.Cell(C::What, r);
        if (what.empty()) continue;  // a gap, not the end of the list
        const std::string& matches = list.Cell(C::Matches, r);
        bool hit = false;
        std::string_view name, verb = "Equals";
        bool caseSensitive = false;
        if (what == kDomainName) {
            name = kDomainName;
            hit = EndsWithFolded(senderUpper_, FoldPattern(matches));
        } else if (what == kEmailAddress) {
            // A prefix test: "joe@example.com" also accepts
            // "joe@example.com.au".
            name = kEmailAddress;
            hit = StartsWithFolded(senderUpper_, FoldPattern(matches));
        } else {
            name = kSubject;
            const std::string& condition = list.Cell(C::Condition, r);
            verb = condition;
            caseSensitive = IsYes(list.Cell(C::Case, r));
            if (const auto p = ExceptionCondition(condition)) {
                const std::string_view upper = caseSensitive ? "" : FoldPattern(matches);
                hit = Matches(*p, subject, TextForms{matches, upper}, caseSensitive);
            }
        }
        if (!hit) continue;
        pass.Why(ReasonKind::Exception, name, verb, matches, caseSensitive);
        pass.Credit(list, r);
        return true;
    }
    return false;
}

void MessageEvaluator::SizeStep(MessageRow& row, Pass& pass) {
    const auto size = ParseSize(row.size);
    if (!size) return;
    const SizeLimits& l = settings_.Limits;
    bool check = false;
    std::string_view verb;
    std::int32_t limit = 0;
    if (l.smallerEnabled && *size < l.smallerBytes) {
        check = l.smallerCheck;
        verb = "smaller than";
        limit = l.smallerBytes;
    } else if (l.largerEnabled && *size > l.largerBytes) {
        check = l.largerCheck;
        verb = "larger than";
        limit = l.largerBytes;
    } else {
        return;
    }
    // Unlike the rule lists, a size limit sets its mark whatever the row had.
    row.mark = check ? mmDelete : mmQuestion;
    pass.Why(KindFor(check), "Size", verb, std::to_string(limit), false);
}

void MessageEvaluator::SubjectStep(MessageRow& row, Pass& pass) {
    using C = rulecol::Subject;
    RuleList& list = settings_.SubjectRule;
    const TextForms subject{row.subject, subjectUpper_};
    bool anyMatch = false, check = false;
    for (std::size_t r = 1; r < list.RowCount(); ++r) {
        const std::string& what = list.Cell(C::What, r);
        if (what.empty()) break;
        const auto p = Condition(what);
        if (!p) continue;
        const std::string& matches = list.Cell(C::Matches, r);
        const bool caseSensitive = IsYes(list.Cell(C::Case, r));
        const std::string_view upper =
            caseSensitive || !TakesPattern(*p) ? "" : FoldPattern(matches);
        if (!Matches(*p, subject, TextForms{matches, upper}, caseSensitive)) continue;
        const bool rowCheck = IsYes(list.Cell(C::Del, r));
        pass.Credit(list, r);
        pass.Why(KindFor(rowCheck), kSubject, what,
                 TakesPattern(*p) ? std::optional<std::string_view>(matches) : std::nullopt,
                 caseSensitive);
        anyMatch = true;
        check = check || rowCheck;
        if (pass.EndsWalk(rowCheck)) break;
    }
    ApplyListResult(row, anyMatch, check);
}

void MessageEvaluator::SenderStep(MessageRow& row, Pass& pass) {
    using C = rulecol::Sender;
    RuleList& list = settings_.SenderRule;
    const std::string_view sender = row.sender;
    const std::string_view upper = senderUpper_;
    // The same cuts of the raw and folded sender line up byte for byte.
    const auto cut = [&](std::string_view part) {
        const std::size_t off = static_cast<std::size_t>(part.data() - sender.data());
        return TextForms{part, upper.substr(off, part.size())};
    };
    const TextForms whole{sender, upper};
    const TextForms domain = cut(DomainPart(sender));
    const TextForms local = cut(LocalPart(sender));
    bool anyMatch = false, check = false;
    for (std::size_t r = 1; r < list.RowCount(); ++r) {
        const std::string& what = list.Cell(C::What, r);
        if (what.empty()) break;
        const std::string& condition = list.Cell(C::Condition, r);
        const auto p = Condition(condition);
        if (!p) continue;
        const bool onDomain = what == kDomainName;
        // Numeric and upper-case tests on an address look at the mailbox
        // name alone: "4325154@example.com" is all numeric.
        const bool localOnly = !onDomain && !TakesPattern(*p) && *p != Predicate::IsBlank;
        const TextForms text = onDomain ? domain : localOnly ? local : whole;
        const std::string& matches = list.Cell(C::Matches, r);
        const std::string_view patUpper = TakesPattern(*p) ? FoldPattern(matches) : "";
        if (!Matches(*p, text, TextForms{matches, patUpper}, false)) continue;
        const bool rowCheck = IsYes(list.Cell(C::Del, r));
        pass.Credit(list, r);
        pass.Why(KindFor(rowCheck), onDomain ? kDomainName : kEmailAddress, condition,
                 TakesPattern(*p) ? std::optional<std::string_view>(matches) : std::nullopt, false);
        anyMatch = true;
        check = check || rowCheck;
        if (pass.EndsWalk(rowCheck)) break;
    }
    ApplyListResult(row, anyMatch, check);
}

void MessageEvaluator::PrepareHeaderLines(const TmsHeaders& headers) {
    if (linesPrepared_) return;
    linesPrepared_ = true;
    block_.clear();
    lineStarts_.clear();
    // The last stored line is never tested.
    const std::size_t tested = headers.Count() > 0 ? headers.Count() - 1 : 0;
    for (std::size_t i = 0; i < tested; ++i) {
        lineStarts_.push_back(block_.size());
        block_.append(headers.Line(i));
        block_.push_back('\n');
    }
    blockUpper_.assign(block_);
    FoldInPlace(blockUpper_);
    blockCounts_.fill(0);
    blockUpperCounts_.fill(0);
    for (char c : block_)
        ++blockCounts_[static_cast<unsigned char>(c)];
    for (char c : blockUpper_)
        ++blockUpperCounts_[static_cast<unsigned char>(c)];
}

bool MessageEvaluator::HeaderLineRule(std::size_t r, const TmsHeaders& headers, Pass& pass,
                                      bool& stop) {
    using C = rulecol::Header;
    RuleList& list = settings_.HeaderRule;
    const std::string& what = list.Cell(C::What, r);
    const auto p = Condition(what);
    if (!p) return false;
    PrepareHeaderLines(headers);
    const std::string& matches = list.Cell(C::Matches, r);
    const bool caseSensitive = IsYes(list.Cell(C::Case, r));
    const bool rowCheck = IsYes(list.Cell(C::Del, r));
    const std::string_view patUpper = caseSensitive ? "" : FoldPattern(matches);
    const std::string_view block = caseSensitive ? block_ : blockUpper_;
    const std::string_view pattern = caseSensitive ? std::string_view(matches) : patUpper;
    const std::size_t lines = lineStarts_.size();
    auto lineAt = [&](std::size_t i, std::string_view b) {
        const std::size_t start = lineStarts_[i];
        const std::size_t end = i + 1 < lines ? lineStarts_[i + 1] : b.size();
        return b.substr(start, end - start - 1);  // without the joining LF
    };
    bool any = false;
    // Returns true when the walk must end here.
    auto onMatch = [&] {
        any = true;
        pass.Credit(list, r);
        pass.Why(KindFor(rowCheck), kHeader, what, matches, caseSensitive);
        if (pass.EndsWalk(rowCheck)) {
            stop = true;
            return true;
        }
        return false;
    };

    // "Contains" is by far the commonest header rule: one search through the
    // joined block finds the matching lines without a pass per line. A
    // pattern holding a line break could match across the joins, so it takes
    // the line-by-line way.
    if (*p == Predicate::Contains && pattern.find('\n') == std::string_view::npos) {
        if (pattern.empty()) return false;
        const std::size_t anchor =
            RarestByte(pattern, caseSensitive ? blockCounts_ : blockUpperCounts_);
        std::size_t from = 0, line = 0;
        while (from < block.size()) {
            const std::size_t pos = FindFrom(block, pattern, anchor, from);
            if (pos == std::string_view::npos) break;
            while (line + 1 < lines && lineStarts_[line + 1] <= pos)
                ++line;
            if (onMatch()) break;
            if (line + 1 >= lines) break;
            from = lineStarts_[line + 1];
            ++line;
        }
        return any;
    }
    const bool startsWith = *p == Predicate::StartsWith && !pattern.empty();
    for (std::size_t i = 0; i < lines; ++i) {
        // Most lines differ from a "Starts with" pattern in their first byte.
        if (startsWith && block[lineStarts_[i]] != pattern[0]) continue;
        const TextForms text{lineAt(i, block_), lineAt(i, blockUpper_)};
        if (!Matches(*p, text, TextForms{matches, patUpper}, caseSensitive)) continue;
        if (onMatch()) break;
    }
    return any;
}

// The walk goes on past a row that does not match, as the subject and sender
// walks do, however many rows have matched before it: a rule that does not
// apply to a message has no say in how far its list is read. Only a matching
// row asking for the check mark ends the walk early.
void MessageEvaluator::HeaderStep(MessageRow& row, const TmsHeaders& headers, int mailbox,
                                  Pass& pass) {
    using C = rulecol::Header;
    RuleList& list = settings_.HeaderRule;

    // Looked up at most once per message, on first use.
    std::optional<std::string> toValue, replyTo, fromAddress, toAddress;
    auto value = [&](std::optional<std::string>& slot, std::string_view name) -> std::string& {
        if (!slot) slot = GetHeaderValue(headers, name);
        return *slot;
    };
    auto from = [&]() -> std::string& {
        if (!fromAddress) fromAddress = AddressOrText(GetHeaderValue(headers, "From"));
        return *fromAddress;
    };

    bool anyMatch = false, check = false;
    for (std::size_t r = 1; r < list.RowCount(); ++r) {
        const std::string& what = list.Cell(C::What, r);
        if (what.empty()) break;
        const std::string& matches = list.Cell(C::Matches, r);
        const bool caseSensitive = IsYes(list.Cell(C::Case, r));
        const bool rowCheck = IsYes(list.Cell(C::Del, r));

        if (what != kToNotContain && what != kSenderKeyword) {
            bool stop = false;
            if (HeaderLineRule(r, headers, pass, stop)) {
                anyMatch = true;
                check = check || rowCheck;
            }
            if (stop) break;
            continue;
        }

        bool hit = false;
        std::string name = std::string(kHeader);
        std::string shown;
        if (what == kToNotContain) {
            const auto rule = ParseToRule(matches);
            if (!rule || rule->mailbox != mailbox) continue;
            const std::string& to = value(toValue, "To");
            hit = !to.empty() && !Contains(to, rule->address, false);
            if (hit) {
                name.append(" \"").append(to).append("\"");
                shown.assign(rule->address);
            }
        } else if (matches == kNotReplyTo) {
            const std::string& reply = value(replyTo, "Reply-to");
            const std::string& sender = from();
            hit = !reply.empty() && !Contains(reply, sender, false) &&
                  !Contains(sender, reply, false);
            if (hit) shown.append(reply).append(" ").append(kNotReplyTo).append(" ").append(sender);
        } else {
            if (!toAddress) toAddress = AddressOrText(value(toValue, "To"));
            const std::string& to = *toAddress;
            const std::string& sender = from();
            hit = !to.empty() && (Contains(to, sender, false) || Contains(sender, to, false));
            if (hit) shown.append(to).append(" ").append(kEqualsTo).append(" ").append(sender);
        }
        if (!hit) continue;
        pass.Credit(list, r);
        pass.Why(KindFor(rowCheck), name, what == kToNotContain ? kToNotContain : kSenderKeyword,
                 shown, caseSensitive);
        anyMatch = true;
        check = check || rowCheck;
        if (pass.EndsWalk(rowCheck)) break;
    }
    ApplyListResult(row, anyMatch, check);
}

void MessageEvaluator::KnownStep(MessageRow& row, Pass& pass) {
    const KnownListHit hit = known_.isInKnownList(row.sender);
    if (!hit.found) return;
    if (row.mark != mmDelete) row.mark = mmKnownSpammer;
    if (!pass.reasons) return;
    std::string verb = "\"";
    verb.append(hit.value).append(
        "\" is on the KNOWN SPAMMER BLACKLIST (you may edit if this is in error)");
    pass.Why(ReasonKind::Delete, hit.kind, verb, std::nullopt, false);
}

std::vector<std::string> ReasonsReport(MessageEvaluator& evaluator, const MessageRow& row,
                                       const TmsHeaders& headers, int mailbox) {
    std::vector<std::string> lines;
    lines.push_back(std::string(kReportFromPrefix) + row.sender);
    lines.push_back(std::string(kReportSubjectPrefix) + row.subject);
    lines.emplace_back();
    // The report judges a copy from scratch, so the row keeps its mark.
    MessageRow judged = row;
    judged.mark = mmNone;
    evaluator.CollectReasons(judged, headers, mailbox, lines);
    if (lines.size() == 3) lines.emplace_back(kReportNothingMatched);
    if (row.mark == mmDelete && judged.mark != mmDelete) lines.emplace_back(kReportUserMarked);
    if (row.mark == mmNone && judged.mark != mmNone) lines.emplace_back(kReportUserUnmarked);
    return lines;
}

}  // namespace kelvane
