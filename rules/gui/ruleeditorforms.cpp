#include "rules/gui/ruleeditorforms.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/controls.h"
#include "ui/dialogbuttons.h"
#include "ui/displaytext.h"

namespace kelvane {

namespace {

QLabel* Label(QWidget* parent, const QString& text, bool bold = false) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    if (bold) {
        QFont f = l->font();
        f.setBold(true);
        l->setFont(f);
    }
    return l;
}

QComboBox* Conditions(QWidget* parent, int count, const QString& accessible) {
    auto* c = ui::MakeControl<QComboBox>(parent, "cbCondition", accessible);
    for (int i = 0; i < count; ++i)
        c->addItem(kConditionItems[static_cast<std::size_t>(i)].label);
    return c;
}

template <std::size_t N>
QComboBox* Suggestions(QWidget* parent, const char* name, const QString& accessible,
                       const std::array<const char*, N>& items) {
    auto* c = ui::MakeControl<QComboBox>(parent, name, accessible);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    for (const char* s : items)
        c->addItem(s);
    c->setCurrentIndex(-1);
    return c;
}

// "Mark message with :" and its two choices.
QLayout* Marks(QWidget* parent, QRadioButton*& check, QRadioButton*& question,
               const QString& checkText) {
    auto* box = new QVBoxLayout;
    auto* row = new QHBoxLayout;
    row->addWidget(Label(parent, "Mark message with :"));
    check = ui::MakeControl<QRadioButton>(parent, "rbCheck", checkText);
    question = ui::MakeControl<QRadioButton>(parent, "rbQuestion", "&question mark");
    row->addWidget(check);
    row->addWidget(question);
    row->addStretch();
    box->addLayout(row);
    box->addWidget(Label(parent, "Note: Only messages with a check mark will be deleted."));
    return box;
}

std::string Text(const QComboBox* c) {
    return ui::CoreText(c->currentText());
}
std::string Text(const QLineEdit* e) {
    return ui::CoreText(e->text());
}

}  // namespace

RuleEditorForm::RuleEditorForm(ui::MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), boxes_(boxes) {}

