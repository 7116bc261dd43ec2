#include "app/gui/messagemodel.h"

#include "ui/displaytext.h"
#include "ui/pictures.h"

namespace kelvane {

MessageListModel::MessageListModel(MessageList& list, QObject* parent)
    : QAbstractTableModel(parent), list_(list), shown_(static_cast<int>(list.Count())) {}

int MessageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int MessageListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString MessageListModel::MarkText(MessageMark mark) {
    switch (mark) {
        case mmDelete:
            return QStringLiteral("marked for deletion");
        case mmQuestion:
            return QStringLiteral("suspicious");
        case mmException:
            return QStringLiteral("exception");
        case mmKnownSpammer:
            return QStringLiteral("known spammer");
        case mmNone:
            break;
    }
    return {};
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_) return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= list_.Count()) return {};
    const MessageRow& r = list_.Rows()[row];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            switch (index.column()) {
                case Subject:
                    return ui::DisplayText(r.subject);
                case Sender:
                    return ui::DisplayText(r.sender);
                case Size:
                    return ui::DisplayText(r.size);
                case Date:
                    return ui::DisplayText(r.date);
            }
            break;
        case Qt::DecorationRole:
            if (index.column() == Subject) {
                // An unmarked row keeps the picture's room, so subjects align.
                static const QIcon kNoMark = ui::BlankIcon(16);
                return r.mark == mmNone ? kNoMark : ui::MarkIcon(r.mark);
            }
            break;
        case Qt::AccessibleDescriptionRole:
            return MarkText(r.mark);
        case Qt::TextAlignmentRole:
            return index.column() == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole)
        return section == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    static const char* const kTitles[] = {"Subject", "Sender", "Size", "Date"};
    return section >= 0 && section < ColumnCount ? QString(kTitles[section]) : QVariant();
}

void MessageListModel::Refresh() {
    const int count = static_cast<int>(list_.Count());
    if (count > shown_) {
        // Rows are only ever appended, each judged as it arrives, so the
        // rows the views know are unchanged.
        beginInsertRows({}, shown_, count - 1);
        shown_ = count;
        endInsertRows();
    } else if (count < shown_) {
        // Rows are only ever removed all together.
        beginResetModel();
        shown_ = count;
        endResetModel();
    } else if (count > 0) {
        Q_EMIT dataChanged(index(0, 0), index(count - 1, ColumnCount - 1));
    }
}

}  // namespace kelvane
