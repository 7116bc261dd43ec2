#include "app/gui/rmmainform.h"

#include <QActionGroup>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/checkrun.h"
#include "app/gui/messagemodel.h"
#include "ui/displaytext.h"
#include "ui/elidedlabel.h"
#include "ui/pictures.h"

namespace kelvane {

namespace {

QToolButton* AddButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setIconSize(QSize(32, 32));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    TfrmMainForm::SetCaption(button, caption);
    return button;
}

QAction* AddAction(QMenu* menu, const char* name, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(name);
    return action;
}

}  // namespace

QString TfrmMainForm::PlainCaption(const QToolButton* button) {
    QString text = button->text();
    text.remove('&');
    return text;
}

void TfrmMainForm::SetCaption(QToolButton* button, const QString& caption) {
    button->setText(caption);
    const QString plain = PlainCaption(button);
    const QKeySequence shortcut = QKeySequence::mnemonic(caption);
    button->setToolTip(shortcut.isEmpty()
                           ? plain
                           : plain + " (" + shortcut.toString(QKeySequence::NativeText) + ")");
    button->setAccessibleName(plain);
}

void TfrmMainForm::SetupForm(QMainWindow* window, QAbstractItemModel* model) {
    window->setWindowTitle("Kelvane");
    window->resize(641, 352);

    auto* central = new QWidget(window);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->setSpacing(2);

    auto* rule = new QFrame(central);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    layout->addWidget(rule);

    lblTitle = new QLabel("Kelvane", central);
    lblTitle->setObjectName("lblTitle");
    lblTitle->setTextFormat(Qt::PlainText);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.8);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);
    Label1 = new QLabel("TM", central);
    Label1->setObjectName("Label1");
    QFont small = Label1->font();
    small.setPointSizeF(small.pointSizeF() * 0.7);
    Label1->setFont(small);
    lblAd = new QLabel("Quickly eliminate junk e-mail before it gets to your mailbox", central);
    lblAd->setObjectName("lblAd");
    QFont slogan = lblAd->font();
    slogan.setItalic(true);
    lblAd->setFont(slogan);
    lblAd->setWordWrap(true);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(1);
    titleRow->addWidget(lblTitle, 0, Qt::AlignBottom);
    titleRow->addWidget(Label1, 0, Qt::AlignTop);
    titleRow->addStretch();
    layout->addLayout(titleRow);

    btList = AddButton(central, "btList", "&Check e-mail");
    btOptions = AddButton(central, "btOptions", "&Settings and more");
    btExit = AddButton(central, "btExit", "&Goodbye");
    btMark = AddButton(central, "btMark", "&Mark messages");
    btDelete = AddButton(central, "btDelete", "&Delete marked messages");
    btRemark = AddButton(central, "btRemark", "&Auto-mark messages");
    btResetAll = AddButton(central, "btResetAll", "&Reset all marks");
    btLaunch = AddButton(central, "btLaunch", "&Launch e-mail program");
    btOptions->setIcon(ui::Icon(ui::Picture::Settings));
    btMark->setIcon(ui::OwnIcon(ui::Picture::Mark));
    btMark->setToolTip(btMark->toolTip().chopped(1) + ", Space in the list)");
    btDelete->setIcon(ui::Icon(ui::Picture::Delete));
    btRemark->setIcon(ui::OwnIcon(ui::Picture::Remark));
    btResetAll->setIcon(ui::Icon(ui::Picture::Reset));
    btLaunch->setIcon(ui::Icon(ui::Picture::Launch));

    auto* dropDown = new QMenu(btOptions);
    btGeneral = dropDown->addAction(ui::Icon(ui::Picture::Settings), "&General settings");
    btGeneral->setObjectName("btGeneral");
    btSpamSetup = dropDown->addAction(ui::OwnIcon(ui::Picture::Mark), "S&pam settings");
    btSpamSetup->setObjectName("btSpamSetup");
    btDeleted = dropDown->addAction(ui::Icon(ui::Picture::Delete), "&Deleted messages");
    btDeleted->setObjectName("btDeleted");
    btDeleted->setToolTip("The kept copies of deleted messages, to restore or open");
    btAbout = dropDown->addAction(ui::Icon(ui::Picture::About), "A&bout");
    btAbout->setObjectName("btAbout");
    btHelp = dropDown->addAction(ui::Icon(ui::Picture::Help), "&Help");
    btHelp->setObjectName("btHelp");
    btHelp->setShortcut(QKeySequence::HelpContents);
    window->addAction(btHelp);
    btOptions->setMenu(dropDown);
    btOptions->setPopupMode(QToolButton::InstantPopup);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->setSpacing(2);
    for (QToolButton* b : {btList, btOptions, btExit})
        buttonRow->addWidget(b);
    buttonRow->addSpacing(12);
    buttonRow->addWidget(lblAd, 1);
    for (QToolButton* b : {btMark, btDelete, btRemark, btResetAll, btLaunch}) {
        buttonRow->addWidget(b);
        b->hide();
    }
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    ListView1 = new QTreeView(central);
    ListView1->setObjectName("ListView1");
    ListView1->setAccessibleName("Messages");
    ListView1->setModel(model);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSortingEnabled(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setIconSize(QSize(16, 16));
    QHeaderView* header = ListView1->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    // The subject takes what the others leave; they fit their content,
    // the date as this locale writes a late time of a two-digit day.
    const QFontMetrics fm = ListView1->fontMetrics();
    const int pad = fm.horizontalAdvance("MM") + 16;
    const QString sampleDate = ui::DisplayText(ListDateText("Wed, 29 Dec 2027 23:58:58 +0000"));
    const int widths[] = {0, fm.horizontalAdvance("someone.long@mail.example.com") + pad,
                          fm.horizontalAdvance("9999999") + pad,
                          fm.horizontalAdvance(sampleDate) + pad};
    for (int c = 1; c < MessageListModel::ColumnCount; ++c) {
        header->setSectionResizeMode(c, QHeaderView::Interactive);
        ListView1->setColumnWidth(c, widths[c]);
    }
    header->setSectionResizeMode(MessageListModel::Subject, QHeaderView::Stretch);
    header->setMinimumSectionSize(fm.horizontalAdvance("Size") + 16);
    layout->addWidget(ListView1, 1);

    PopupMenu1 = new QMenu(window);
    PopupMenu1->setObjectName("PopupMenu1");
    Why1 = AddAction(PopupMenu1, "Why1", "&Why was this e-mail marked?");
    PopupMenu1->addSeparator();
    AddtoExceptions1 =
        AddAction(PopupMenu1, "AddtoExceptions1", "Add selected sender(s) to &exceptions list");
    AddtoSPAMlist1 =
        AddAction(PopupMenu1, "AddtoSPAMlist1", "Add selected message(s) to &spam list");
    PopupMenu1->addSeparator();
    ViewHeaders1 = AddAction(PopupMenu1, "ViewHeaders1", "View selected message(s) &headers");
    ViewBody1 = AddAction(PopupMenu1, "ViewBody1", "View &body of one message");

    window->setCentralWidget(central);

    pnlHint = new ui::ElidedLabel("Right click for more options, double click to mark", window);
    pnlHint->setObjectName("pnlHint");
    pnlHint->setMaximumWidth(300);
    pnlStatus =
        new ui::ElidedLabel("Kelvane " KELVANE_VERSION ": ready to check your mailbox", window);
    pnlStatus->setObjectName("pnlStatus");
    pnlMailbox = new ui::ElidedLabel(QString(), window);
    pnlMailbox->setObjectName("pnlMailbox");
    pnlMailbox->setMaximumWidth(260);
    window->statusBar()->addWidget(pnlHint, 1);
    window->statusBar()->addWidget(pnlStatus, 2);
    window->statusBar()->addPermanentWidget(pnlMailbox, 1);
    window->statusBar()->setSizeGripEnabled(true);

    popTray = new QMenu(window);
    popTray->setObjectName("popTray");
    Show1 = AddAction(popTray, "Show1", "Check e-mail for spam");
    LaunchEmailprogram1 = AddAction(popTray, "LaunchEmailprogram1", "Launch e-mail program");
    popTray->addSeparator();
    ShowMainScreen1 = AddAction(popTray, "ShowMainScreen1", "Main screen");
    Settings1 = popTray->addMenu("Settings");
    Settings1->setObjectName("Settings1");
    Spam1 = AddAction(Settings1, "Spam1", "Spam");
    General1 = AddAction(Settings1, "General1", "General");
    ViewLogFile1 = AddAction(Settings1, "ViewLogFile1", "View log file");
    popTray->addSeparator();
    EnableAutomatic1 = AddAction(popTray, "EnableAutomatic1", "Enable automatic check");
    DisableAutomatic1 = AddAction(popTray, "DisableAutomatic1", "Disable automatic check");
    AutomaticGroup = new QActionGroup(popTray);
    AutomaticGroup->setExclusive(true);
    for (QAction* item : {EnableAutomatic1, DisableAutomatic1}) {
        item->setCheckable(true);
        AutomaticGroup->addAction(item);
    }
    popTray->addSeparator();
    HelpInfo1 = popTray->addMenu("Help/Info");
    HelpInfo1->setObjectName("HelpInfo1");
    Help1 = AddAction(HelpInfo1, "Help1", "Help");
    About1 = AddAction(HelpInfo1, "About1", "About");
    popTray->addSeparator();
    Exit1 = AddAction(popTray, "Exit1", "Exit");
}

}  // namespace kelvane
