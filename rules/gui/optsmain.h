#pragma once

// The spam settings dialog. It lives for the whole run and holds the rule
// lists, the size limits and the blacklist that every check judges with.
// Its edits stay in the dialog until OK writes them; Cancel reads the files
// again.

#include <QDialog>
#include <array>
#include <memory>
#include <string>

#include "app/checkpolicy.h"
#include "rules/gui/ruleeditorforms.h"
#include "rules/gui/rulegridpage.h"
#include "settings/settingsstore.h"
#include "ui/messageboxes.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace kelvane {

inline constexpr std::string_view kRebuildingText = "Re-building list ... stand by";

class TfrmOptionsMain : public QDialog {
    Q_OBJECT
  public:
    // boxes and dialogs: the modals, for tests; by default the real ones.
    TfrmOptionsMain(const Locations& where, QWidget* parent = nullptr,
                    ui::MessageBoxes* boxes = nullptr, RuleDialogs* dialogs = nullptr);
    // Keeps the column widths.
    ~TfrmOptionsMain() override;

    RuleSet& Rules() { return rules_; }
    // What the damaged rule lists lost on loading, one line each.
    const std::vector<std::string>& Warnings() const { return rules_.warnings; }

    RuleGridPage& Page(RuleKind kind) { return *pages_[static_cast<std::size_t>(kind)]; }
    QTabWidget* Pages() const { return tabs_; }

    // OK: adjacent duplicates removed, everything written; a failed write is
    // told and the dialog stays open with the edits.
    void accept() override;
    // Cancel: the edits dropped, the files read again.
    void reject() override;

    void updateCounts();
    void StoreColumnWidths();

  Q_SIGNALS:
    void helpRequested(int topic);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void readSettings();
    void LimitsToControls();
    void ControlsToLimits();
    void UpdateSizeControls();
    void LoadBlacklistView();
    void EditBlacklist();
    void CancelBlacklist();
    // False when known.lst could not be written (told, edits kept).
    bool SaveBlacklist();
    bool EditingBlacklist() const;
    void Import(RuleKind kind);
    std::optional<RuleCells> EditRule(RuleKind kind, const RuleCells* row);
    std::string KnownPath() const;

    Locations where_;
    RuleSet rules_;
    std::unique_ptr<ui::MessageBoxes> ownBoxes_;
    ui::MessageBoxes& boxes_;
    std::unique_ptr<RuleDialogs> ownDialogs_;
    RuleDialogs& dialogs_;

    QTabWidget* tabs_;
    std::array<RuleGridPage*, 4> pages_{};  // by RuleKind
    QCheckBox *cbSmaller_, *cbLarger_, *cbKnownSpammers_;
    QSpinBox *nSmaller_, *nLarger_;
    QRadioButton *rbSmallerCheck_, *rbSmallerQuestion_, *rbLargerCheck_, *rbLargerQuestion_;
    QPlainTextEdit* memo1_;
    QPushButton *btEdit_, *btSave_, *btCancelEdit_;
    QLabel *lblSpamCount_, *pnlNotice_;
};

}  // namespace kelvane
