#include "app/gui/deletedwindow.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

#include "base/error.h"
#include "ui/controls.h"
#include "ui/desktop.h"
#include "ui/displaytext.h"
#include "ui/filedialogs.h"

namespace kelvane {

namespace {

constexpr const char* kEmptyText = "No deleted messages are kept.";
constexpr const char* kNothingSelected = "Select a kept copy to see why it was marked.";
constexpr const char* kEmlFilter = "E-mail messages (*.eml)";

// Paths cross to the core in the file system's own encoding.
std::string CorePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString ShownPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

QString MailboxText(const KeptMessage& m) {
    return ui::DisplayText(m.user + " on " + m.server);
}

QString DetailsText(const KeptMessage& m) {
    QStringList lines;
    lines << "Mark: " + DeletedModel::MarkText(m.mark);
    if (m.reasons.empty()) {
        lines << "No reasons were recorded for this copy.";
    } else {
        lines << "Reasons:";
        for (const std::string& reason : m.reasons)
            lines << "  " + ui::DisplayText(reason);
    }
    if (m.headersOnly)
        lines << QString()
              << "Only the headers were kept: the message was larger than the "
                 "limit for kept copies.";
    return lines.join('\n');
}

}  // namespace

// ---------------------------------------------------------------- the model

void DeletedModel::SetCopies(std::vector<KeptMessage> copies) {
    beginResetModel();
    copies_ = std::move(copies);
    endResetModel();
}

QString DeletedModel::MarkText(const std::string& mark) {
    if (mark == "delete") return QStringLiteral("Delete");
    if (mark == "known-spammer") return QStringLiteral("Known spammer");
    // The index line was lost and the copy described from its file.
    if (mark.empty()) return QStringLiteral("Not known");
    return ui::DisplayText(mark);
}

int DeletedModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(copies_.size());
}

int DeletedModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DeletedModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const KeptMessage& m = Copy(index.row());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            switch (index.column()) {
                case Deleted:
                    return QLocale().toString(QDateTime::fromSecsSinceEpoch(m.deleted),
                                              QLocale::ShortFormat);
                case Mailbox:
                    return MailboxText(m);
                case Mark:
                    return MarkText(m.mark);
                case From:
                    return ui::DisplayText(m.sender);
                case Subject:
                    return ui::DisplayText(m.subject);
                case Size:
                    return QLocale().formattedDataSize(m.size);
                case Kept:
                    return m.headersOnly ? QStringLiteral("Headers only")
                                         : QStringLiteral("Whole message");
            }
            break;
        case KeySortRole:
            switch (index.column()) {
                // The store's order is newest first, copies of one second in
                // the order they were kept: the row is the exact key.
                case Deleted:
                    return rowCount() - index.row();
                case Size:
                    return QVariant::fromValue<qlonglong>(m.size);
                default:
                    return data(index, Qt::DisplayRole).toString().toLower();
            }
        case Qt::TextAlignmentRole:
            return index.column() == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                          : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant DeletedModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::TextAlignmentRole)
        return section == Size ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    static const char* const kTitles[] = {"Deleted", "Mailbox", "Mark", "From",
                                          "Subject", "Size",    "Kept"};
    return section >= 0 && section < ColumnCount ? QString(kTitles[section]) : QVariant();
}

// ---------------------------------------------------------------- the window

