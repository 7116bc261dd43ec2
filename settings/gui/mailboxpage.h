#pragma once

// The "Mailboxes" page: twelve rows of a radio button for the default
// mailbox, the server, the user name, where the password comes from (the
// keyring, the settings file or a command), the password or the command,
// the sign-in kind, the connection security and the pinned certificate
// fingerprint.

#include <array>

#include "settings/gui/generalpages.h"

class QButtonGroup;

namespace kelvane {

class MailboxesPage : public GeneralPage {
    Q_OBJECT
  public:
    explicit MailboxesPage(QWidget* parent);

    void Load(const GeneralSettings& s) override;
    // Takes the table; refuses it as the first failing slot says.
    std::optional<PageRefusal> Store(GeneralSettings& s) const override;

    // Sets the twelve rows and the radio button from a table.
    void LoadTable(const MailboxTable& table);
    // A keyring slot's field stays empty: the stored password is never read
    // into the dialog, and an empty field keeps it.
    void StoreTable(MailboxTable& table) const;
    // The box text and the control to fix for a refused slot.
    PageRefusal Refusal(const SaveServerResult& bad) const;

    struct MailboxRow {
        QRadioButton* rb;
        QLineEdit* edServe;
        QLineEdit* edName;
        QComboBox* cbPasswordFrom;
        QLineEdit* edPass;
        QLineEdit* edPassCommand;  // shown instead of edPass for a command
        QComboBox* cbSignIn;
        QComboBox* cbSecurity;
        QLineEdit* edFingerprint;
    };
    // Slot N is Rows()[N - 1].
    const std::array<MailboxRow, 12>& Rows() const { return rows_; }

  private:
    std::array<MailboxRow, 12> rows_{};
    QButtonGroup* group_;
};

}  // namespace kelvane
