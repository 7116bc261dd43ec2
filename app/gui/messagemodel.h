#pragma once

// ListView1's model: the core's message list as the four report columns,
// with each row's mark as its state picture and as text for screen readers.
// The list lives in the core; the model only presents it.

#include <QAbstractTableModel>

#include "app/messagelist.h"

namespace kelvane {

class MessageListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Subject, Sender, Size, Date, ColumnCount };

    explicit MessageListModel(MessageList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Tells the views what the core changed: rows appended at the end, the
    // whole list emptied, or marks changed.
    void Refresh();

    // "marked for deletion", "suspicious", "exception", "known spammer".
    static QString MarkText(MessageMark mark);

  private:
    MessageList& list_;
    int shown_ = 0;  // the rows the views know of
};

}  // namespace kelvane
