#include "rules/gui/rulegridmodel.h"

#include <QFont>
#include <QGuiApplication>
#include <QPalette>

#include "settings/keys.h"
#include "ui/displaytext.h"
#include "ui/pictures.h"

namespace kelvane {

namespace {

constexpr std::uint8_t Bits(std::initializer_list<int> columns) {
    std::uint8_t bits = 0;
    for (int c : columns)
        bits = static_cast<std::uint8_t>(bits | (1u << c));
    return bits;
}

const GridFacts kSubjectFacts{RuleKind::Subject,
                              "gridSubject",
                              "Kelvane - Subject Line Settings",
                              keys::SubjectGridSection,
                              Bits({2, 5}),
                              Bits({2, 5}),
                              2,
                              true,
                              2,
                              {24, 150, 250, 50, 50, 60}};
const GridFacts kHeaderFacts{RuleKind::Header,
                             "gridHeader",
                             "Kelvane - Email Header Settings",
                             keys::HeadersGridSection,
                             Bits({5}),
                             Bits({2, 5}),
                             2,
                             true,
                             2,
                             {24, 150, 250, 50, 50, 60}};
const GridFacts kSenderFacts{RuleKind::Sender,
                             "gridFrom",
                             "Kelvane - Sender Settings",
                             keys::SenderGridSection,
                             Bits({3, 5}),
                             Bits({3, 5}),
                             3,
                             true,
                             3,
                             {24, 110, 140, 200, 50, 60}};
const GridFacts kExceptionFacts{RuleKind::Exception,
                                "gridExcept",
                                "Kelvane - List of Exceptions ",
                                keys::ExceptionsGridSection,
                                Bits({2, 4}),
                                Bits({0, 2, 4}),
                                2,
                                false,
                                2,
                                {120, 150, 240, 50, 60, 0}};

}  // namespace

const GridFacts& FactsFor(RuleKind kind) {
    switch (kind) {
        case RuleKind::Header:
            return kHeaderFacts;
        case RuleKind::Sender:
            return kSenderFacts;
        case RuleKind::Exception:
            return kExceptionFacts;
        case RuleKind::Subject:
            break;
    }
    return kSubjectFacts;
}

RuleGridModel::RuleGridModel(RuleList& list, const GridFacts& facts, QObject* parent)
    : QAbstractTableModel(parent), list_(list), facts_(facts) {}

int RuleGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(list_.RowCount() - 1);
}

int RuleGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(list_.ColumnCount());
}

QVariant RuleGridModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) return {};
    const auto col = static_cast<std::size_t>(index.column());
    const auto row = static_cast<std::size_t>(index.row()) + 1;
    const bool hasRule = !list_.Cell(list_.KeyColumn(), row).empty();
    const bool deletes = list_.ShowsCheckMark(row);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (facts_.pictures && col == 0) return {};
            return ui::DisplayText(list_.Cell(col, row));
        case Qt::DecorationRole:
            if (facts_.pictures && col == 0 && hasRule)
                return ui::MarkIcon(deletes ? mmDelete : mmQuestion);
            return {};
        case Qt::AccessibleTextRole:
            if (facts_.pictures && col == 0)
                return hasRule ? QString(deletes ? "check mark" : "question mark") : QString();
            return ui::DisplayText(list_.Cell(col, row));
        case Qt::FontRole:
            if (index.column() == facts_.markedColumn && (deletes || !facts_.pictures)) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
        case Qt::ForegroundRole:
            // A rule that only flags its mail is told apart by colour.
            if (facts_.pictures && index.column() == facts_.markedColumn && hasRule && !deletes)
                return QGuiApplication::palette().color(QPalette::Link);
            return {};
        case Qt::TextAlignmentRole:
            if (col == list_.HitsColumn())
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        default:
            return {};
    }
}

QVariant RuleGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    const std::string& title =
        RuleList::DefaultHeadings(list_.Kind()).at(static_cast<std::size_t>(section));
    if (role == Qt::DisplayRole) return QString::fromStdString(title);
    if (role == Qt::AccessibleTextRole)
        return title.empty() ? QString("Mark") : QString::fromStdString(title);
    if (role == Qt::TextAlignmentRole && static_cast<std::size_t>(section) == list_.HitsColumn())
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags RuleGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (ColumnEditable(index.column())) f |= Qt::ItemIsEditable;
    return f;
}

