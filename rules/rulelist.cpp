#include "rules/rulelist.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <utility>

#include "base/error.h"
#include "base/fileio.h"
#include "base/lines.h"
#include "base/text.h"

namespace kelvane {

namespace {

const std::string kEmpty;

std::size_t WidthOf(RuleKind kind) {
    return kind == RuleKind::Exception ? 5 : 6;
}

// CR and LF would end the cell's line, so they travel as TAB and backspace.
void AppendEncoded(std::string& out, std::string_view text) {
    for (char c : text)
        out += c == '\r' ? '\t' : c == '\n' ? '\b' : c;
}

std::string Decode(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\t')
            c = '\r';
        else if (c == '\b')
            c = '\n';
    }
    return out;
}

void AppendNumber(std::string& out, std::size_t n) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, res.ptr);
}

std::string NumberText(std::size_t n) {
    std::string s;
    AppendNumber(s, n);
    return s;
}

enum class IndexStatus { Ok, NotNumber, Negative };

// A column or row index: decimal digits with optional blanks around them.
// Values too large for size_t saturate; they are out of range either way.
IndexStatus ParseIndex(std::string_view field, std::size_t& out) {
    field = TrimView(field);
    bool negative = false;
    if (!field.empty() && field.front() == '-') {
        negative = true;
        field.remove_prefix(1);
    }
    if (field.empty()) return IndexStatus::NotNumber;
    std::size_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return IndexStatus::NotNumber;
        const std::size_t digit = static_cast<std::size_t>(c - '0');
        constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    if (negative && value != 0) return IndexStatus::Negative;
    out = value;
    return IndexStatus::Ok;
}

// A piece of a damaged line for a warning: short, and without control bytes
// that would garble a message box.
std::string Clip(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += c < 32 ? '?' : text[i];
    }
    if (text.size() > kShown) out += "...";
    return out;
}

std::string Quote(std::string_view text) {
    return '"' + Clip(text) + '"';
}

// The hit count: optional sign and decimal digits. A count that reaches the
// top of the range stays there rather than wrapping.
int64_t ParseHits(std::string_view text) {
    text = TrimView(text);
    int64_t value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return 0;
    return value;
}

struct ParsedCell {
    std::size_t col;
    std::size_t row;
    std::string_view colText, rowText;  // as written, for warnings
    std::string_view text;
};

class Warner {
  public:
    Warner(std::string_view source, std::vector<std::string>& out) : source_(source), out_(out) {}
    void Line(std::size_t lineNo, const std::string& what) {
        Add(std::string(source_) + " line " + NumberText(lineNo) + ": " + what);
    }
    void File(const std::string& what) { Add(std::string(source_) + ": " + what); }
    void Finish() {
        if (dropped_ > 0)
            out_.push_back(std::string(source_) + ": " + NumberText(dropped_) +
                           " more damaged lines skipped");
    }

  private:
    void Add(std::string text) {
        if (out_.size() < RuleList::kMaxWarnings)
            out_.push_back(std::move(text));
        else
            ++dropped_;
    }
    std::string_view source_;
    std::vector<std::string>& out_;
    std::size_t dropped_ = 0;
};

// Splits "col,row,text". Only the first two commas separate; the text may
// hold more. Returns false with a reason for a line that is not a cell.
bool ParseCellLine(std::string_view line, ParsedCell& cell, std::string& reason) {
    const std::size_t c1 = line.find(',');
    const std::size_t c2 = c1 == std::string_view::npos ? c1 : line.find(',', c1 + 1);
    if (c2 == std::string_view::npos) {
        reason = Quote(line) + " is not \"column,row,text\"";
        return false;
    }
    const std::string_view colText = TrimView(line.substr(0, c1));
    const std::string_view rowText = TrimView(line.substr(c1 + 1, c2 - c1 - 1));
    cell.colText = colText;
    cell.rowText = rowText;
    switch (ParseIndex(colText, cell.col)) {
        case IndexStatus::NotNumber:
            reason = "column " + Quote(colText) + " is not a number";
            return false;
        case IndexStatus::Negative:
            reason = "column " + Quote(colText) + " is negative";
            return false;
        case IndexStatus::Ok:
            break;
    }
    switch (ParseIndex(rowText, cell.row)) {
        case IndexStatus::NotNumber:
            reason = "row " + Quote(rowText) + " is not a number";
            return false;
        case IndexStatus::Negative:
            reason = "row " + Quote(rowText) + " is negative";
            return false;
        case IndexStatus::Ok:
            break;
    }
    cell.text = line.substr(c2 + 1);
    return true;
}

