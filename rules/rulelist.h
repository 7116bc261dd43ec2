#pragma once

// One rule list and its file format. A list is a table of text cells. Row 0
// holds the column headings and is never evaluated; rules start at row 1. A
// list always has at least two rows, so a fresh list is the heading row plus
// one empty rule row.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelvane {

enum class RuleKind { Subject, Sender, Header, Exception };

// Column positions. The subject and header lists share one layout; the
// exception list has no picture column, so everything moves one left.
namespace rulecol {
struct Subject {
    static constexpr std::size_t What = 1, Matches = 2, Case = 3, Del = 4, Hits = 5;
};
using Header = Subject;
struct Sender {
    static constexpr std::size_t What = 1, Condition = 2, Matches = 3, Del = 4, Hits = 5;
};
struct Exception {
    static constexpr std::size_t What = 0, Condition = 1, Matches = 2, Case = 3, Hits = 4;
};
}  // namespace rulecol

class RuleList {
  public:
    // More rows than this in a list file is treated as damage. A hand-kept
    // list never comes near it (a million rules would be a file of some
    // 100 MB), and it bounds what a broken size line can make us allocate:
    // an empty row holds no cells, so a million of them cost about 24 MB.
    static constexpr std::size_t kMaxRows = 1'000'000;
    // Warnings kept per file; a badly broken file could otherwise produce
    // one per line.
    static constexpr std::size_t kMaxWarnings = 20;

    explicit RuleList(RuleKind kind);

    RuleKind Kind() const { return kind_; }
    std::size_t ColumnCount() const { return width_; }
    std::size_t RowCount() const { return rows_.size(); }
    std::size_t HitsColumn() const { return width_ - 1; }
    // The column whose emptiness means "no rule here": "What", which is
    // column 1 in the rule lists and column 0 in the exception list.
    std::size_t KeyColumn() const { return kind_ == RuleKind::Exception ? 0 : 1; }

    // An empty text for cells outside the table.
    const std::string& Cell(std::size_t col, std::size_t row) const;
    // Throws std::out_of_range outside the table.
    void SetCell(std::size_t col, std::size_t row, std::string text);
    std::vector<std::string> Row(std::size_t row) const;
    bool RowIsEmpty(std::size_t row) const;

    // Whether the row's picture is the check mark (its "Del?" cell is "Yes")
    // rather than the question mark. Always false for the exception list,
    // which has no pictures, and for the heading row.
    bool ShowsCheckMark(std::size_t row) const;

    // Adds one to the row's "Hits" cell; a cell that is not a decimal integer
    // counts as 0. Throws std::out_of_range for row 0 or beyond the table.
    void IncrementHits(std::size_t row);

    // Inserts a row before position pos (1 to RowCount()); the rows from pos
    // down move one further. cells may be shorter than the row (the rest stays
    // empty) but not longer (std::invalid_argument).
    void InsertRow(std::size_t pos, std::vector<std::string> cells);
    // Adds a row at the end, except that the one empty rule row of an
    // otherwise empty list is filled instead. For the rule lists that row is
    // recognised by its empty "What" cell (column 1). For the exception list
    // both "What" (column 0, what the evaluator consults) and "Condition"
    // (column 1) must be empty: a row holding either is a rule someone
    // started and is not overwritten.
    void AppendRow(std::vector<std::string> cells);
    // The list is otherwise empty: two rows, and row 1 is the empty rule row
    // that AppendRow fills.
    bool HoldsOnlyTheEmptyRow() const;
    // Removes the row; the last remaining rule row is emptied instead, so
    // the list keeps its two rows. Throws std::out_of_range for row 0 or
    // beyond the table.
    void DeleteRow(std::size_t row);
    // Exchange a rule row with its neighbour; false (and nothing changes)
    // when there is no rule row to exchange with.
    bool MoveRowUp(std::size_t row);
    bool MoveRowDown(std::size_t row);
    // Removes every rule row from row 2 on that is identical, cell for cell
    // and case-sensitively, to the row directly above it. Returns the number
    // of rows removed.
    std::size_t RemoveAdjacentDuplicates();
    // Orders the rule rows by one column: "Hits" as numbers (an empty or bad
    // cell as 0), the others as text with case ignored; equal rows keep their
    // order. Rows without a rule (an empty key column) stay last, since the
    // first of them ends the walk of the rule lists. Returns, for every
    // position, the row that is there now (entry 0 is the heading row).
    std::vector<std::size_t> SortRows(std::size_t col, bool descending);

    // Back to the fresh two-row list with empty headings.
    void Clear();
    static const std::vector<std::string>& DefaultHeadings(RuleKind kind);
    void ApplyDefaultHeadings();

    // The list file format: "cols,rows", then "col,row,text" for every
    // non-empty cell, rows then columns ascending, CR LF line ends; CR in a
    // cell is written as TAB and LF as backspace. An entirely empty heading
    // row is written with the default headings.
    std::string Serialize() const;
    // Reads a list file's text. Never fails: bad lines are skipped and each
    // is described in Warnings(), prefixed with source (the file name).
    static RuleList Parse(RuleKind kind, std::string_view text, std::string_view source);

    // A missing file gives the fresh list. A file that exists but cannot be
    // read raises StoreError "File <path> not found" and leaves the list as
    // it was.
    void Load(const std::string& path);
    // Replaces the file atomically; on failure raises StoreError
    // "Unable to write to <path>" and the old file stays whole. A successful
    // save clears the damage mark.
    void Save(const std::string& path);

    // After a check: adds the hits this list gained since it was last
    // loaded or saved to the file at path as it is now, onto the rows whose
    // rule (every cell but "Hits") is unchanged there, matched by their
    // cells and, among equal rules, by their order. Whatever else the file
    // holds stays as it is, so edits made meanwhile survive. A file that is
    // missing or damaged now, or that gains nothing, is not written. Raises
    // StoreError "File <path> not found" or "Unable to write to <path>".
    void MergeHits(const std::string& path);
    bool HasNewHits() const { return !NewHits().empty(); }

    // Damaged: the last load skipped something, so the file on disk holds
    // more than this list does. Warnings describe what was skipped.
    bool Damaged() const { return !warnings_.empty(); }
    const std::vector<std::string>& Warnings() const { return warnings_; }

  private:
    using Cells = std::vector<std::string>;  // empty vector: every cell empty
    Cells& Materialize(std::size_t row);
    Cells MakeRow(std::vector<std::string> cells) const;
    // A rule without its hit count, and its place among equal rules.
    using RuleKey = std::pair<Cells, std::size_t>;
    std::vector<RuleKey> Keys(const std::vector<Cells>& rows) const;
    int64_t HitsOf(const Cells& row) const;
    // The hits gained since base_, per rule.
    std::map<RuleKey, int64_t> NewHits() const;

    RuleKind kind_;
    std::size_t width_;
    std::vector<Cells> rows_;
    std::vector<Cells> base_;  // the rows as last loaded or saved
    std::vector<std::string> warnings_;
};

}  // namespace kelvane
