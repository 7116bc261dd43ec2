#pragma once

// The mailbox chooser "Which Mail Box?", asked before a manual check when
// more than one mailbox has a server.

#include <QDialog>
#include <optional>

#include "settings/accounts.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace kelvane {

class TfrmWhichMailbox : public QDialog {
    Q_OBJECT
  public:
    TfrmWhichMailbox(const MailboxTable& table, int current, QWidget* parent = nullptr);

    // The slot of the entry chosen.
    std::optional<int> Chosen() const;

    QLabel* Label1;
    QComboBox* cbMailbox;
    QPushButton* btOK;
    QPushButton* btCancel;

  private:
    void btOKClick();
};

// Shows the chooser modally; the slot on OK, nothing on Cancel.
std::optional<int> ChooseMailbox(const MailboxTable& table, int current, QWidget* parent);

}  // namespace kelvane
