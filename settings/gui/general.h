#pragma once

// The general settings dialog "General settings": one instance for the whole
// run, a frame over six pages. Its controls are the live general settings;
// OK checks every page first and then writes the general keys and the
// mailbox table as one change, Cancel restores every control from the store.

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/generalsettings.h"
#include "settings/mailclient.h"
#include "settings/secretstore.h"
#include "settings/settingsstore.h"
#include "ui/messageboxes.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace kelvane {

namespace ui {
class Sound;
class Desktop;
}  // namespace ui

class AutomaticPage;
class ConnectionPage;
class GeneralPage;
class LogfilePage;
class MailboxesPage;
class MailProgramPage;
class StartUpPage;
struct PageRefusal;

inline constexpr const char* kOverDeleteWarning =
    "Just a warning that you selected to automatically delete marked messages without "
    "confirmation.  It is possible to OVER delete by using this setting.";
inline constexpr const char* kRestartText =
    "Exit and restart for the Start Up changes to take effect.";

class TfrmGeneral : public QDialog {
    Q_OBJECT
  public:
    // places: where the mail program and its first account are looked for.
    explicit TfrmGeneral(const Locations& where, QWidget* parent = nullptr,
                         DesktopPlaces places = DesktopPlaces::FromEnvironment());
    // Saves the general keys the run changed (the running total's display,
    // the paths filled in on showing).
    ~TfrmGeneral() override;

    // Where boxes, the desktop's services and the alarm go (tests answer them).
    void SetMessageBoxes(ui::MessageBoxes* boxes) { boxes_ = boxes; }
    void SetDesktop(ui::Desktop* desktop) { desktop_ = desktop; }
    void SetSound(ui::Sound* sound) { sound_ = sound; }
    // Where the mailbox passwords bound for the keyring go; without it the
    // desktop's keyring, which may show its own unlock prompt.
    void SetSecretStore(SecretStore* secrets) { secrets_ = secrets; }
    // The main window's launch action for "Launch mail program"; without it
    // the dialog starts the program itself.
    std::function<void()> OnLaunch;
    // Adds the header rule of a new user, the first time the dialog shows.
    std::function<void(const MailboxTable&)> AddFirstRunRule;

    // The live settings: what the controls hold now.
    const GeneralSettings& Settings() const;

    // Sets the general controls from the store.
    void ReadSettings();
    // Writes the general keys whose controls differ from the store's copy.
    void SaveSettings();
    // Sets the mailbox rows from the store.
    void ReadMailboxes();
    const MailboxTable& Table() const { return Settings().table; }
    int DefaultMailbox() const { return Settings().table.defaultMailbox; }
    bool ManualMode() const { return Settings().ManualMode(); }
    int Minutes() const { return Settings().minutes; }
    std::string Mailer() const { return Settings().mailer; }
    // Opens the log file the desktop's way (also the main window's menu item).
    void btViewClick();

    QLabel* lblTitle;
    QTabWidget* pcGeneral;
    MailboxesPage* pgMailboxes;
    ConnectionPage* pgConnection;
    AutomaticPage* pgAutomatic;
    StartUpPage* pgStartUp;
    LogfilePage* pgLogfile;
    MailProgramPage* pgMailProgram;
    // The controls the main window has always asked for.
    QRadioButton* rbManual;
    QRadioButton* rbAuto;
    QCheckBox* cbConfirmation;
    QCheckBox* cbLaunch;
    QCheckBox* cbExit;
    QLabel* edCount;
    QPushButton* btOK;
    QPushButton* btCancel;
    QPushButton* btHelp;

  public Q_SLOTS:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LoadPages(const GeneralSettings& s);
    void btOKClick();
    void btBrowseLogClick();
    void btBrowseMailClick();
    void btBrowseAlarmClick();
    void btClearClick();
    void btResetClick();
    void btTestClick();
    void StopTest();
    void btLaunchMailClick();
    void btHelpClick();
    ui::MessageBoxes& Boxes() { return *boxes_; }
    ui::Desktop& Desktop();
    SecretStore& Secrets();
    void Refuse(GeneralPage* page, const PageRefusal& refusal);

    Locations where_;
    DesktopPlaces places_;
    std::vector<GeneralPage*> pages_;
    mutable GeneralSettings live_;
    GeneralSettings stored_;  // as last read from or written to the store
    bool killShown_ = false;
    bool autostartShown_ = false;  // the desktop's autostart entry on showing
    bool sysTrayShown_ = false;
    bool newUser_ = false;
    ui::QtMessageBoxes ownBoxes_{this};
    ui::MessageBoxes* boxes_ = &ownBoxes_;
    ui::Desktop* desktop_ = nullptr;
    ui::Sound* sound_ = nullptr;
    SecretStore* secrets_ = nullptr;
    std::unique_ptr<SecretStore> ownSecrets_;
};

}  // namespace kelvane
