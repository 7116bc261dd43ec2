#include "app/gui/startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <iostream>
#include <string>

#include "app/gui/optRetrieve.h"
#include "app/gui/rmmain.h"
#include "app/gui/singleinstance.h"
#include "base/error.h"
#include "rules/addtolist.h"
#include "settings/gui/general.h"
#include "rules/gui/ruleeditorforms.h"
#include "rules/gui/optsmain.h"
#include "ui/application.h"
#include "ui/displaytext.h"

namespace kelvane {

namespace {

void Describe(QCommandLineParser& parser) {
    QCoreApplication::setApplicationName("Kelvane");
    QCoreApplication::setApplicationVersion("0.1");
    parser.setApplicationDescription(
        "Kelvane: the junk-mail filter for POP3 mailboxes.\n"
        "Rule lists, known.lst and Kelvane.ini are read from the program folder:\n"
        "--dir when given, else the folder of this executable when you can write\n"
        "to it, else ${XDG_DATA_HOME:-~/.local/share}/Kelvane. Mailboxes and general\n"
        "settings come from the per-user store shared with kelvane-cli.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption("dir", "Program folder holding the rule set.", "DIR"));
}

}  // namespace

int RunKelvane(int argc, char** argv) {
    // Help and version need no display: help2man and a user over ssh ask
    // for them where none is.
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "--help-all" || arg == "--version" ||
            arg == "-v") {
            QCoreApplication core(argc, argv);
            QCommandLineParser parser;
            Describe(parser);
            parser.process(core);  // prints and exits
        }
    }

    ui::Application app(argc, argv);
    QApplication::setApplicationDisplayName("Kelvane");
    QCommandLineParser parser;
    Describe(parser);
    const QCommandLineOption dirOption("dir");
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
