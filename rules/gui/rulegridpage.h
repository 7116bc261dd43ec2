#pragma once

// One page of the spam settings: a rule grid with its introduction, count
// and buttons. The four pages differ only in their facts; what Insert and
// Edit open, and what Import reads, the dialog passes in.

#include <QWidget>
#include <functional>
#include <optional>

#include "rules/gui/rulegridmodel.h"
#include "settings/settingsstore.h"
#include "ui/messageboxes.h"

class QLabel;
class QPushButton;
class QTableView;

namespace kelvane {

inline constexpr std::string_view kNothingToEditText = "Error: nothing selected to edit";

class RuleGridPage : public QWidget {
    Q_OBJECT
  public:
    RuleGridPage(RuleList& list, RuleKind kind, const QString& intro, const QString& countName,
                 const QString& countCaption, ui::MessageBoxes& boxes, bool withImport,
                 QWidget* parent = nullptr);

    RuleGridModel& Model() { return model_; }
    QTableView* Grid() const { return grid_; }
    QLabel* CountLabel() const { return count_; }

    // Given the selected rule (nullptr for Insert), the cells the confirmed
    // editor writes, or nothing when it was cancelled.
    std::function<std::optional<RuleCells>(const RuleCells* row)> editRule;
    std::function<void()> importRules;

    int SelectedRow() const;
    void Insert();
    void Edit();
    void Delete();
    void MoveUp();
    void MoveDown();
    void Print();
    void UpdateCount();

    // Column widths as the per-user store keeps them (col0, col1, ...).
    void RestoreWidths(const SettingsStore& user);
    void StoreWidths(SettingsStore& user) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Select(int row);
    void HeaderClicked(int column);

    RuleGridModel model_;
    ui::MessageBoxes& boxes_;
    QTableView* grid_;
    QLabel* count_;
};

}  // namespace kelvane