bool ParseSizeLine(std::string_view line, std::size_t& cols, std::size_t& rows) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return false;
    return ParseIndex(line.substr(0, comma), cols) == IndexStatus::Ok &&
           ParseIndex(line.substr(comma + 1), rows) == IndexStatus::Ok;
}

}  // namespace

RuleList::RuleList(RuleKind kind) : kind_(kind), width_(WidthOf(kind)), rows_(2), base_(2) {}

const std::string& RuleList::Cell(std::size_t col, std::size_t row) const {
    if (row >= rows_.size() || col >= rows_[row].size()) return kEmpty;
    return rows_[row][col];
}

RuleList::Cells& RuleList::Materialize(std::size_t row) {
    Cells& cells = rows_[row];
    if (cells.empty()) cells.resize(width_);
    return cells;
}

void RuleList::SetCell(std::size_t col, std::size_t row, std::string text) {
    if (col >= width_ || row >= rows_.size()) throw std::out_of_range("rule list cell");
    if (text.empty() && rows_[row].empty()) return;
    Materialize(row)[col] = std::move(text);
}

std::vector<std::string> RuleList::Row(std::size_t row) const {
    std::vector<std::string> out(width_);
    if (row < rows_.size() && !rows_[row].empty()) out = rows_[row];
    return out;
}

bool RuleList::RowIsEmpty(std::size_t row) const {
    if (row >= rows_.size()) return true;
    return std::all_of(rows_[row].begin(), rows_[row].end(),
                       [](const std::string& c) { return c.empty(); });
}

bool RuleList::ShowsCheckMark(std::size_t row) const {
    if (kind_ == RuleKind::Exception || row == 0) return false;
    return Cell(rulecol::Subject::Del, row) == "Yes";
}

void RuleList::IncrementHits(std::size_t row) {
    if (row == 0 || row >= rows_.size()) throw std::out_of_range("rule list row");
    std::string& cell = Materialize(row)[HitsColumn()];
    int64_t hits = ParseHits(cell);
    if (hits < std::numeric_limits<int64_t>::max()) ++hits;
    cell = std::to_string(hits);
}

RuleList::Cells RuleList::MakeRow(std::vector<std::string> cells) const {
    if (cells.size() > width_) throw std::invalid_argument("rule list row has too many cells");
    cells.resize(width_);
    return cells;
}

void RuleList::InsertRow(std::size_t pos, std::vector<std::string> cells) {
    if (pos == 0 || pos > rows_.size()) throw std::out_of_range("rule list row");
    Cells row = MakeRow(std::move(cells));
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(row));
}

bool RuleList::HoldsOnlyTheEmptyRow() const {
    if (rows_.size() != 2) return false;
    if (kind_ == RuleKind::Exception)
        return Cell(rulecol::Exception::What, 1).empty() &&
               Cell(rulecol::Exception::Condition, 1).empty();
    return Cell(rulecol::Subject::What, 1).empty();
}

void RuleList::AppendRow(std::vector<std::string> cells) {
    Cells row = MakeRow(std::move(cells));
    if (HoldsOnlyTheEmptyRow())
        rows_[1] = std::move(row);
    else
        rows_.push_back(std::move(row));
}

void RuleList::DeleteRow(std::size_t row) {
    if (row == 0 || row >= rows_.size()) throw std::out_of_range("rule list row");
    if (rows_.size() == 2)
        rows_[1].clear();
    else
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
}

bool RuleList::MoveRowUp(std::size_t row) {
    if (row < 2 || row >= rows_.size()) return false;
    std::swap(rows_[row], rows_[row - 1]);
    return true;
}

bool RuleList::MoveRowDown(std::size_t row) {
    if (row < 1 || row + 1 >= rows_.size()) return false;
    std::swap(rows_[row], rows_[row + 1]);
    return true;
}

std::vector<std::size_t> RuleList::SortRows(std::size_t col, bool descending) {
    std::vector<std::size_t> order(rows_.size());
    for (std::size_t r = 0; r < order.size(); ++r)
        order[r] = r;
    const auto ruleEnd = std::stable_partition(order.begin() + 1, order.end(), [&](std::size_t r) {
        return !Cell(KeyColumn(), r).empty();
    });
    const bool hits = col == HitsColumn();
    std::stable_sort(order.begin() + 1, ruleEnd, [&](std::size_t a, std::size_t b) {
        int c = 0;
        if (hits) {
            const int64_t ha = ParseHits(Cell(col, a)), hb = ParseHits(Cell(col, b));
            c = ha < hb ? -1 : (ha > hb ? 1 : 0);
        } else {
            c = AsciiICompare(Cell(col, a), Cell(col, b));
        }
        return descending ? c > 0 : c < 0;
    });
    std::vector<Cells> sorted;
    sorted.reserve(rows_.size());
    for (std::size_t r : order)
        sorted.push_back(std::move(rows_[r]));
    rows_ = std::move(sorted);
    return order;
}