void RuleEditorForm::Finish(QLayout* body) {
    QPushButton *ok = nullptr, *cancel = nullptr;
    auto* buttons = ui::OkCancelButtons(this, ok, cancel);
    connect(ok, &QPushButton::clicked, this, &RuleEditorForm::accept);
    connect(cancel, &QPushButton::clicked, this, &RuleEditorForm::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(buttons);
}

void RuleEditorForm::accept() {
    if (auto refusal = Check()) {
        boxes_.Error(refusal->text);
        if (QWidget* w = Field(refusal->field)) w->setFocus();
        return;
    }
    QDialog::accept();
}

// --- subject

TfrmOptionsSubject::TfrmOptionsSubject(ui::MessageBoxes& boxes, QWidget* parent)
    : RuleEditorForm(boxes, parent) {
    setObjectName("TfrmOptionsSubject");
    setWindowTitle("Subject line options");
    auto* body = new QVBoxLayout;
    body->addWidget(Label(this, "The Subject line characteristics", true));
    body->addWidget(Label(this,
                          "If text in the subject line follows any of these patterns it will be "
                          "marked for deletion since it looks like a potential spam."));
    body->addWidget(Label(this, "The subject line:"));
    cbCondition_ = Conditions(this, kSubjectConditions, "The subject line:");
    edText_ = Suggestions(this, "edText", "Subject text", kSubjectSuggestions);
    auto* row = new QHBoxLayout;
    row->addWidget(cbCondition_);
    row->addWidget(edText_, 1);
    body->addLayout(row);
    cbCase_ = ui::MakeControl<QCheckBox>(this, "cbCase", "&Check if case matters (upper/lower)");
    body->addWidget(cbCase_);
    body->addLayout(Marks(this, rbCheck_, rbQuestion_, "check &mark"));
    Finish(body);
    connect(cbCondition_, &QComboBox::currentIndexChanged, this,
            &TfrmOptionsSubject::UpdateVisibility);
    Load(SubjectInsertPreset());
    edText_->setFocus();
}

void TfrmOptionsSubject::Load(const SubjectEditorState& s) {
    cbCondition_->setCurrentIndex(s.condition);
    edText_->setEditText(ui::DisplayText(s.text));
    cbCase_->setChecked(s.caseMatters);
    (s.checkMark ? rbCheck_ : rbQuestion_)->setChecked(true);
    UpdateVisibility();
}

SubjectEditorState TfrmOptionsSubject::State() const {
    return {cbCondition_->currentIndex(), Text(edText_), cbCase_->isChecked(),
            rbCheck_->isChecked()};
}

void TfrmOptionsSubject::UpdateVisibility() {
    const bool text = ConditionTakesText(cbCondition_->currentIndex());
    edText_->setVisible(text);
    cbCase_->setVisible(text);
}

QWidget* TfrmOptionsSubject::Field(EditorField field) const {
    return field == EditorField::Condition ? static_cast<QWidget*>(cbCondition_) : edText_;
}

// --- sender

TfrmOptionsFROM::TfrmOptionsFROM(ui::MessageBoxes& boxes, QWidget* parent)
    : RuleEditorForm(boxes, parent) {
    setObjectName("TfrmOptionsFROM");
    setWindowTitle("Sender characteristics");
    auto* body = new QVBoxLayout;
    body->addWidget(Label(this, "The Sender characteristics", true));
    body->addWidget(Label(this,
                          "If the sender matches the distinguishing characteristics below it "
                          "will be marked for deletion."));
    const QString label = "The sender's e-mail/domain address (as viewed on the main screen):";
    body->addWidget(Label(this, label));
    cbWhat_ = ui::MakeControl<QComboBox>(this, "cbWhat", "E-mail address or domain name");
    cbWhat_->addItems({"E-mail address", "Domain name"});
    cbCondition_ = Conditions(this, kSenderConditions, label);
    cbCondition_->setMaxVisibleItems(10);
    edText_ = Suggestions(this, "edText", "Sender text", kSenderSuggestions);
    auto* row = new QHBoxLayout;
    row->addWidget(cbWhat_);
    row->addWidget(cbCondition_);
    row->addWidget(edText_, 1);
    body->addLayout(row);
    body->addWidget(Label(this, "Hint:", true));
    body->addWidget(Label(this, "An e-mail address includes the domain."));
    body->addWidget(Label(this, "The domain is after the @ symbol."));
    body->addWidget(Label(this,
                          "All numeric: 12345@example.com    At least 1/2 numeric: "
                          "ab12345@example.com"));
    body->addLayout(Marks(this, rbCheck_, rbQuestion_, "&check mark"));
    Finish(body);
    connect(cbCondition_, &QComboBox::currentIndexChanged, this,
            &TfrmOptionsFROM::UpdateVisibility);
    Load(SenderInsertPreset());
    cbCondition_->setFocus();
}

void TfrmOptionsFROM::Load(const SenderEditorState& s) {
    cbWhat_->setCurrentIndex(s.domain ? 1 : 0);
    cbCondition_->setCurrentIndex(s.condition);
    edText_->setEditText(ui::DisplayText(s.text));
    (s.checkMark ? rbCheck_ : rbQuestion_)->setChecked(true);
    UpdateVisibility();
}

SenderEditorState TfrmOptionsFROM::State() const {
    return {cbCondition_->currentIndex(), cbWhat_->currentIndex() == 1, Text(edText_),
            rbCheck_->isChecked()};
}

void TfrmOptionsFROM::UpdateVisibility() {
    edText_->setVisible(ConditionTakesText(cbCondition_->currentIndex()));
}

QWidget* TfrmOptionsFROM::Field(EditorField field) const {
    return field == EditorField::Condition ? static_cast<QWidget*>(cbCondition_) : edText_;
}

// --- headers

TfrmHeaders::TfrmHeaders(ui::MessageBoxes& boxes, const std::vector<HeaderMailboxEntry>& mailboxes,
                         QWidget* parent)
    : RuleEditorForm(boxes, parent), mailboxes_(mailboxes) {
    setObjectName("TfrmHeaders");
    setWindowTitle("Header characteristics");
    auto* body = new QVBoxLayout;
    body->addWidget(Label(this, "The E-mail header characteristics", true));
    body->addWidget(Label(this,
                          "If text in the e-mail header line follows any of these patterns it "
                          "will be marked for deletion since it looks like a potential spam."));
    rbHeader_ = ui::MakeControl<QRadioButton>(this, "rbHeader", "Message Header");
    cbCondition_ = Conditions(this, kHeaderConditions, "Message Header");
    edText_ = Suggestions(this, "edText", "Header text", kHeaderSuggestions);
    cbCase_ = ui::MakeControl<QCheckBox>(this, "cbCase", "&Check if case matters (upper/lower)");
    rbReplyTo_ = ui::MakeControl<QRadioButton>(
        this, "rbReplyTo", "The Sender address does not match the 'Reply-to' address");
    rbTo_ = ui::MakeControl<QRadioButton>(this, "rbTo", "The 'To' address does not contain:");
    edTo_ = ui::MakeControl<QLineEdit>(this, "edTo", "The 'To' address does not contain:");
    lblMailBox_ = Label(this, "For Mailbox:");
    cbMailBox_ = ui::MakeControl<QComboBox>(this, "cbMailBox", "For Mailbox:");
    for (const HeaderMailboxEntry& e : mailboxes_)
        cbMailBox_->addItem(ui::DisplayText(e.text));
    rbEqualsTo_ = ui::MakeControl<QRadioButton>(this, "rbEqualsTo",
                                                "The Sender address equals the 'To' address field");
    body->addWidget(rbHeader_);
    auto* row = new QHBoxLayout;
    row->addWidget(cbCondition_);
    row->addWidget(edText_, 1);
    body->addLayout(row);
    body->addWidget(cbCase_);
    body->addWidget(rbReplyTo_);
    body->addWidget(rbTo_);
    auto* toRow = new QHBoxLayout;
    toRow->addWidget(edTo_, 1);
    toRow->addWidget(lblMailBox_);
    toRow->addWidget(cbMailBox_);
    body->addLayout(toRow);
    body->addWidget(rbEqualsTo_);
    body->addLayout(Marks(this, rbCheck_, rbQuestion_, "check &mark"));
    auto* kinds = new QButtonGroup(this);
    for (QRadioButton* b : {rbHeader_, rbReplyTo_, rbTo_, rbEqualsTo_}) {
        kinds->addButton(b);
        connect(b, &QRadioButton::toggled, this, &TfrmHeaders::UpdateVisibility);
    }
    Finish(body);
    Load(HeaderInsertPreset());
}

void TfrmHeaders::Load(const HeaderEditorState& s) {
    QRadioButton* kinds[] = {rbHeader_, rbReplyTo_, rbTo_, rbEqualsTo_};
    kinds[static_cast<int>(s.kind)]->setChecked(true);
    cbCondition_->setCurrentIndex(s.condition);
    edText_->setEditText(ui::DisplayText(s.text));
    cbCase_->setChecked(s.caseMatters);
    edTo_->setText(ui::DisplayText(s.to));
    cbMailBox_->setCurrentIndex(mailboxes_.empty() ? -1 : 0);
    for (std::size_t i = 0; i < mailboxes_.size(); ++i)
        if (mailboxes_[i].slot == s.mailbox) cbMailBox_->setCurrentIndex(static_cast<int>(i));
    (s.checkMark ? rbCheck_ : rbQuestion_)->setChecked(true);
    UpdateVisibility();
}

HeaderEditorState TfrmHeaders::State() const {
    HeaderEditorState s;
    s.kind = rbReplyTo_->isChecked()    ? HeaderKind::ReplyToMismatch
             : rbTo_->isChecked()       ? HeaderKind::ToDoesNotContain
             : rbEqualsTo_->isChecked() ? HeaderKind::SenderEqualsTo
                                        : HeaderKind::MessageHeader;
    s.condition = cbCondition_->currentIndex();
    s.text = Text(edText_);
    s.caseMatters = cbCase_->isChecked();
    s.checkMark = rbCheck_->isChecked();
    s.to = Text(edTo_);
    const int i = cbMailBox_->currentIndex();
    s.mailbox = i >= 0 ? mailboxes_[static_cast<std::size_t>(i)].slot : 0;
    return s;
}

void TfrmHeaders::UpdateVisibility() {
    const bool header = rbHeader_->isChecked(), to = rbTo_->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{cbCondition_, edText_, cbCase_})
        w->setVisible(header);
    for (QWidget* w : std::initializer_list<QWidget*>{edTo_, lblMailBox_, cbMailBox_})
        w->setVisible(to);
}