TfrmDeleted::TfrmDeleted(const Locations& where, QWidget* parent)
    : QDialog(parent),
      where_(where),
      store_(DeletedStore::FolderIn(where.programDir)),
      model_(new DeletedModel(this)),
      sorted_(new QSortFilterProxyModel(this)),
      desktop_(&ui::SystemDesktop()),
      lastFolder_(QDir::homePath()) {
    setObjectName("TfrmDeleted");
    setWindowTitle("Deleted messages");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowMaximizeButtonHint);
    resize(900, 460);

    sorted_->setSourceModel(model_);
    sorted_->setSortRole(DeletedModel::KeySortRole);

    lvDeleted = new QTreeView(this);
    lvDeleted->setObjectName("lvDeleted");
    lvDeleted->setAccessibleName("Kept copies of deleted messages");
    lvDeleted->setModel(sorted_);
    lvDeleted->setRootIsDecorated(false);
    lvDeleted->setItemsExpandable(false);
    lvDeleted->setUniformRowHeights(true);
    lvDeleted->setAllColumnsShowFocus(true);
    lvDeleted->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvDeleted->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvDeleted->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvDeleted->setSortingEnabled(true);
    lvDeleted->sortByColumn(DeletedModel::Deleted, Qt::DescendingOrder);
    QHeaderView* header = lvDeleted->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int c = 0; c < DeletedModel::ColumnCount; ++c)
        header->setSectionResizeMode(c, QHeaderView::Interactive);
    header->setSectionResizeMode(DeletedModel::Subject, QHeaderView::Stretch);
    header->setMinimumSectionSize(header->fontMetrics().horizontalAdvance("Size") + 24);

    lblEmpty = new QLabel(kEmptyText, this);
    lblEmpty->setObjectName("lblEmpty");
    lblEmpty->setAccessibleName(kEmptyText);
    lblEmpty->setAlignment(Qt::AlignCenter);
    lblEmpty->setTextFormat(Qt::PlainText);
    lblEmpty->setWordWrap(true);

    stkList = new QStackedWidget(this);
    stkList->setObjectName("stkList");
    stkList->addWidget(lvDeleted);
    stkList->addWidget(lblEmpty);

    auto* lblReasons = new QLabel("Why it was &marked:", this);
    lblReasons->setObjectName("lblReasons");
    memReasons = new QPlainTextEdit(this);
    memReasons->setObjectName("memReasons");
    memReasons->setAccessibleName("Why it was marked");
    memReasons->setReadOnly(true);
    memReasons->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memReasons->setTabChangesFocus(true);
    memReasons->setMaximumHeight(memReasons->fontMetrics().lineSpacing() * 6 + 12);
    lblReasons->setBuddy(memReasons);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setAccessibleName("Status");
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);

    btRestore = ui::MakeButton(this, "btRestore", "&Restore...");
    btRestore->setToolTip("Save the selected copies as .eml files (Alt+R)");
    btOpen = ui::MakeButton(this, "btOpen", "&Open");
    btOpen->setToolTip("Open the selected copy with the desktop's mail program (Enter)");
    // Enter opens: the list passes Return on to the dialog's default button.
    btOpen->setDefault(true);
    btClose = ui::MakeButton(this, "btClose", "&Close");
    btClose->setToolTip("Close this window (Escape)");
    auto* buttons = new QDialogButtonBox(this);
    buttons->setObjectName("buttons");
    buttons->addButton(btRestore, QDialogButtonBox::ActionRole);
    buttons->addButton(btOpen, QDialogButtonBox::ActionRole);
    buttons->addButton(btClose, QDialogButtonBox::RejectRole);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(lblStatus, 1);
    bottom->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(stkList, 1);
    layout->addWidget(lblReasons);
    layout->addWidget(memReasons);
    layout->addLayout(bottom);

    setTabOrder(lvDeleted, memReasons);
    setTabOrder(memReasons, btRestore);
    setTabOrder(btRestore, btOpen);
    setTabOrder(btOpen, btClose);

    connect(btRestore, &QPushButton::clicked, this, &TfrmDeleted::btRestoreClick);
    connect(btOpen, &QPushButton::clicked, this, &TfrmDeleted::btOpenClick);
    connect(btClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(lvDeleted, &QTreeView::doubleClicked, this, &TfrmDeleted::btOpenClick);
    connect(lvDeleted->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TfrmDeleted::SelectionChanged);
    connect(lvDeleted->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TfrmDeleted::ShowDetails);
    SelectionChanged();
}

void TfrmDeleted::SetMessageBoxes(ui::MessageBoxes* boxes) {
    boxes_ = boxes ? boxes : &ownBoxes_;
}

void TfrmDeleted::SetDesktop(ui::Desktop* desktop) {
    desktop_ = desktop ? desktop : &ui::SystemDesktop();
}

void TfrmDeleted::showEvent(QShowEvent* event) {
    // A deletion or kelvane-cli may have changed the store since last time.
    Refresh();
    lvDeleted->setFocus();
    QDialog::showEvent(event);
}

