#pragma once

// One model for the four rule grids, over the rule list itself: model row r
// is rule row r + 1 (row 0 of the list is the header). What differs between
// the grids is one row of facts. Every change goes through a method here
// that tells the views exactly what changed; sorting reorders the list, since
// the order of the grid is the order the rules are tried in.

#include <QAbstractTableModel>
#include <cstdint>

#include "rules/ruleeditors.h"
#include "rules/rulelist.h"

namespace kelvane {

struct GridFacts {
    RuleKind kind;
    const char* gridName;      // the view's object name
    const char* printTitle;    // centred at the top of every printed page
    const char* widthSection;  // where the column widths are kept
    std::uint8_t editable;     // one bit per column that can be typed into
    std::uint8_t sortable;     // one bit per column a header click sorts by
    int markedColumn;          // bold; for rule lists blue unless it deletes
    bool pictures;             // column 0 shows the rule's mark
    int matchesColumn;         // where the sort indicator starts
    int widths[6];             // the designed widths
};
const GridFacts& FactsFor(RuleKind kind);

class RuleGridModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    RuleGridModel(RuleList& list, const GridFacts& facts, QObject* parent = nullptr);

    const GridFacts& Facts() const { return facts_; }
    const RuleList& List() const { return list_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Only the editable columns; a "Hits" value only as digits.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    // Only by the sortable columns; others are ignored.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    static bool IsHitCount(const QString& text);
    bool ColumnEditable(int column) const { return (facts_.editable >> column) & 1u; }
    bool ColumnSortable(int column) const { return (facts_.sortable >> column) & 1u; }

    RuleCells Row(int row) const;
    // The row holds a rule: its "What" cell is filled.
    bool RowHasRule(int row) const;

    // The editor's cells at row (the rows from there move down), or in the
    // one empty row of an empty list; a new rule's "Hits" is "0". Returns the
    // row that holds the rule.
    int InsertRule(int row, RuleCells cells);
    // The rule at row replaced; its hit count stays.
    void OverwriteRule(int row, RuleCells cells);
    // At the end, or in the one empty row of an empty list. Returns the row.
    int AppendRule(RuleCells cells);
    // The last rule row is emptied instead of removed.
    void RemoveRule(int row);
    bool MoveUp(int row);
    bool MoveDown(int row);
    std::size_t RemoveDuplicates();
    // Around a change of the whole list (a reload).
    void BeginReload() { beginResetModel(); }
    void EndReload() { endResetModel(); }

  private:
    void SetRuleCells(std::size_t listRow, const RuleCells& cells, bool keepHits);

    RuleList& list_;
    const GridFacts& facts_;
};

}  // namespace kelvane