QWidget* TfrmHeaders::Field(EditorField field) const {
    switch (field) {
        case EditorField::To:
            return edTo_;
        case EditorField::Mailbox:
            return cbMailBox_;
        case EditorField::Condition:
            return cbCondition_;
        default:
            return edText_;
    }
}

// --- exceptions

TfrmAlwaysAccept::TfrmAlwaysAccept(ui::MessageBoxes& boxes, QWidget* parent)
    : RuleEditorForm(boxes, parent) {
    setObjectName("TfrmAlwaysAccept");
    setWindowTitle("Accept e-mail from");
    auto* body = new QVBoxLayout;
    body->addWidget(Label(this, "Always accept e-mail when:", true));
    rbEmail_ = ui::MakeControl<QRadioButton>(this, "rbEmail", "The explicit e-mail address is:");
    edEmail_ = ui::MakeControl<QLineEdit>(this, "edEmail", "The explicit e-mail address is:");
    edEmail_->setToolTip("Enter an e-mail address, for example ann@example.com");
    rbDomain_ = ui::MakeControl<QRadioButton>(this, "rbDomain", "The domain name is:");
    edDomain_ = ui::MakeControl<QLineEdit>(this, "edDomain", "The domain name is:");
    edDomain_->setToolTip("The domain is the part after the '@' symbol");
    rbSubject_ = ui::MakeControl<QRadioButton>(this, "rbSubject", "When the subject line ");
    cbCondition_ = Conditions(this, kExceptionConditions, "When the subject line ");
    edSubject_ = ui::MakeControl<QLineEdit>(this, "edSubject", "Subject text");
    cbCase_ = ui::MakeControl<QCheckBox>(this, "cbCase", "&Check if case matters (upper/lower)");
    auto* grid = new QFormLayout;
    grid->addRow(rbEmail_, edEmail_);
    grid->addRow(rbDomain_, edDomain_);
    auto* subjectRow = new QHBoxLayout;
    subjectRow->addWidget(cbCondition_);
    subjectRow->addWidget(edSubject_, 1);
    grid->addRow(rbSubject_, subjectRow);
    body->addLayout(grid);
    body->addWidget(cbCase_);
    for (QRadioButton* b : {rbEmail_, rbDomain_, rbSubject_})
        connect(b, &QRadioButton::toggled, this, &TfrmAlwaysAccept::UpdateVisibility);
    Finish(body);
    Load(ExceptionInsertPreset());
}

