#include "rules/gui/rulegridpage.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "settings/keys.h"
#include "ui/pictures.h"
#include "ui/printing.h"

namespace kelvane {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAccessibleName(QString(text).remove('&'));
    return b;
}

std::string WidthKey(int column) {
    return "col" + std::to_string(column);
}

}  // namespace

RuleGridPage::RuleGridPage(RuleList& list, RuleKind kind, const QString& intro,
                           const QString& countName, const QString& countCaption,
                           ui::MessageBoxes& boxes, bool withImport, QWidget* parent)
    : QWidget(parent), model_(list, FactsFor(kind), this), boxes_(boxes) {
    const GridFacts& facts = model_.Facts();
    auto* introLabel = new QLabel(intro, this);
    introLabel->setWordWrap(true);

    grid_ = new QTableView(this);
    grid_->setObjectName(facts.gridName);
    grid_->setAccessibleName(facts.printTitle);
    grid_->setModel(&model_);
    grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid_->setSelectionMode(QAbstractItemView::SingleSelection);
    grid_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    grid_->verticalHeader()->hide();
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->setWordWrap(false);
    grid_->setShowGrid(false);
    grid_->installEventFilter(this);
    QHeaderView* header = grid_->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(facts.matchesColumn, Qt::AscendingOrder);
    header->setStretchLastSection(false);
    for (int c = 0; c < model_.columnCount(); ++c)
        grid_->setColumnWidth(c, facts.widths[c]);
    connect(header, &QHeaderView::sectionClicked, this, &RuleGridPage::HeaderClicked);
    connect(grid_, &QTableView::doubleClicked, this, [this] { Edit(); });
    if (model_.rowCount() > 0) Select(0);

    auto* caption = new QLabel(countCaption, this);
    count_ = new QLabel("###", this);
    count_->setObjectName(countName);
    count_->setAccessibleName(countCaption);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&model_, signal, this, &RuleGridPage::UpdateCount);
    connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
        UpdateCount();
        Select(0);  // a reload leaves no row selected
    });

    auto* buttons = new QHBoxLayout;
    auto* insert = Button(this, "btInsert", "&Insert");
    auto* remove = Button(this, "btDelete", "&Delete");
    auto* edit = Button(this, "btEdit", "&Edit");
    auto* print = Button(this, "btPrint", "&Print");
    auto* up = Button(this, "btUp", QString());
    up->setIcon(ui::Icon(ui::Picture::Up));
    up->setToolTip("Move item up one row");
    up->setAccessibleName("Move item up one row");
    auto* down = Button(this, "btDown", QString());
    down->setIcon(ui::Icon(ui::Picture::Down));
    down->setToolTip("Move item down one row");
    down->setAccessibleName("Move item down one row");
    for (QPushButton* b : {insert, remove, edit, print})
        buttons->addWidget(b);
    if (withImport) {
        auto* import = Button(this, "btImport", "I&mport");
        buttons->addWidget(import);
        connect(import, &QPushButton::clicked, this, [this] {
            if (importRules) importRules();
        });
    }
    buttons->addStretch();
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addSpacing(12);
    buttons->addWidget(caption);
    buttons->addWidget(count_);
    connect(insert, &QPushButton::clicked, this, &RuleGridPage::Insert);
    connect(remove, &QPushButton::clicked, this, &RuleGridPage::Delete);
    connect(edit, &QPushButton::clicked, this, &RuleGridPage::Edit);
    connect(print, &QPushButton::clicked, this, &RuleGridPage::Print);
    connect(up, &QPushButton::clicked, this, &RuleGridPage::MoveUp);
    connect(down, &QPushButton::clicked, this, &RuleGridPage::MoveDown);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(introLabel);
    layout->addWidget(grid_, 1);
    layout->addLayout(buttons);
}

int RuleGridPage::SelectedRow() const {
    const QModelIndex current = grid_->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void RuleGridPage::Select(int row) {
    if (row < 0 || row >= model_.rowCount()) return;
    grid_->setCurrentIndex(model_.index(row, model_.Facts().matchesColumn));
}

void RuleGridPage::Insert() {
    if (!editRule) return;
    if (auto cells = editRule(nullptr)) Select(model_.InsertRule(SelectedRow(), std::move(*cells)));
}

void RuleGridPage::Edit() {
    const int row = SelectedRow();
    // The "What" cell says whether the row holds a rule, in every grid.
    if (!model_.RowHasRule(row)) {
        boxes_.Error(std::string(kNothingToEditText));
        return;
    }
    if (!editRule) return;
    const RuleCells current = model_.Row(row);
    if (auto cells = editRule(&current)) model_.OverwriteRule(row, std::move(*cells));
}

void RuleGridPage::Delete() {
    const int row = SelectedRow();
    model_.RemoveRule(row);
    Select(std::min(row, model_.rowCount() - 1));
}

void RuleGridPage::MoveUp() {
    const int row = SelectedRow();
    if (model_.MoveUp(row)) Select(row - 1);
}

void RuleGridPage::MoveDown() {
    const int row = SelectedRow();
    if (model_.MoveDown(row)) Select(row + 1);
}

void RuleGridPage::HeaderClicked(int column) {
    QHeaderView* header = grid_->horizontalHeader();
    static_cast<void>(header);
    if (!model_.ColumnSortable(column)) return;
    const Qt::SortOrder order = header->sortIndicatorSection() == column &&
                                        header->sortIndicatorOrder() == Qt::AscendingOrder
                                    ? Qt::DescendingOrder
                                    : Qt::AscendingOrder;
    header->setSortIndicator(column, order);
    model_.sort(column, order);
}

void RuleGridPage::Print() {
    QPrinter printer;
    printer.setPageOrientation(QPageLayout::Portrait);
    if (!ui::RunPrintDialog(printer, this)) return;
    ui::PrintedTable table;
    table.title = model_.Facts().printTitle;
    const int first = model_.Facts().pictures ? 1 : 0;
    const int hits = static_cast<int>(model_.List().HitsColumn());
    for (int c = first; c < model_.columnCount(); ++c) {
        table.headings << model_.headerData(c, Qt::Horizontal).toString();
        table.widths.push_back(grid_->columnWidth(c));
        table.right.push_back(c == hits);
    }
    for (int r = 0; r < model_.rowCount(); ++r) {
        QStringList cells;
        for (int c = first; c < model_.columnCount(); ++c)
            cells << model_.index(r, c).data().toString();
        table.rows.push_back(cells);
    }
    ui::PrintTable(printer, table, QDateTime::currentDateTime());
}

void RuleGridPage::UpdateCount() {
    count_->setText(QString::number(model_.rowCount()));
}

void RuleGridPage::RestoreWidths(const SettingsStore& user) {
    for (int c = 0; c < model_.columnCount(); ++c) {
        const int w =
            user.ReadInteger(model_.Facts().widthSection, WidthKey(c), keys::ColumnWidthDefault);
        if (w >= 0 && w <= 4000) grid_->setColumnWidth(c, w);
    }
}

void RuleGridPage::StoreWidths(SettingsStore& user) const {
    for (int c = 0; c < model_.columnCount(); ++c)
        user.WriteInteger(model_.Facts().widthSection, WidthKey(c), grid_->columnWidth(c));
}

bool RuleGridPage::eventFilter(QObject* watched, QEvent* event) {
    // Return starts typing into a cell that can be edited, like F2.
    // While a cell is edited its editor has the keys, not the grid.
    if (watched == grid_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const QModelIndex current = grid_->currentIndex();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && current.isValid() &&
            model_.ColumnEditable(current.column())) {
            grid_->edit(current);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kelvane
