#include "ui/desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
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

namespace {

// Desktops open a local file by its path, dropping any "#anchor", so a topic
// is a small page of its own that sends the browser on to its heading.
bool WriteTopicPage(const QString& path, const QString& target) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const QByteArray url = target.toHtmlEscaped().toUtf8();
    file.write(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta http-equiv=\"refresh\" content=\"0; url=" +
        url + "\"><title>Kelvane Help</title></head>\n<body><p><a href=\"" + url +
        "\">Kelvane Help</a></p></body></html>\n");
    return file.commit();
}

}  // namespace

void OpenHelp(Desktop& desktop, MessageBoxes& boxes, const Locations& where, int topic) {
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
        const QDir dir(cache);
        const QString page = dir.filePath("Kelvane-help.html");
        QDir().mkpath(cache);
        QFile::remove(page);
        QString open = page;
        bool ready = QFile::copy(help, page);
        if (ready && topic > 0) {
            open = dir.filePath(QString("Kelvane-help-%1.html").arg(topic));
            ready = WriteTopicPage(open, QString("Kelvane-help.html#topic-%1").arg(topic));
        }
        opened = ready && desktop.OpenFile(open);
    }
    if (!opened) boxes.Error(kHelpError);
}

}  // namespace kelvane::ui
