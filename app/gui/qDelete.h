#pragma once

// "Mark e-mail for deletion": the selected messages' subjects and senders,
// and whether to add a subject rule, a sender rule or both for each.

#include <QAbstractTableModel>
#include <QDialog>
#include <optional>
#include <vector>

#include "rules/addtolist.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace kelvane {

// The dialog's grid: "Subject" and "From" over kAddToListRows rows, the
// messages from the top, the rest empty; read-only.
class MarkForDeletionModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    MarkForDeletionModel(std::vector<SubjectAndSender> messages, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<SubjectAndSender> messages_;
};

class TfrmMarkForDeletion : public QDialog {
    Q_OBJECT
  public:
    TfrmMarkForDeletion(std::vector<SubjectAndSender> messages, QWidget* parent = nullptr);

    // The check boxes as they stand.
    AddChoice Choice() const;

    QLabel* lblTitle;
    QTableView* grid;
    QCheckBox* cbSubject;
    QCheckBox* cbFrom;
    QPushButton* btOK;
    QPushButton* btCancel;
};

// Shows the dialog modally: the choice on OK, nothing on Cancel.
std::optional<AddChoice> AskMarkForDeletion(const std::vector<SubjectAndSender>& messages,
                                            QWidget* parent);

}  // namespace kelvane