std::size_t RuleList::RemoveAdjacentDuplicates() {
    // Walking up from the last row and deleting row r when it equals row r-1
    // always compares against rows not yet touched, so it keeps the first of
    // each run of equal rows: exactly what one pass of std::unique does,
    // without the quadratic cost of erasing rows one at a time.
    auto same = [this](const Cells& a, const Cells& b) {
        for (std::size_t c = 0; c < width_; ++c) {
            const std::string& x = c < a.size() ? a[c] : kEmpty;
            const std::string& y = c < b.size() ? b[c] : kEmpty;
            if (x != y) return false;
        }
        return true;
    };
    auto end = std::unique(rows_.begin() + 1, rows_.end(), same);
    const auto removed = static_cast<std::size_t>(rows_.end() - end);
    rows_.erase(end, rows_.end());
    return removed;
}

void RuleList::Clear() {
    rows_.assign(2, Cells());
    base_ = rows_;
    warnings_.clear();
}

const std::vector<std::string>& RuleList::DefaultHeadings(RuleKind kind) {
    static const std::vector<std::string> subject{"", "What", "Matches", "Case", "Del?", "Hits"};
    static const std::vector<std::string> sender{"",        "What", "Condition",
                                                 "Matches", "Del?", "Hits"};
    static const std::vector<std::string> exception{"What", "Condition", "Matches", "Case?",
                                                    "Hits"};
    switch (kind) {
        case RuleKind::Sender:
            return sender;
        case RuleKind::Exception:
            return exception;
        case RuleKind::Subject:
        case RuleKind::Header:
            break;
    }
    return subject;
}

void RuleList::ApplyDefaultHeadings() {
    rows_[0] = DefaultHeadings(kind_);
}

std::string RuleList::Serialize() const {
    std::size_t estimate = 16;
    for (const Cells& row : rows_)
        for (const std::string& cell : row)
            if (!cell.empty()) estimate += cell.size() + 16;
    std::string out;
    out.reserve(estimate);

    AppendNumber(out, width_);
    out += ',';
    AppendNumber(out, rows_.size());
    out += "\r\n";
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        // Files written before the dialog ever set the headings still get
        // them, so a hand editor sees which column is which.
        const Cells& row = (r == 0 && RowIsEmpty(0)) ? DefaultHeadings(kind_) : rows_[r];
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (row[c].empty()) continue;
            AppendNumber(out, c);
            out += ',';
            AppendNumber(out, r);
            out += ',';
            AppendEncoded(out, row[c]);
            out += "\r\n";
        }
    }
    return out;
}

RuleList RuleList::Parse(RuleKind kind, std::string_view text, std::string_view source) {
    RuleList list(kind);
    Warner warn(source, list.warnings_);

    LineSplitter lines(text);
    std::string_view line;
    if (!lines.Next(line)) {
        warn.File("the file is empty");
        warn.Finish();
        return list;
    }

    std::size_t declaredCols = 0, declaredRows = 0;
    const bool sizeOk = ParseSizeLine(line, declaredCols, declaredRows);

    // Collect first and fill afterwards, so the table is sized once.
    std::vector<ParsedCell> cells;
    std::string reason;
    auto take = [&](std::size_t lineNo, std::string_view cellLine) {
        ParsedCell cell{};
        if (!ParseCellLine(cellLine, cell, reason)) {
            warn.Line(lineNo, reason + "; line skipped");
            return;
        }
        if (sizeOk && cell.col >= declaredCols) {
            warn.Line(lineNo, "column " + Clip(cell.colText) + " is beyond the " +
                                  NumberText(declaredCols) +
                                  " columns the first line declares; line skipped");
            return;
        }
        if (sizeOk && cell.row >= declaredRows) {
            warn.Line(lineNo, "row " + Clip(cell.rowText) + " is beyond the " +
                                  NumberText(declaredRows) +
                                  " rows the first line declares; line skipped");
            return;
        }
        if (cell.row >= kMaxRows) {
            warn.Line(lineNo, "row " + Clip(cell.rowText) + " is beyond the limit of " +
                                  NumberText(kMaxRows) + " rows; line skipped");
            return;
        }
        // Columns past the list's own are dropped quietly: nothing reads them.
        if (cell.col >= list.width_) return;
        cells.push_back(cell);
    };

    if (sizeOk && declaredRows > kMaxRows)
        warn.Line(1, "declares " + NumberText(declaredRows) + " rows, more than the limit of " +
                         NumberText(kMaxRows) + "; the size was taken from the cells");
    if (!sizeOk) {
        warn.Line(1, Quote(line) + " is not \"columns,rows\"; the size was taken from the cells");
        // A hand editor may have removed the size line; if line 1 is a cell,
        // keep it.
        ParsedCell probe{};
        if (ParseCellLine(line, probe, reason)) take(1, line);
    }
    std::size_t lineNo = 1;
    while (lines.Next(line)) {
        ++lineNo;
        if (TrimView(line).empty()) continue;  // a blank line carries nothing
        take(lineNo, line);
    }

    std::size_t highest = 0;
    for (const ParsedCell& cell : cells)
        highest = std::max(highest, cell.row);
    // One empty row after the last rule, as a fresh list has, unless that
    // would cross the limit.
    const std::size_t inferred = std::max<std::size_t>(std::min(highest + 2, kMaxRows),
                                                       std::max<std::size_t>(highest + 1, 2));
    const std::size_t rowCount =
        sizeOk && declaredRows <= kMaxRows ? std::max<std::size_t>(declaredRows, 2) : inferred;

    list.rows_.assign(rowCount, Cells());
    for (const ParsedCell& cell : cells) {
        // A later line for the same cell wins, as it would if set in order.
        if (cell.text.empty() && list.rows_[cell.row].empty()) continue;
        list.Materialize(cell.row)[cell.col] = Decode(cell.text);
    }
    list.base_ = list.rows_;
    warn.Finish();
    return list;
}