void TfrmAlwaysAccept::Load(const ExceptionEditorState& s) {
    QRadioButton* kinds[] = {rbEmail_, rbDomain_, rbSubject_};
    kinds[static_cast<int>(s.kind)]->setChecked(true);
    edEmail_->setText(ui::DisplayText(s.email));
    edDomain_->setText(ui::DisplayText(s.domain));
    edSubject_->setText(ui::DisplayText(s.subject));
    cbCondition_->setCurrentIndex(s.condition);
    cbCase_->setChecked(s.caseMatters);
    UpdateVisibility();
}

ExceptionEditorState TfrmAlwaysAccept::State() const {
    ExceptionEditorState s;
    s.kind = rbDomain_->isChecked()    ? ExceptionKind::Domain
             : rbSubject_->isChecked() ? ExceptionKind::Subject
                                       : ExceptionKind::Email;
    s.email = Text(edEmail_);
    s.domain = Text(edDomain_);
    s.subject = Text(edSubject_);
    s.condition = cbCondition_->currentIndex();
    s.caseMatters = cbCase_->isChecked();
    return s;
}

void TfrmAlwaysAccept::UpdateVisibility() {
    edEmail_->setVisible(rbEmail_->isChecked());
    edDomain_->setVisible(rbDomain_->isChecked());
    cbCondition_->setVisible(rbSubject_->isChecked());
    edSubject_->setVisible(rbSubject_->isChecked());
    if (QWidget* w = Field(rbDomain_->isChecked()    ? EditorField::Domain
                           : rbSubject_->isChecked() ? EditorField::Subject
                                                     : EditorField::Email))
        w->setFocus();
}

