#pragma once

// The "Mailboxes" page: twelve rows of a radio button for the default
// mailbox, the server, the user name, the password, the connection security
// and the pinned certificate fingerprint.

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
    void StoreTable(MailboxTable& table) const;

    struct MailboxRow {
        QRadioButton* rb;
        QLineEdit* edServe;
        QLineEdit* edName;
        QLineEdit* edPass;
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