namespace {

std::string_view FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
}

}  // namespace

void RuleList::Load(const std::string& path) {
    FileContent content = ReadWholeFile(path);
    if (content.status == ReadStatus::Unreadable) throw StoreError("File " + path + " not found");
    if (content.status == ReadStatus::Missing) {
        Clear();
        return;
    }
    *this = Parse(kind_, content.data, FileName(path));
}

void RuleList::Save(const std::string& path) {
    if (WriteFileAtomic(path, Serialize())) throw StoreError("Unable to write to " + path);
    base_ = rows_;
    warnings_.clear();
}

int64_t RuleList::HitsOf(const Cells& row) const {
    return row.empty() ? 0 : ParseHits(row[HitsColumn()]);
}

std::vector<RuleList::RuleKey> RuleList::Keys(const std::vector<Cells>& rows) const {
    std::vector<RuleKey> keys;
    keys.reserve(rows.size());
    std::map<Cells, std::size_t> seen;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        Cells rule = rows[r].empty() ? Cells(width_) : rows[r];
        rule.erase(rule.begin() + static_cast<std::ptrdiff_t>(HitsColumn()));
        const std::size_t rank = seen[rule]++;
        keys.emplace_back(std::move(rule), rank);
    }
    return keys;
}

std::map<RuleList::RuleKey, int64_t> RuleList::NewHits() const {
    std::map<RuleKey, int64_t> before;
    const std::vector<RuleKey> baseKeys = Keys(base_);
    for (std::size_t i = 0; i < baseKeys.size(); ++i)
        before.emplace(baseKeys[i], HitsOf(base_[i + 1]));
    std::map<RuleKey, int64_t> gained;
    const std::vector<RuleKey> keys = Keys(rows_);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        // A rule added or edited in memory since has nothing to pass on.
        const auto old = before.find(keys[i]);
        if (old == before.end()) continue;
        const int64_t added = HitsOf(rows_[i + 1]) - old->second;
        if (added > 0) gained.emplace(keys[i], added);
    }
    return gained;
}

void RuleList::MergeHits(const std::string& path) {
    const std::map<RuleKey, int64_t> gained = NewHits();
    if (gained.empty()) return;
    const FileContent content = ReadWholeFile(path);
    if (content.status == ReadStatus::Unreadable) throw StoreError("File " + path + " not found");
    // The user removed the list meanwhile, or damaged it: rewriting would
    // bring it back, or lose the lines it could not read.
    if (content.status == ReadStatus::Missing) return;
    RuleList now = Parse(kind_, content.data, FileName(path));
    if (now.Damaged()) return;

    bool changed = false;
    const std::vector<RuleKey> keys = now.Keys(now.rows_);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const auto add = gained.find(keys[i]);
        if (add == gained.end()) continue;
        std::string& cell = now.Materialize(i + 1)[HitsColumn()];
        const int64_t hits = ParseHits(cell);
        cell = std::to_string(hits > std::numeric_limits<int64_t>::max() - add->second
                                  ? std::numeric_limits<int64_t>::max()
                                  : hits + add->second);
        changed = true;
    }
    if (changed && WriteFileAtomic(path, now.Serialize()))
        throw StoreError("Unable to write to " + path);
    // These hits are in the file now, or their rule is gone: never again.
    base_ = rows_;
}

}  // namespace kelvane
