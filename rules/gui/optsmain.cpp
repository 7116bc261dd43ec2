#include "rules/gui/optsmain.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "base/error.h"
#include "base/fileio.h"
#include "rules/knownlist.h"
#include "settings/accounts.h"
#include "ui/controls.h"
#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"
#include "ui/pictures.h"

namespace kelvane {

namespace {

QLabel* Text(QWidget* parent, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    return l;
}

// A text with a mark picture after it.
QWidget* WithMark(QWidget* parent, QWidget* text, MessageMark mark) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    auto* picture = new QLabel(box);
    picture->setPixmap(ui::MarkIcon(mark).pixmap(16, 16));
    row->addWidget(text);
    row->addWidget(picture);
    row->addStretch();
    return box;
}

class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

// The editor's text for the blacklist view: its own line ends.
QString ViewText(std::string data) {
    std::string out;
    out.reserve(data.size());
    for (std::size_t i = 0; i < data.size(); ++i)
        if (!(data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')) out += data[i];
    return ui::DisplayText(out);
}

}  // namespace

TfrmOptionsMain::TfrmOptionsMain(const Locations& where, QWidget* parent, ui::MessageBoxes* boxes,
                                 RuleDialogs* dialogs)
    : QDialog(parent),
      where_(where),
      rules_(where.programDir),
      ownBoxes_(boxes ? nullptr : std::make_unique<ui::QtMessageBoxes>(this)),
      boxes_(boxes ? *boxes : *ownBoxes_),
      ownDialogs_(dialogs ? nullptr : std::make_unique<FormRuleDialogs>(boxes_, this)),
      dialogs_(dialogs ? *dialogs : *ownDialogs_) {
    setObjectName("TfrmOptionsMain");
    setWindowTitle("Spam Settings");
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("PageControl1");

    struct PageText {
        RuleKind kind;
        RuleList* list;
        const char* tab;
        const char* intro;
        const char* count;
        const char* caption;
        bool import;
    };
    SpamSettings& spam = rules_.spam;
    const PageText texts[] = {
        {RuleKind::Subject, &spam.SubjectRule, "Subject",
         "If a subject line matches the criteria below the email will be considered a SPAM",
         "lblSubjectCount", "Conditions", true},
        {RuleKind::Header, &spam.HeaderRule, "Headers",
         "If an e-mail header matches a criteria below it will be considered a SPAM.",
         "lblHeaderCount", "Conditions", false},
        {RuleKind::Sender, &spam.SenderRule, "Sender",
         "If a message is from someone matching a pattern below it will be considered a SPAM",
         "lblFromCount", "Conditions", false},
        {RuleKind::Exception, &spam.ExceptionRule, "Exceptions",
         "Always accept e-mail under the following conditions. Message will be marked with a :",
         "lblExceptCount", "Exceptions", true},
    };
    std::array<QWidget*, 4> tabPages{};
    for (const PageText& t : texts) {
        auto* page =
            new RuleGridPage(*t.list, t.kind, t.intro, t.count, t.caption, boxes_, t.import, this);
        const RuleKind kind = t.kind;
        page->editRule = [this, kind](const RuleCells* row) { return EditRule(kind, row); };
        page->importRules = [this, kind] { Import(kind); };
        pages_[static_cast<std::size_t>(kind)] = page;
        tabPages[static_cast<std::size_t>(kind)] = page;
    }

    // Size
    auto* size = new QWidget(this);
    cbSmaller_ =
        ui::MakeControl<QCheckBox>(size, "cbSmaller", "If the message size is smaller than");
    nSmaller_ = ui::MakeControl<QSpinBox>(size, "nSmaller", "Smaller than, bytes");
    nSmaller_->setRange(0, 100000);
    rbSmallerCheck_ = ui::MakeControl<QRadioButton>(size, "rbSmallerCheck", "check mark");
    rbSmallerQuestion_ = ui::MakeControl<QRadioButton>(size, "rbSmallerQuestion", "question");
    cbLarger_ = ui::MakeControl<QCheckBox>(size, "cbLarger", "If the message size is larger than");
    nLarger_ = ui::MakeControl<QSpinBox>(size, "nLarger", "Larger than, bytes");
    nLarger_->setRange(0, 99999999);
    rbLargerCheck_ = ui::MakeControl<QRadioButton>(size, "rbLargerCheck", "check mark");
    rbLargerQuestion_ = ui::MakeControl<QRadioButton>(size, "rbLargerQuestion", "question");
    auto* sizeGrid = new QGridLayout;
    int r = 0;
    for (auto [cb, n, check, question] :
         {std::tuple{cbSmaller_, nSmaller_, rbSmallerCheck_, rbSmallerQuestion_},
          std::tuple{cbLarger_, nLarger_, rbLargerCheck_, rbLargerQuestion_}}) {
        auto* group = new QButtonGroup(size);
        group->addButton(check);
        group->addButton(question);
        sizeGrid->addWidget(cb, r, 0);
        sizeGrid->addWidget(n, r, 1);
        sizeGrid->addWidget(new QLabel("bytes, ", size), r, 2);
        sizeGrid->addWidget(new QLabel("then mark the message with a", size), r, 3);
        sizeGrid->addWidget(WithMark(size, check, mmDelete), r, 4);
        sizeGrid->addWidget(WithMark(size, question, mmQuestion), r, 5);
        connect(cb, &QCheckBox::toggled, this, &TfrmOptionsMain::UpdateSizeControls);
        ++r;
    }
    auto* sizeLayout = new QVBoxLayout(size);
    sizeLayout->addLayout(sizeGrid);
    sizeLayout->addWidget(Text(size,
                               "Note: Only messages with a check mark will be deleted.  The "
                               "question mark is to notify you of a potential spam message to "
                               "delete."));
    sizeLayout->addStretch();

    // BlackList
    auto* black = new QWidget(this);
    cbKnownSpammers_ = ui::MakeControl<QCheckBox>(
        black, "cbKnownSpammers",
        "Compare e-mail with this list of known spammers. Will be marked with :");
    memo1_ = ui::MakeControl<QPlainTextEdit>(black, "memo1", "Known spammer blacklist");
    memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
    btEdit_ = ui::MakeControl<QPushButton>(black, "btEdit", "&Edit");
    btSave_ = ui::MakeControl<QPushButton>(black, "btSave", "&Save");
    btCancelEdit_ = ui::MakeControl<QPushButton>(black, "btCancelBlacklist", "Cancel");
    lblSpamCount_ = ui::MakeControl<QLabel>(black, "lblSpamCount", "Spammers");
    lblSpamCount_->setText("###");
    pnlNotice_ = ui::MakeControl<QLabel>(black, "pnlNotice", "Notice");
    pnlNotice_->setAlignment(Qt::AlignCenter);
    pnlNotice_->hide();
    connect(btEdit_, &QPushButton::clicked, this, &TfrmOptionsMain::EditBlacklist);
    connect(btSave_, &QPushButton::clicked, this, [this] { SaveBlacklist(); });
    connect(btCancelEdit_, &QPushButton::clicked, this, &TfrmOptionsMain::CancelBlacklist);
    auto* blackButtons = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{btEdit_, btSave_, btCancelEdit_})
        blackButtons->addWidget(w);
    blackButtons->addStretch();
    blackButtons->addWidget(new QLabel("Spammers", black));
    blackButtons->addWidget(lblSpamCount_);
    auto* blackLayout = new QVBoxLayout(black);
    blackLayout->addWidget(Text(black,
                                "This is an editable list of the e-mail addresses and domain "
                                "names of known spammers collected from various public sources "
                                "on the internet.   You may add or delete from this list."));
    blackLayout->addWidget(WithMark(black, cbKnownSpammers_, mmKnownSpammer));
    blackLayout->addWidget(pnlNotice_);
    blackLayout->addWidget(memo1_, 1);
    blackLayout->addLayout(blackButtons);

    tabs_->addTab(tabPages[0], "Subject");
    tabs_->addTab(tabPages[2], "Headers");
    tabs_->addTab(tabPages[1], "Sender");
    tabs_->addTab(size, "Size");
    tabs_->addTab(tabPages[3], "Exceptions");
    tabs_->addTab(black, "BlackList");

    QPushButton *ok = nullptr, *cancel = nullptr;
    auto* buttons = ui::OkCancelButtons(this, ok, cancel);
    auto* help = buttons->addButton("&Help", QDialogButtonBox::HelpRole);
    help->setObjectName("btHelp");
    help->setAccessibleName("Help");
    connect(ok, &QPushButton::clicked, this, &TfrmOptionsMain::accept);
    connect(cancel, &QPushButton::clicked, this, &TfrmOptionsMain::reject);
    connect(help, &QPushButton::clicked, this, [this] { Q_EMIT helpRequested(100); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addWidget(buttons);
    resize(640, 420);

    try {
        const SettingsStore user = SettingsStore::OpenUser(where_);
        for (RuleGridPage* page : pages_)
            page->RestoreWidths(user);
    } catch (const KelvaneError&) {
        // The designed widths then.
    }
    LimitsToControls();
    updateCounts();
}

TfrmOptionsMain::~TfrmOptionsMain() {
    try {
        StoreColumnWidths();
    } catch (const std::exception&) {
        // Widths are not worth an error at the end of the run.
    }
}

void TfrmOptionsMain::StoreColumnWidths() {
    SettingsStore user = SettingsStore::OpenUser(where_);
    user.Batch([&] {
        for (RuleGridPage* page : pages_)
            page->StoreWidths(user);
    });
}

// The pages of the rule lists, in the order readSettings loads them.
void TfrmOptionsMain::readSettings() {
    WaitCursor wait;
    for (RuleGridPage* page : pages_)
        page->Model().BeginReload();
    try {
        rules_.warnings = rules_.spam.readSettings(where_.programDir);
    } catch (const KelvaneError& e) {
        for (RuleGridPage* page : pages_)
            page->Model().EndReload();
        boxes_.Error(e.what());
        return;
    }
    for (RuleGridPage* page : pages_)
        page->Model().EndReload();
    LimitsToControls();
}

void TfrmOptionsMain::showEvent(QShowEvent* event) {
    LoadBlacklistView();
    readSettings();
    for (RuleList* list : {&rules_.spam.SubjectRule, &rules_.spam.HeaderRule,
                           &rules_.spam.SenderRule, &rules_.spam.ExceptionRule})
        list->ApplyDefaultHeadings();
    updateCounts();
    QDialog::showEvent(event);
}

void TfrmOptionsMain::LimitsToControls() {
    const SizeLimits& l = rules_.spam.Limits;
    cbSmaller_->setChecked(l.smallerEnabled);
    nSmaller_->setValue(l.smallerBytes);
    (l.smallerCheck ? rbSmallerCheck_ : rbSmallerQuestion_)->setChecked(true);
    cbLarger_->setChecked(l.largerEnabled);
    nLarger_->setValue(l.largerBytes);
    (l.largerCheck ? rbLargerCheck_ : rbLargerQuestion_)->setChecked(true);
    cbKnownSpammers_->setChecked(rules_.spam.KnownSpammers);
    UpdateSizeControls();
}

void TfrmOptionsMain::ControlsToLimits() {
    SizeLimits& l = rules_.spam.Limits;
    l.smallerEnabled = cbSmaller_->isChecked();
    l.smallerBytes = nSmaller_->value();
    l.smallerCheck = rbSmallerCheck_->isChecked();
    l.largerEnabled = cbLarger_->isChecked();
    l.largerBytes = nLarger_->value();
    l.largerCheck = rbLargerCheck_->isChecked();
    rules_.spam.KnownSpammers = cbKnownSpammers_->isChecked();
}

void TfrmOptionsMain::UpdateSizeControls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{nSmaller_, rbSmallerCheck_, rbSmallerQuestion_})
        w->setEnabled(cbSmaller_->isChecked());
    for (QWidget* w : std::initializer_list<QWidget*>{nLarger_, rbLargerCheck_, rbLargerQuestion_})
        w->setEnabled(cbLarger_->isChecked());
}

void TfrmOptionsMain::updateCounts() {
    for (RuleGridPage* page : pages_)
        page->UpdateCount();
    lblSpamCount_->setText(
        QString::number(SplitKnownListLines(ui::CoreText(memo1_->toPlainText())).size()));
}

std::string TfrmOptionsMain::KnownPath() const {
    return JoinPath(where_.programDir, "known.lst");
}

void TfrmOptionsMain::LoadBlacklistView() {
    FileContent content = ReadWholeFile(KnownPath());
    const bool found = content.status == ReadStatus::Ok;
    memo1_->setReadOnly(true);
    memo1_->setBackgroundRole(QPalette::Button);
    memo1_->viewport()->setBackgroundRole(QPalette::Button);
    memo1_->setPlainText(found ? ViewText(std::move(content.data)) : QString());
    pnlNotice_->setText(found ? QString() : ui::DisplayText(kKnownListMissingText));
    pnlNotice_->setVisible(!found);
    btEdit_->setVisible(found);
    btSave_->setVisible(found);
    btCancelEdit_->setVisible(found);
    btSave_->setEnabled(false);
    btCancelEdit_->setEnabled(false);
}

bool TfrmOptionsMain::EditingBlacklist() const {
    return btSave_->isVisible() && btSave_->isEnabled();
}

void TfrmOptionsMain::EditBlacklist() {
    memo1_->setReadOnly(false);
    memo1_->viewport()->setBackgroundRole(QPalette::Base);
    memo1_->setFocus();
    btSave_->setEnabled(true);
    btCancelEdit_->setEnabled(true);
}

void TfrmOptionsMain::CancelBlacklist() {
    LoadBlacklistView();
    updateCounts();
}

bool TfrmOptionsMain::SaveBlacklist() {
    const int position = memo1_->verticalScrollBar()->value();
    pnlNotice_->setText(ui::DisplayText(kRebuildingText));
    pnlNotice_->show();
    memo1_->setReadOnly(true);
    btSave_->setEnabled(false);
    btCancelEdit_->setEnabled(false);
    {
        WaitCursor wait;
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        try {
            rules_.known.RebuildAndSave(ui::CoreText(memo1_->toPlainText()), KnownPath());
        } catch (const KelvaneError& e) {
            // The edits stay in the editor, to be saved again.
            pnlNotice_->hide();
            boxes_.Error(e.what());
            EditBlacklist();
            return false;
        }
    }
    LoadBlacklistView();
    memo1_->verticalScrollBar()->setValue(position);
    updateCounts();
    return true;
}

void TfrmOptionsMain::accept() {
    ControlsToLimits();
    for (RuleKind kind :
         {RuleKind::Subject, RuleKind::Header, RuleKind::Sender, RuleKind::Exception})
        Page(kind).Model().RemoveDuplicates();
    try {
        WaitCursor wait;
        rules_.spam.Savesettings(where_.programDir, SaveMode::Explicit);
    } catch (const KelvaneError& e) {
        boxes_.Error(e.what());
        return;
    }
    // A blacklist that could not be written keeps the dialog open with its edits.
    if (EditingBlacklist() && !SaveBlacklist()) return;
    QDialog::accept();
}

void TfrmOptionsMain::reject() {
    readSettings();
    if (EditingBlacklist()) CancelBlacklist();
    updateCounts();
    QDialog::reject();
}

void TfrmOptionsMain::Import(RuleKind kind) {
    const bool subject = kind == RuleKind::Subject;
    const auto text = dialogs_.Import(subject ? "Import spam keywords" : "Import e-mail addresses");
    // The rows join the dialog's unsaved edits: OK keeps them, Cancel drops
    // them with the rest.
    if (!text) return;
    const std::vector<std::string> lines = ImportLines(*text);
    RuleGridModel& model = Page(kind).Model();
    for (RuleCells& row : subject ? ImportedSubjectRows(lines) : ImportedExceptionRows(lines))
        model.AppendRule(std::move(row));
}

std::optional<RuleCells> TfrmOptionsMain::EditRule(RuleKind kind, const RuleCells* row) {
    switch (kind) {
        case RuleKind::Subject:
            if (auto s =
                    dialogs_.EditSubject(row ? SubjectEditPreset(*row) : SubjectInsertPreset()))
                return SubjectRow(*s);
            break;
        case RuleKind::Sender:
            if (auto s = dialogs_.EditSender(row ? SenderEditPreset(*row) : SenderInsertPreset()))
                return SenderRow(*s);
            break;
        case RuleKind::Header: {
            MailboxTable table;
            try {
                readServerSettings(SettingsStore::OpenUser(where_), table);
            } catch (const KelvaneError& e) {
                boxes_.Error(e.what());
                return std::nullopt;
            }
            if (auto s = dialogs_.EditHeader(row ? HeaderEditPreset(*row) : HeaderInsertPreset(),
                                             HeaderMailboxEntries(table)))
                return HeaderRow(*s);
            break;
        }
        case RuleKind::Exception:
            if (auto s = dialogs_.EditException(row ? ExceptionEditPreset(*row)
                                                    : ExceptionInsertPreset()))
                return ExceptionRow(*s);
            break;
    }
    return std::nullopt;
}

}  // namespace kelvane