void TfrmDeleted::Refresh() {
    std::vector<KeptMessage> copies;
    try {
        copies = store_.List();
    } catch (const KelvaneError& e) {
        lblStatus->setText(ui::DisplayText(e.what()));
    }
    model_->SetCopies(std::move(copies));
    const bool empty = model_->rowCount() == 0;
    stkList->setCurrentWidget(empty ? static_cast<QWidget*>(lblEmpty) : lvDeleted);
    // The columns fit their content up to a limit, so the subject keeps
    // room; the whole text is in each cell's tooltip.
    const int widest = lvDeleted->fontMetrics().horizontalAdvance(QString(26, 'x'));
    for (int c = 0; c < DeletedModel::ColumnCount; ++c) {
        if (c == DeletedModel::Subject) continue;
        lvDeleted->resizeColumnToContents(c);
        lvDeleted->setColumnWidth(c, std::min(lvDeleted->columnWidth(c), widest));
    }
    // The newest copy is selected, so its reasons show and Enter opens it.
    if (!empty) lvDeleted->setCurrentIndex(sorted_->index(0, 0));
    SelectionChanged();
}

std::vector<KeptMessage> TfrmDeleted::Selected() const {
    std::vector<KeptMessage> copies;
    QModelIndexList rows = lvDeleted->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& row : rows)
        copies.push_back(model_->Copy(sorted_->mapToSource(row).row()));
    return copies;
}

void TfrmDeleted::SelectionChanged() {
    const std::size_t count = lvDeleted->selectionModel()->selectedRows().size();
    btRestore->setEnabled(count > 0);
    btOpen->setEnabled(count == 1);
    ShowDetails();
}

void TfrmDeleted::ShowDetails() {
    const QItemSelectionModel* selection = lvDeleted->selectionModel();
    QModelIndex shown = selection->currentIndex();
    if (!shown.isValid() || !selection->isRowSelected(shown.row(), {})) {
        const QModelIndexList rows = selection->selectedRows();
        shown = rows.isEmpty() ? QModelIndex() : rows.front();
    }
    if (!shown.isValid()) {
        memReasons->setPlainText(model_->rowCount() == 0 ? QString() : kNothingSelected);
        return;
    }
    memReasons->setPlainText(DetailsText(model_->Copy(sorted_->mapToSource(shown).row())));
}

void TfrmDeleted::btRestoreClick() {
    const std::vector<KeptMessage> copies = Selected();
    if (copies.empty()) return;
    if (copies.size() > 1) {
        ui::FileRequest request;
        request.folder = true;
        request.title = "Restore the selected messages into";
        request.start = lastFolder_;
        if (const auto folder = ui::PickFile(this, request)) RestoreInto(copies, *folder);
        return;
    }
    const KeptMessage& copy = copies.front();
    ui::FileRequest request;
    request.save = true;
    request.title = "Restore the message as";
    request.start = QDir(lastFolder_).filePath(QString::fromStdString(copy.id) + ".eml");
    request.filter = kEmlFilter;
    request.defaultSuffix = "eml";
    const auto path = ui::PickFile(this, request);
    if (!path) return;
    try {
        store_.RestoreTo(copy.id, CorePath(*path));
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        return;
    }
    lastFolder_ = QFileInfo(*path).absolutePath();
    lblStatus->setText("Restored as " + *path);
}

void TfrmDeleted::RestoreInto(const std::vector<KeptMessage>& copies, const QString& folder) {
    const std::string dir = CorePath(folder);
    std::string failures;
    int failed = 0;
    for (const KeptMessage& copy : copies) {
        try {
            store_.Restore(copy.id, dir);
        } catch (const KelvaneError& e) {
            ++failed;
            failures += std::string("\n") + e.what();
        }
    }
    lastFolder_ = folder;
    const int restored = static_cast<int>(copies.size()) - failed;
    lblStatus->setText(
        QString("Restored %1 of %2 messages into %3").arg(restored).arg(copies.size()).arg(folder));
    if (failed > 0)
        boxes_->Error(std::to_string(failed) + " of " + std::to_string(copies.size()) +
                      " messages could not be restored:" + failures);
}

void TfrmDeleted::btOpenClick() {
    const std::vector<KeptMessage> copies = Selected();
    if (copies.size() != 1) return;
    const std::string path = DeletedStore::OpenedCopyPath(where_.programDir, copies.front().id);
    try {
        store_.RestoreTo(copies.front().id, path);
    } catch (const KelvaneError& e) {
        boxes_->Error(e.what());
        return;
    }
    if (!desktop_->OpenFile(ShownPath(path)))
        boxes_->Error("Unable to open " + path +
                      " with a mail program: the desktop has none for .eml files.");
}

}  // namespace kelvane
