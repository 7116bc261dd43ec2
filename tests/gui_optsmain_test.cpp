// The spam settings dialog offscreen: each row is a control and an action,
// and what the rule files hold afterwards. The editors answer through a
// scripted seam; their rules are tested in ruleeditors_test.

#include "rules/gui/optsmain.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <filesystem>
#include <functional>

#include "support/guitest.h"
#include "support/testdir.h"
#include "ui/printing.h"

namespace kelvane {
namespace {

using test::ReadFile;
using test::ScriptedBoxes;
using test::TempDir;
using test::WriteFile;

// Every editor answers with a change of its preset, or cancels.
struct ScriptedDialogs : RuleDialogs {
    std::function<std::optional<SubjectEditorState>(SubjectEditorState)> subject;
    std::function<std::optional<ExceptionEditorState>(ExceptionEditorState)> exception;
    std::optional<std::string> import;
    std::optional<SubjectEditorState> EditSubject(const SubjectEditorState& p) override {
        return subject ? subject(p) : std::nullopt;
    }
    std::optional<SenderEditorState> EditSender(const SenderEditorState&) override { return {}; }
    std::optional<HeaderEditorState> EditHeader(const HeaderEditorState&,
                                                const std::vector<HeaderMailboxEntry>&) override {
        return {};
    }
    std::optional<ExceptionEditorState> EditException(const ExceptionEditorState& p) override {
        return exception ? exception(p) : std::nullopt;
    }
    std::optional<std::string> Import(const std::string&) override { return import; }
};

// The rule rows of a list file, "cell|cell;" each, the picture column left out.
std::string Rules(const std::string& path, RuleKind kind) {
    RuleList list(kind);
    list.Load(path);
    std::string out;
    for (std::size_t r = 1; r < list.RowCount(); ++r) {
        for (std::size_t c = kind == RuleKind::Exception ? 0 : 1; c < list.ColumnCount(); ++c)
            out += list.Cell(c, r) + (c + 1 < list.ColumnCount() ? "|" : ";");
    }
    return out;
}

struct Env {
    TempDir prog, home;
    Locations where{prog.path(), home.file("user.ini")};
    ScriptedBoxes boxes;
    ScriptedDialogs dialogs;
};

QPushButton* ButtonOf(RuleGridPage& page, const char* name) {
    return page.findChild<QPushButton*>(name);
}

struct Row {
    const char* name;
    std::vector<std::pair<const char*, std::string>> files;
    std::function<void(TfrmOptionsMain&, Env&)> act;
    const char* file;  // what is read afterwards
    const char* holds;
};

const std::string kTwoRules =
    "6,3\r\n1,1,Contains\r\n2,1,free\r\n3,1,No\r\n4,1,Yes\r\n5,1,12\r\n"
    "1,2,Contains\r\n2,2,win\r\n3,2,No\r\n4,2,No\r\n5,2,3\r\n";

const Row kRows[] = {
    {"InsertIntoEmptyListFillsItsRow",
     {},
     [](TfrmOptionsMain& d, Env& e) {
         e.dialogs.subject = [](SubjectEditorState s) {
             s.text = " free ";
             return s;
         };
         ButtonOf(d.Page(RuleKind::Subject), "btInsert")->click();
         d.accept();
     },
     "subj.lst",
     "Contains|free|No|Yes|0;"},
    {"InsertGoesAtTheSelectedRow",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env& e) {
         e.dialogs.subject = [](SubjectEditorState s) {
             s.text = "cash";
             return s;
         };
         auto& page = d.Page(RuleKind::Subject);
         page.Grid()->setCurrentIndex(page.Model().index(1, 2));
         ButtonOf(page, "btInsert")->click();
         d.accept();
     },
     "subj.lst",
     "Contains|free|No|Yes|12;Contains|cash|No|Yes|0;Contains|win|No|No|3;"},
    {"EditKeepsTheHitCount",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env& e) {
         e.dialogs.subject = [](SubjectEditorState s) {
             EXPECT_EQ(s.text, "free");
             s.text = "FREE";
             s.caseMatters = true;
             return s;
         };
         ButtonOf(d.Page(RuleKind::Subject), "btEdit")->click();
         d.accept();
     },
     "subj.lst",
     "Contains|FREE|Yes|Yes|12;Contains|win|No|No|3;"},
    {"EditOfAnExceptionWithoutWhatRefused",
     {{"except.lst", "5,2\r\n1,1,Equals\r\n2,1,x@y.example\r\n"}},
     [](TfrmOptionsMain& d, Env& e) {
         e.boxes.Expect("error", "Error: nothing selected to edit");
         ButtonOf(d.Page(RuleKind::Exception), "btEdit")->click();
         d.accept();
     },
     "except.lst",
     "|Equals|x@y.example||;"},
    {"CancelledEditorChangesNothing",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env&) {
         ButtonOf(d.Page(RuleKind::Subject), "btEdit")->click();
         d.accept();
     },
     "subj.lst",
     "Contains|free|No|Yes|12;Contains|win|No|No|3;"},
    {"DeleteOfTheLastRuleEmptiesItsRow",
     {{"subj.lst", test::RuleFile(6, {"Contains", "free", "No", "Yes", "1"})}},
     [](TfrmOptionsMain& d, Env&) {
         auto& page = d.Page(RuleKind::Subject);
         page.Grid()->setCurrentIndex(page.Model().index(0, 2));
         ButtonOf(page, "btDelete")->click();
         d.accept();
     },
     "subj.lst",
     "||||;"},
    {"MoveDownAndUpOnTheEdgesDoNothing",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env&) {
         auto& page = d.Page(RuleKind::Subject);
         ButtonOf(page, "btUp")->click();    // row 1: refused
         ButtonOf(page, "btDown")->click();  // now second
         ButtonOf(page, "btDown")->click();  // the last: refused
         d.accept();
     },
     "subj.lst",
     "Contains|win|No|No|3;Contains|free|No|Yes|12;"},
    {"SortByHitsReordersTheFile",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env&) {
         auto* header = d.Page(RuleKind::Subject).Grid()->horizontalHeader();
         header->sectionClicked(5);
         header->sectionClicked(1);  // "What" does not sort
         d.accept();
     },
     "subj.lst",
     "Contains|win|No|No|3;Contains|free|No|Yes|12;"},
    {"TypedCellsOnlyWhereAllowed",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env&) {
         auto& page = d.Page(RuleKind::Subject);
         QTableView* grid = page.Grid();
         auto type = [&](int col, const char* text, Qt::Key key = Qt::Key_Return) {
             // The editor closed last time is deleted only by the event loop.
             QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
             grid->setCurrentIndex(page.Model().index(0, col));
             QTest::keyClick(grid, key);  // Return or F2 opens the cell's editor
             for (QLineEdit* editor : grid->findChildren<QLineEdit*>()) {
                 if (!editor->isVisible()) continue;
                 editor->selectAll();
                 QTest::keyClicks(editor, text);
                 QTest::keyClick(editor, Qt::Key_Return);
             }
             QCoreApplication::processEvents();  // the delegate commits queued
         };
         grid->setFocus();
         type(2, "gratis");
         type(1, "Equals", Qt::Key_F2);  // "What" takes no typing (Return would be OK)
         type(5, "40");
         type(5, "4a");  // a count is digits only
         d.accept();
     },
     "subj.lst",
     "Contains|gratis|No|Yes|40;Contains|win|No|No|3;"},
    {"AdjacentDuplicatesGoOnOk",
     {{"except.lst",
       "5,4\r\n0,1,Subject\r\n1,1,Contains\r\n2,1,a\r\n0,2,Subject\r\n1,2,Contains\r\n2,2,a\r\n"}},
     [](TfrmOptionsMain& d, Env&) { d.accept(); },
     "except.lst",
     "Subject|Contains|a||;||||;"},
    {"ImportThenCancelWritesNothing",
     {{"subj.lst", kTwoRules}},
     [](TfrmOptionsMain& d, Env& e) {
         e.dialogs.import = "cheap\ncheap\n\n";
         ButtonOf(d.Page(RuleKind::Subject), "btImport")->click();
         d.reject();
     },
     "subj.lst",
     "Contains|free|No|Yes|12;Contains|win|No|No|3;"},
    {"ImportedAddressesAreKeptByOk",
     {},
     [](TfrmOptionsMain& d, Env& e) {
         e.dialogs.import = " ann@a.example \r\n\r\nbob@b.example";
         ButtonOf(d.Page(RuleKind::Exception), "btImport")->click();
         d.accept();
     },
     "except.lst",
     "E-mail address|Equals|ann@a.example|No|;E-mail address|Equals|bob@b.example|No|;"},
    {"SizeLimitsAreWritten",
     {},
     [](TfrmOptionsMain& d, Env&) {
         auto* spin = d.findChild<QSpinBox*>("nSmaller");
         EXPECT_FALSE(spin->isEnabled());
         d.findChild<QCheckBox*>("cbSmaller")->setChecked(true);
         EXPECT_TRUE(spin->isEnabled());
         spin->setValue(99);
         d.accept();
     },
     "Kelvane.ini",
     "[Smaller]\nQSmaller=1\nNum=99\n"},
    {"BlacklistSaveKeepsALastLineWithoutBreak",
     {{"known.lst", "old.example\r\n"}},
     [](TfrmOptionsMain& d, Env&) {
         auto* memo = d.findChild<QPlainTextEdit*>("memo1");
         EXPECT_TRUE(memo->isReadOnly());
         for (QPushButton* b : d.findChildren<QPushButton*>("btEdit"))
             if (b->parent() == memo->parent()) b->click();
         memo->setPlainText("zed.example\n12345@num.example\nb@y.example");
         d.findChild<QPushButton*>("btSave")->click();
         EXPECT_TRUE(memo->isReadOnly());
         EXPECT_EQ(d.Rules().known.Count(), 2u);
     },
     "known.lst",
     "b@y.example\r\nzed.example\r\n"},
    {"UnwritableIniIsToldAndTheDialogStays",
     {},
     [](TfrmOptionsMain& d, Env& e) {
         std::filesystem::create_directory(e.prog.file("Kelvane.ini"));
         e.boxes.Expect("error", "Unable to write to " + e.prog.file("Kelvane.ini"));
         d.accept();
         EXPECT_TRUE(d.isVisible());
     },
     "subj.lst",
     "||||;"},
};

