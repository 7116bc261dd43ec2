#pragma once

// The rule editors and the keyword import as thin forms over the editor
// states of rules/ruleeditors.h, and the one seam the spam settings dialog
// opens them through.

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "rules/ruleeditors.h"
#include "ui/messageboxes.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;

namespace kelvane {

// The modal editors; the tests answer them instead.
class RuleDialogs {
  public:
    virtual ~RuleDialogs() = default;
    virtual std::optional<SubjectEditorState> EditSubject(const SubjectEditorState& preset) = 0;
    virtual std::optional<SenderEditorState> EditSender(const SenderEditorState& preset) = 0;
    virtual std::optional<HeaderEditorState> EditHeader(
        const HeaderEditorState& preset, const std::vector<HeaderMailboxEntry>& mailboxes) = 0;
    virtual std::optional<ExceptionEditorState> EditException(
        const ExceptionEditorState& preset) = 0;
    // The pasted text, or nothing when cancelled.
    virtual std::optional<std::string> Import(const std::string& heading) = 0;
};

// A form refuses OK with the core's check: the box, and the focus on the
// field to fix.
class RuleEditorForm : public QDialog {
    Q_OBJECT
  public:
    RuleEditorForm(ui::MessageBoxes& boxes, QWidget* parent);
    void accept() override;

  protected:
    virtual std::optional<EditorRefusal> Check() const = 0;
    virtual QWidget* Field(EditorField field) const = 0;
    void Finish(QLayout* body);

  private:
    ui::MessageBoxes& boxes_;
};

class TfrmOptionsSubject : public RuleEditorForm {
    Q_OBJECT
  public:
    TfrmOptionsSubject(ui::MessageBoxes& boxes, QWidget* parent = nullptr);
    void Load(const SubjectEditorState& s);
    SubjectEditorState State() const;

  protected:
    std::optional<EditorRefusal> Check() const override { return CheckSubject(State()); }
    QWidget* Field(EditorField field) const override;

  private:
    void UpdateVisibility();
    QComboBox *cbCondition_, *edText_;
    QCheckBox* cbCase_;
    QRadioButton *rbCheck_, *rbQuestion_;
};

class TfrmOptionsFROM : public RuleEditorForm {
    Q_OBJECT
  public:
    TfrmOptionsFROM(ui::MessageBoxes& boxes, QWidget* parent = nullptr);
    void Load(const SenderEditorState& s);
    SenderEditorState State() const;

  protected:
    std::optional<EditorRefusal> Check() const override { return CheckSender(State()); }
    QWidget* Field(EditorField field) const override;

  private:
    void UpdateVisibility();
    QComboBox *cbWhat_, *cbCondition_, *edText_;
    QRadioButton *rbCheck_, *rbQuestion_;
};

class TfrmHeaders : public RuleEditorForm {
    Q_OBJECT
  public:
    TfrmHeaders(ui::MessageBoxes& boxes, const std::vector<HeaderMailboxEntry>& mailboxes,
                QWidget* parent = nullptr);
    void Load(const HeaderEditorState& s);
    HeaderEditorState State() const;

  protected:
    std::optional<EditorRefusal> Check() const override { return CheckHeader(State()); }
    QWidget* Field(EditorField field) const override;

  private:
    void UpdateVisibility();
    std::vector<HeaderMailboxEntry> mailboxes_;
    QRadioButton *rbHeader_, *rbReplyTo_, *rbTo_, *rbEqualsTo_;
    QComboBox *cbCondition_, *edText_, *cbMailBox_;
    QCheckBox* cbCase_;
    QLineEdit* edTo_;
    QLabel* lblMailBox_;
    QRadioButton *rbCheck_, *rbQuestion_;
};

class TfrmAlwaysAccept : public RuleEditorForm {
    Q_OBJECT
  public:
    TfrmAlwaysAccept(ui::MessageBoxes& boxes, QWidget* parent = nullptr);
    void Load(const ExceptionEditorState& s);
    ExceptionEditorState State() const;

  protected:
    std::optional<EditorRefusal> Check() const override { return CheckException(State()); }
    QWidget* Field(EditorField field) const override;

  private:
    void UpdateVisibility();
    QRadioButton *rbEmail_, *rbDomain_, *rbSubject_;
    QLineEdit *edEmail_, *edDomain_, *edSubject_;
    QComboBox* cbCondition_;
    QCheckBox* cbCase_;
};

class TfrmImportSpam : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmImportSpam(QWidget* parent = nullptr);
    void SetHeading(const QString& heading);
    std::string Text() const;

  private:
    QLabel* heading_;
    QPlainTextEdit* memo_;
};

// The real forms, one per use.
class FormRuleDialogs : public RuleDialogs {
  public:
    FormRuleDialogs(ui::MessageBoxes& boxes, QWidget* parent) : boxes_(boxes), parent_(parent) {}
    std::optional<SubjectEditorState> EditSubject(const SubjectEditorState& preset) override;
    std::optional<SenderEditorState> EditSender(const SenderEditorState& preset) override;
    std::optional<HeaderEditorState> EditHeader(
        const HeaderEditorState& preset, const std::vector<HeaderMailboxEntry>& mailboxes) override;
    std::optional<ExceptionEditorState> EditException(const ExceptionEditorState& preset) override;
    std::optional<std::string> Import(const std::string& heading) override;

  private:
    ui::MessageBoxes& boxes_;
    QWidget* parent_;
};

}  // namespace kelvane