bool RuleGridModel::IsHitCount(const QString& text) {
    // Eighteen digits always fit the counter.
    if (text.isEmpty() || text.size() > 18) return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

bool RuleGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
        !ColumnEditable(index.column()))
        return false;
    const QString text = value.toString();
    const auto col = static_cast<std::size_t>(index.column());
    if (col == list_.HitsColumn() && !IsHitCount(text)) return false;
    list_.SetCell(col, static_cast<std::size_t>(index.row()) + 1, ui::CoreText(text));
    Q_EMIT dataChanged(index, index);
    return true;
}

void RuleGridModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= columnCount() || !ColumnSortable(column)) return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<std::size_t> from =
        list_.SortRows(static_cast<std::size_t>(column), order == Qt::DescendingOrder);
    std::vector<int> to(from.size());
    for (std::size_t i = 0; i < from.size(); ++i)
        to[from[i]] = static_cast<int>(i);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& i : before)
        after.push_back(index(to[static_cast<std::size_t>(i.row()) + 1] - 1, i.column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

RuleCells RuleGridModel::Row(int row) const {
    return list_.Row(static_cast<std::size_t>(row) + 1);
}

bool RuleGridModel::RowHasRule(int row) const {
    return row >= 0 && row < rowCount() &&
           !list_.Cell(list_.KeyColumn(), static_cast<std::size_t>(row) + 1).empty();
}

void RuleGridModel::SetRuleCells(std::size_t listRow, const RuleCells& cells, bool keepHits) {
    const std::size_t hits = list_.HitsColumn();
    for (std::size_t c = 0; c < list_.ColumnCount(); ++c) {
        if (c == hits) continue;
        list_.SetCell(c, listRow, c < cells.size() ? cells[c] : std::string());
    }
    if (!keepHits && hits < cells.size()) list_.SetCell(hits, listRow, cells[hits]);
    if (list_.Cell(hits, listRow).empty()) list_.SetCell(hits, listRow, "0");
}

int RuleGridModel::InsertRule(int row, RuleCells cells) {
    cells.resize(list_.ColumnCount());
    if (list_.HoldsOnlyTheEmptyRow()) {
        SetRuleCells(1, cells, false);
        Q_EMIT dataChanged(index(0, 0), index(0, columnCount() - 1));
        return 0;
    }
    if (row < 0 || row > rowCount()) row = 0;
    if (cells[list_.HitsColumn()].empty()) cells[list_.HitsColumn()].assign(1, '0');
    beginInsertRows({}, row, row);
    list_.InsertRow(static_cast<std::size_t>(row) + 1, std::move(cells));
    endInsertRows();
    return row;
}

void RuleGridModel::OverwriteRule(int row, RuleCells cells) {
    if (row < 0 || row >= rowCount()) return;
    SetRuleCells(static_cast<std::size_t>(row) + 1, cells, true);
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int RuleGridModel::AppendRule(RuleCells cells) {
    if (list_.HoldsOnlyTheEmptyRow()) {
        list_.AppendRow(std::move(cells));
        Q_EMIT dataChanged(index(0, 0), index(0, columnCount() - 1));
        return 0;
    }
    const int row = rowCount();
    beginInsertRows({}, row, row);
    list_.AppendRow(std::move(cells));
    endInsertRows();
    return row;
}

void RuleGridModel::RemoveRule(int row) {
    if (row < 0 || row >= rowCount()) return;
    if (rowCount() == 1) {
        list_.DeleteRow(1);
        Q_EMIT dataChanged(index(0, 0), index(0, columnCount() - 1));
        return;
    }
    beginRemoveRows({}, row, row);
    list_.DeleteRow(static_cast<std::size_t>(row) + 1);
    endRemoveRows();
}

bool RuleGridModel::MoveUp(int row) {
    if (row < 1 || row >= rowCount()) return false;
    beginMoveRows({}, row, row, {}, row - 1);
    list_.MoveRowUp(static_cast<std::size_t>(row) + 1);
    endMoveRows();
    return true;
}

bool RuleGridModel::MoveDown(int row) {
    if (row < 0 || row + 1 >= rowCount()) return false;
    beginMoveRows({}, row, row, {}, row + 2);
    list_.MoveRowDown(static_cast<std::size_t>(row) + 1);
    endMoveRows();
    return true;
}

std::size_t RuleGridModel::RemoveDuplicates() {
    beginResetModel();
    const std::size_t removed = list_.RemoveAdjacentDuplicates();
    endResetModel();
    return removed;
}

}  // namespace kelvane