class OptionsTable : public testing::TestWithParam<Row> {};

TEST_P(OptionsTable, FileHolds) {
    const Row& row = GetParam();
    Env env;
    for (const auto& [name, text] : row.files)
        WriteFile(env.prog.file(name), text);
    TfrmOptionsMain dialog(env.where, nullptr, &env.boxes, &env.dialogs);
    dialog.show();
    row.act(dialog, env);
    EXPECT_TRUE(env.boxes.Done());
    const std::string path = env.prog.file(row.file);
    if (std::string(row.file).ends_with(".lst") && std::string(row.file) != "known.lst") {
        const RuleKind kind =
            std::string(row.file) == "except.lst" ? RuleKind::Exception : RuleKind::Subject;
        EXPECT_EQ(Rules(path, kind), row.holds);
    } else {
        EXPECT_NE(ReadFile(path).find(row.holds), std::string::npos) << ReadFile(path);
    }
}

INSTANTIATE_TEST_SUITE_P(SpamSettings, OptionsTable, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpamSettings, ModelStaysConsistentThroughEveryChange) {
    RuleList list(RuleKind::Subject);
    RuleGridModel model(list, FactsFor(RuleKind::Subject));
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.InsertRule(0, {"", "Contains", "b", "No", "Yes"});
    model.InsertRule(0, {"", "Contains", "a", "No", "No"});
    model.AppendRule({"", "Equals", "c", "No", "Yes"});
    EXPECT_FALSE(model.setData(model.index(0, 5), "12a"));
    EXPECT_FALSE(model.setData(model.index(0, 5), "-1"));
    EXPECT_FALSE(model.setData(model.index(0, 1), "Equals")) << "What is not typed into";
    EXPECT_TRUE(model.setData(model.index(0, 5), "7"));
    model.sort(5, Qt::DescendingOrder);
    EXPECT_EQ(model.index(0, 2).data().toString(), "a");
    EXPECT_TRUE(model.MoveDown(0));
    EXPECT_FALSE(model.MoveUp(0));
    model.RemoveRule(1);
    model.RemoveDuplicates();
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_TRUE(model.index(0, 2).data(Qt::FontRole).value<QFont>().bold());
    EXPECT_TRUE(model.index(0, 0).data(Qt::DecorationRole).isValid());
}

