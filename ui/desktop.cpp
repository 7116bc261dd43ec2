#include "ui/desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

#include "base/text.h"
#include "settings/mailclient.h"
#include "ui/displaytext.h"
#include "ui/messageboxes.h"

namespace kelvane::ui {

bool QtDesktop::OpenFile(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool QtDesktop::StartProgram(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    QStringList args;
    for (std::size_t i = 1; i < argv.size(); ++i)
        args << DisplayText(argv[i]);
    return QProcess::startDetached(DisplayText(argv[0]), args);
}

Desktop& SystemDesktop() {
    static QtDesktop desktop;
    return desktop;
}

bool LaunchMailProgram(Desktop& desktop, MessageBoxes& boxes, const std::string& mailer) {
    if (TrimView(mailer).empty()) {
        boxes.Error(kNoMailerText);
        return false;
    }
    if (!desktop.StartProgram(MailProgramArguments(mailer))) {
        boxes.Error(kLaunchFailedText);
        return false;
    }
    return true;
}

void OpenHelp(Desktop& desktop, MessageBoxes& boxes, const Locations& where) {
    // The program folder, the installed data folder, then the executable's
    // (a build tree run with --dir).
    QString help = DisplayText(where.DataFile("Kelvane.hlp"));
    if (!QFileInfo::exists(help))
        help = QDir(QCoreApplication::applicationDirPath()).filePath("Kelvane.hlp");
    // The help is an HTML page; desktops know it by its extension, so it is
    // opened through a copy named .html.
    bool opened = false;
    if (QFileInfo::exists(help)) {
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        const QString page = QDir(cache).filePath("Kelvane-help.html");
        QDir().mkpath(cache);
        QFile::remove(page);
        opened = QFile::copy(help, page) && desktop.OpenFile(page);
    }
    if (!opened) boxes.Error(kHelpError);
}

}  // namespace kelvane::ui
