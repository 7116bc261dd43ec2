#pragma once

// The window "Deleted messages": the copies kept of deleted messages, listed
// from the store's index, with the reasons of each one's mark. Restore saves
// copies as .eml files; Open hands one to the desktop's mail program. What a
// copy is and how it is written is the store's (app/deletedstore.h).

#include <QAbstractTableModel>
#include <QDialog>
#include <string>
#include <vector>

#include "app/deletedstore.h"
#include "settings/settingsstore.h"
#include "ui/messageboxes.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStackedWidget;
class QTreeView;

namespace kelvane {

namespace ui {
class Desktop;
}

// The store's listing, newest first; the view sorts through a proxy by the
// raw values of KeySortRole.
class DeletedModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Deleted, Mailbox, Mark, From, Subject, Size, Kept, ColumnCount };
    static constexpr int KeySortRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;
    void SetCopies(std::vector<KeptMessage> copies);
    const KeptMessage& Copy(int row) const { return copies_[static_cast<std::size_t>(row)]; }

    // The mark as the window says it.
    static QString MarkText(const std::string& mark);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<KeptMessage> copies_;
};

class TfrmDeleted : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmDeleted(const Locations& where, QWidget* parent = nullptr);

    // Each left unset is the program's own.
    void SetMessageBoxes(ui::MessageBoxes* boxes);
    void SetDesktop(ui::Desktop* desktop);

    // Reads the store again and selects the first row.
    void Refresh();
    void btRestoreClick();
    void btOpenClick();

    // The selected copies in the view's order.
    std::vector<KeptMessage> Selected() const;
    DeletedModel& Model() { return *model_; }

    QStackedWidget* stkList;  // the list, or lblEmpty when nothing is kept
    QLabel* lblEmpty;
    QTreeView* lvDeleted;
    QPlainTextEdit* memReasons;
    QLabel* lblStatus;
    QPushButton* btRestore;
    QPushButton* btOpen;
    QPushButton* btClose;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void SelectionChanged();
    void ShowDetails();
    // Restores each copy into folder as ID.eml; one that fails does not stop
    // the others, and one box names every failure.
    void RestoreInto(const std::vector<KeptMessage>& copies, const QString& folder);

    Locations where_;
    DeletedStore store_;
    DeletedModel* model_;
    QSortFilterProxyModel* sorted_;
    ui::QtMessageBoxes ownBoxes_{this};
    ui::MessageBoxes* boxes_ = &ownBoxes_;
    ui::Desktop* desktop_;
    QString lastFolder_;  // where the last restore went, where the next starts
};

}  // namespace kelvane
