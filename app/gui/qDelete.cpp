#include "app/gui/qDelete.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"

namespace kelvane {

MarkForDeletionModel::MarkForDeletionModel(std::vector<SubjectAndSender> messages, QObject* parent)
    : QAbstractTableModel(parent), messages_(std::move(messages)) {
    if (messages_.size() > kAddToListRows) messages_.resize(kAddToListRows);
}

int MarkForDeletionModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kAddToListRows);
}

int MarkForDeletionModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant MarkForDeletionModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= messages_.size()) return QString();
    const SubjectAndSender& m = messages_[row];
    return ui::DisplayText(index.column() == 0 ? m.subject : m.sender);
}

QVariant MarkForDeletionModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    return section == 0 ? QString("Subject") : QString("From");
}

TfrmMarkForDeletion::TfrmMarkForDeletion(std::vector<SubjectAndSender> messages, QWidget* parent)
    : QDialog(parent) {
    setObjectName("TfrmMarkForDeletion");
    setWindowTitle("Mark e-mail for deletion");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    lblTitle = new QLabel("Mark these messages to delete", this);
    lblTitle->setObjectName("lblTitle");
    QFont bold = lblTitle->font();
    bold.setBold(true);
    lblTitle->setFont(bold);

    grid = new QTableView(this);
    grid->setObjectName("grid");
    grid->setAccessibleName(lblTitle->text());
    grid->setModel(new MarkForDeletionModel(std::move(messages), grid));
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionMode(QAbstractItemView::NoSelection);
    grid->setWordWrap(false);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    grid->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Interactive);
    grid->setColumnWidth(1, 200);
    grid->setMinimumSize(520, 200);
    lblTitle->setBuddy(grid);

    cbSubject = new QCheckBox("Always &delete mail with these particular subject headings", this);
    cbSubject->setObjectName("cbSubject");
    cbSubject->setChecked(true);
    cbFrom = new QCheckBox("&Always delete mail from these particular senders", this);
    cbFrom->setObjectName("cbFrom");
    cbFrom->setChecked(true);
    for (QCheckBox* box : {cbSubject, cbFrom})
        box->setAccessibleName(box->text().remove('&'));

    QDialogButtonBox* buttons = ui::OkCancelButtons(this, btOK, btCancel);
    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addWidget(grid, 1);
    layout->addWidget(cbSubject);
    layout->addWidget(cbFrom);
    layout->addWidget(buttons);
    resize(560, 340);
}

AddChoice TfrmMarkForDeletion::Choice() const {
    return {cbSubject->isChecked(), cbFrom->isChecked()};
}

std::optional<AddChoice> AskMarkForDeletion(const std::vector<SubjectAndSender>& messages,
                                            QWidget* parent) {
    TfrmMarkForDeletion dialog(messages, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Choice();
}

}  // namespace kelvane
