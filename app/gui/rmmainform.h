#pragma once

// The controls of the main window and the tray menu, built and laid out;
// no handler lives here (rmmain.cpp connects them).

#include <QString>

class QAbstractItemModel;
class QAction;
class QActionGroup;
class QLabel;
class QMainWindow;
class QMenu;
class QToolButton;
class QTreeView;

namespace kelvane {

namespace ui {
class ElidedLabel;
}

class TfrmMainForm {
  public:
    // The caption carries the mnemonic; the hint (with its shortcut) and the
    // screen reader's name follow it whenever it changes.
    static void SetCaption(QToolButton* button, const QString& caption);
    // The caption without its mnemonic marker.
    static QString PlainCaption(const QToolButton* button);

    QLabel* lblTitle;
    QLabel* Label1;
    QLabel* lblAd;
    QToolButton* btList;
    QToolButton* btOptions;
    QToolButton* btExit;
    QToolButton* btMark;
    QToolButton* btDelete;
    QToolButton* btRemark;
    QToolButton* btResetAll;
    QToolButton* btLaunch;
    QAction* btGeneral;
    QAction* btSpamSetup;
    QAction* btDeleted;
    QAction* btAbout;
    QAction* btHelp;
    QTreeView* ListView1;
    QMenu* PopupMenu1;
    QAction* Why1;
    QAction* AddtoExceptions1;
    QAction* AddtoSPAMlist1;
    QAction* ViewHeaders1;
    QAction* ViewBody1;
    ui::ElidedLabel* pnlHint;
    ui::ElidedLabel* pnlStatus;
    // Which mailbox the list shows.
    ui::ElidedLabel* pnlMailbox;

    // The tray icon's menu, in its order.
    QMenu* popTray;
    QAction* Show1;
    QAction* LaunchEmailprogram1;
    QAction* ShowMainScreen1;
    QMenu* Settings1;
    QAction* Spam1;
    QAction* General1;
    QAction* ViewLogFile1;
    QActionGroup* AutomaticGroup;
    QAction* EnableAutomatic1;
    QAction* DisableAutomatic1;
    QMenu* HelpInfo1;
    QAction* Help1;
    QAction* About1;
    QAction* Exit1;

  protected:
    void SetupForm(QMainWindow* window, QAbstractItemModel* model);
};

}  // namespace kelvane
