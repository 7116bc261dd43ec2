#pragma once

// The pages of the general settings dialog. Each page sets its controls from
// a GeneralSettings value and stores them back; most of that is one table of
// {control name, field} per page, handled by the binder below. Adding an
// option is one control and one row.

#include <QWidget>
#include <optional>
#include <string>
#include <vector>

#include "settings/generalsettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace kelvane {

// Why a page refuses its input: the error box's text and the control that
// takes the focus.
struct PageRefusal {
    std::string message;
    QWidget* focus = nullptr;
};

// One control bound to one member: check boxes and radio buttons to bools
// (inverted for the second of a radio pair), spin boxes and drop-down lists
// to ints, line edits and labels to texts.
struct Binding {
    const char* control;
    GeneralField field;
    bool inverted = false;
};

class GeneralPage : public QWidget {
    Q_OBJECT
  public:
    GeneralPage(const char* name, const QString& title, QWidget* parent);
    const QString& Title() const { return title_; }

    virtual void Load(const GeneralSettings& s);
    virtual std::optional<PageRefusal> Store(GeneralSettings& s) const;

  protected:
    std::vector<Binding> bindings_;

  private:
    QString title_;
};

class ConnectionPage : public GeneralPage {
    Q_OBJECT
  public:
    ConnectionPage(const std::vector<std::string>& dialUpEntries, QWidget* parent);
    QComboBox* RASComboBox;
    QSpinBox* nTimeOut;
    QCheckBox* cbPipelining;
};

class AutomaticPage : public GeneralPage {
    Q_OBJECT
  public:
    explicit AutomaticPage(QWidget* parent);
    void Load(const GeneralSettings& s) override;
    // The panels as the radio pair and cbKill ask.
    void UpdatePanels();

    QRadioButton* rbManual;
    QRadioButton* rbAuto;
    QWidget* pnlManual;
    QCheckBox* cbConfirmation;
    QCheckBox* cbLaunch;
    QCheckBox* cbExit;
    QWidget* pnlAuto;
    QSpinBox* nMinutes;
    QCheckBox* cbKill;
    QCheckBox* cbCheckAll;
    QWidget* pnlSound;
    QCheckBox* cbAlarm;
    QCheckBox* cbRepeat;
    QLineEdit* edAlarm;
    QToolButton* btBrowseAlarm;
    QPushButton* btTest;
};

class StartUpPage : public GeneralPage {
    Q_OBJECT
  public:
    explicit StartUpPage(QWidget* parent);
    QCheckBox* cbSysTray;
    QCheckBox* cbAutostart;
    QCheckBox* cbNotify;
};

class LogfilePage : public GeneralPage {
    Q_OBJECT
  public:
    explicit LogfilePage(QWidget* parent);
    QLineEdit* Edit1;
    QToolButton* btBrowseLog;
    QPushButton* btView;
    QPushButton* btClear;
    QLabel* edCount;
    QPushButton* btReset;
    QCheckBox* cbKeepDeleted;
    QSpinBox* nKeepDays;
    QSpinBox* nKeepMaxKB;
};

class MailProgramPage : public GeneralPage {
    Q_OBJECT
  public:
    explicit MailProgramPage(QWidget* parent);
    QLineEdit* edMail;
    QToolButton* btBrowseMail;
    QPushButton* btLaunchMail;
};

}  // namespace kelvane