TEST(SpamSettings, PrintedGridHoldsTitleAndPage) {
    Env env;
    std::string rules = "6,121\r\n";
    for (int r = 1; r <= 120; ++r)
        rules += "1," + std::to_string(r) + ",Contains\r\n2," + std::to_string(r) + ",word" +
                 std::to_string(r) + "\r\n";
    WriteFile(env.prog.file("except.lst"), "5,2\r\n0,1,Subject\r\n1,1,Contains\r\n2,1,hello\r\n");
    WriteFile(env.prog.file("subj.lst"), rules);
    TfrmOptionsMain dialog(env.where, nullptr, &env.boxes, &env.dialogs);
    dialog.show();
    for (auto [kind, title] : {std::pair{RuleKind::Subject, "Kelvane - Subject Line Settings"},
                               std::pair{RuleKind::Exception, "Kelvane - List of Exceptions"}}) {
        const std::string pdf = env.prog.file("grid.pdf");
        ui::SetPrintDialog([&](QPrinter& printer, QWidget*) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(QString::fromStdString(pdf));
            return true;
        });
        ButtonOf(dialog.Page(kind), "btPrint")->click();
        QProcess text;
        text.start("pdftotext", {QString::fromStdString(pdf), "-"});
        ASSERT_TRUE(text.waitForFinished(20000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        EXPECT_TRUE(out.contains(title)) << out.toStdString();
        EXPECT_TRUE(out.contains("Page 1"));
        if (kind == RuleKind::Subject) {
            EXPECT_TRUE(out.contains("word120"));
            EXPECT_TRUE(out.contains("Page 2")) << "120 rules fill more than a page";
        }
    }
    ui::SetPrintDialog({});
}

TEST(SpamSettings, EditorFormRefusesAndKeepsTheFocus) {
    ScriptedBoxes boxes;
    TfrmOptionsSubject form(boxes);
    form.show();
    form.activateWindow();
    auto* text = form.findChild<QComboBox*>("edText");
    text->setEditText("   ");
    boxes.Expect("error", std::string(kSubjectBlankText));
    form.accept();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(text->hasFocus() || QApplication::focusWidget() == nullptr);
    form.findChild<QComboBox*>("cbCondition")->setCurrentIndex(5);  // "Is blank or empty"
    EXPECT_TRUE(text->isHidden());
    form.accept();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(SubjectRow(form.State())[1], "Is blank");
    EXPECT_TRUE(boxes.Done());
}

TEST(SpamSettings, ColumnWidthsComeBack) {
    Env env;
    {
        TfrmOptionsMain dialog(env.where, nullptr, &env.boxes, &env.dialogs);
        dialog.Page(RuleKind::Sender).Grid()->setColumnWidth(3, 321);
    }
    TfrmOptionsMain again(env.where, nullptr, &env.boxes, &env.dialogs);
    EXPECT_EQ(again.Page(RuleKind::Sender).Grid()->columnWidth(3), 321);
}

// Not a check: scripts/screenshots.sh runs it under Xvfb for the README.
TEST(SpamSettings, Screenshots) {
    const char* dir = std::getenv("KELVANE_SCREENSHOT_DIR");
    if (!dir) GTEST_SKIP() << "only for scripts/screenshots.sh";
    Env env;
    WriteFile(env.prog.file("subj.lst"),
              "6,6\r\n1,1,Contains (whole word)\r\n2,1,free\r\n3,1,No\r\n4,1,Yes\r\n5,1,41\r\n"
              "1,2,Contains\r\n2,2,winner\r\n3,2,No\r\n4,2,No\r\n5,2,7\r\n"
              "1,3,Is UPPERCASE\r\n4,3,No\r\n5,3,3\r\n"
              "1,4,Starts with\r\n2,4,$$\r\n3,4,Yes\r\n4,4,Yes\r\n5,4,12\r\n"
              "1,5,Contains\r\n2,5,lottery\r\n3,5,No\r\n4,5,Yes\r\n5,5,0\r\n");
    QApplication::setStyle("Fusion");
    const QPalette light = QApplication::style()->standardPalette();
    const QPalette dark = test::DarkPalette();
    for (auto [palette, name] :
         {std::pair{light, "subject-grid.png"}, std::pair{dark, "subject-grid-dark.png"}}) {
        QApplication::setPalette(palette);
        TfrmOptionsMain dialog(env.where, nullptr, &env.boxes, &env.dialogs);
        dialog.show();
        QTest::qWait(300);
        EXPECT_TRUE(dialog.grab().save(QString(dir) + "/" + name));
    }
}

}  // namespace
}  // namespace kelvane

int main(int argc, char** argv) {
    return kelvane::test::GuiTestMain(argc, argv);
}
