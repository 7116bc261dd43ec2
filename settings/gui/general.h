#pragma once

// The general settings dialog "General settings". It lives for the whole
// run and holds the general options and the mailbox table; the main window
// asks its controls for the check mode, the confirmation, the launch and
// exit options, the mailbox servers and the default mailbox. This first
// form edits the check mode and the manual options; mailboxes are set up
// with kelvane-cli until the mailbox page exists.

#include <QDialog>
#include <string>

#include "settings/accounts.h"
#include "settings/settingsstore.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace kelvane {

class TfrmGeneral : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmGeneral(const Locations& where, QWidget* parent = nullptr);

    // Sets the controls from the store.
    void ReadSettings();
    // Writes the keys this dialog edits.
    void SaveSettings();

    // Fills the mailbox table from the store.
    void ReadMailboxes();
    const MailboxTable& Table() const { return table_; }
    int DefaultMailbox() const { return table_.defaultMailbox; }
    bool ManualMode() const;
    int Minutes() const { return minutes_; }
    std::string Mailer() const { return mailer_; }

    QLabel* lblTitle;
    QRadioButton* rbManual;
    QRadioButton* rbAuto;
    QCheckBox* cbConfirmation;
    QCheckBox* cbLaunch;
    QCheckBox* cbExit;
    QLabel* edCount;
    QPlainTextEdit* memMailboxes;
    QPushButton* btOK;
    QPushButton* btCancel;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void btOKClick();
    void btCancelClick();

    Locations where_;
    MailboxTable table_;
    int minutes_ = 10;
    std::string mailer_;
};

}  // namespace kelvane
