#pragma once

// The spam settings dialog. It lives for the whole run and holds the rule
// lists, the size limits and the blacklist that every check judges with;
// its editors come with the rule editing windows.

#include <QDialog>
#include <string>

#include "app/checkpolicy.h"

namespace kelvane {

class TfrmOptionsMain : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmOptionsMain(const std::string& programDir, QWidget* parent = nullptr);

    RuleSet& Rules() { return rules_; }
    // What the damaged rule lists lost on loading, one line each.
    const std::vector<std::string>& Warnings() const { return rules_.warnings; }

  private:
    RuleSet rules_;
};

}  // namespace kelvane