QWidget* TfrmAlwaysAccept::Field(EditorField field) const {
    switch (field) {
        case EditorField::Domain:
            return edDomain_;
        case EditorField::Subject:
            return edSubject_;
        case EditorField::Condition:
            return cbCondition_;
        default:
            return edEmail_;
    }
}

// --- import

TfrmImportSpam::TfrmImportSpam(QWidget* parent) : QDialog(parent) {
    setObjectName("TfrmImportSpam");
    setWindowTitle("Import new keywords");
    heading_ = Label(this, "Import spam keywords", true);
    heading_->setObjectName("lblHeading");
    memo_ = ui::MakeControl<QPlainTextEdit>(this, "memo1", "Import spam keywords");
    QPushButton *ok = nullptr, *cancel = nullptr;
    auto* buttons = ui::OkCancelButtons(this, ok, cancel);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading_);
    layout->addWidget(memo_, 1);
    layout->addWidget(Label(this,
                            "A quick way to enter new SPAM subject keywords is to paste them into "
                            "the box above or type them in.  They should be entered one per "
                            "line.  This will allow you to quickly expand the number of keywords "
                            "that Kelvane searches for."));
    layout->addWidget(buttons);
}

void TfrmImportSpam::SetHeading(const QString& heading) {
    heading_->setText(heading);
    memo_->setAccessibleName(heading);
}

std::string TfrmImportSpam::Text() const {
    return ui::CoreText(memo_->toPlainText());
}

// --- the real forms

namespace {

template <class Form, class State, class... Extra>
std::optional<State> Run(ui::MessageBoxes& boxes, QWidget* parent, const State& preset,
                         const Extra&... extra) {
    Form form(boxes, extra..., parent);
    form.Load(preset);
    if (form.exec() != QDialog::Accepted) return std::nullopt;
    return form.State();
}

}  // namespace

std::optional<SubjectEditorState> FormRuleDialogs::EditSubject(const SubjectEditorState& p) {
    return Run<TfrmOptionsSubject>(boxes_, parent_, p);
}
std::optional<SenderEditorState> FormRuleDialogs::EditSender(const SenderEditorState& p) {
    return Run<TfrmOptionsFROM>(boxes_, parent_, p);
}
std::optional<HeaderEditorState> FormRuleDialogs::EditHeader(
    const HeaderEditorState& p, const std::vector<HeaderMailboxEntry>& mailboxes) {
    return Run<TfrmHeaders>(boxes_, parent_, p, mailboxes);
}
std::optional<ExceptionEditorState> FormRuleDialogs::EditException(const ExceptionEditorState& p) {
    return Run<TfrmAlwaysAccept>(boxes_, parent_, p);
}
std::optional<std::string> FormRuleDialogs::Import(const std::string& heading) {
    TfrmImportSpam form(parent_);
    form.SetHeading(ui::DisplayText(heading));
    if (form.exec() != QDialog::Accepted) return std::nullopt;
    return form.Text();
}

}  // namespace kelvane
