#include "app/gui/startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <iostream>
#include <string>
#include <string_view>

#include "app/gui/optRetrieve.h"
#include "app/gui/rmmain.h"
#include "app/gui/singleinstance.h"
#include "base/error.h"
#include "rules/addtolist.h"
#include "rules/gui/optsmain.h"
#include "rules/gui/ruleeditorforms.h"
#include "settings/gui/general.h"
#include "ui/application.h"
#include "ui/displaytext.h"
#include "ui/pictures.h"

namespace kelvane {

namespace {

void DescribeOptions(QCommandLineParser& parser, const QCommandLineOption& dirOption) {
    parser.setApplicationDescription(
        "Kelvane: the junk-mail filter for POP3 mailboxes.\n"
        "Rule lists, known.lst and Kelvane.ini are read from the program folder:\n"
        "--dir when given, else the folder of this executable when you can write\n"
        "to it, else ${XDG_DATA_HOME:-~/.local/share}/Kelvane. Mailboxes and general\n"
        "settings come from the per-user store shared with kelvane-cli.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(dirOption);
}

// --help and --version print and exit before any window system is needed,
// so they answer on a console and in a package's build as well.
bool OnlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version" ||
            a == "-?")
            return true;
    }
    return false;
}

}  // namespace

int RunKelvane(int argc, char** argv) {
    const QCommandLineOption dirOption("dir", "Program folder holding the rule set.", "DIR");
    if (OnlyPrints(argc, argv)) {
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName("Kelvane");
        QCoreApplication::setApplicationVersion(KELVANE_VERSION);
        QCommandLineParser parser;
        DescribeOptions(parser, dirOption);
        parser.process(core);  // exits
    }

    ui::Application app(argc, argv);
    QApplication::setApplicationName("Kelvane");
    QApplication::setApplicationDisplayName("Kelvane");
    QApplication::setApplicationVersion(KELVANE_VERSION);
    QApplication::setWindowIcon(ui::ApplicationIcon());
    QGuiApplication::setDesktopFileName("org.kelvane.Kelvane");

    QCommandLineParser parser;
    DescribeOptions(parser, dirOption);
    parser.process(app);

    Locations where = Locations::Default();
    if (parser.isSet(dirOption)) {
        const QString dir = parser.value(dirOption);
        if (!QFileInfo(dir).isDir()) {
            std::cerr << "kelvane: --dir: no such folder: " << dir.toStdString() << "\n";
            return 2;
        }
        where.programDir = ui::CoreText(dir);
    }

    SingleInstance instance;
    if (!instance.Acquire()) {
        // Another copy runs: it shows itself, this one checks nothing.
        if (!instance.AskFirstToShow())
            std::cerr << "kelvane: another copy is running but did not answer\n";
        return 0;
    }

    try {
        TfrmMain main(where);
        main.FormCreate();
        TfrmOptionsMain options(where, &main);
        TfrmRetrieving retrieving(&main);
        TfrmGeneral general(where, &main);
        TfrmImportSpam importSpam(&main);
        main.SetDialogs(options, retrieving, general);
        general.AddFirstRunRule = [&options, &where](const MailboxTable& table) {
            AddFirstRunHeaderRule(options.Rules().spam, table, where.programDir);
        };
        instance.Listen([&main] { main.RestoreOrRaise(); });
        return QApplication::exec();
    } catch (const std::exception& e) {
        // A settings store that cannot be read, or the like, at start-up.
        QMessageBox box(QMessageBox::Critical, "Kelvane", ui::DisplayText(e.what()),
                        QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return 1;
    }
}

}  // namespace kelvane
