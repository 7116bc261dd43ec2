#pragma once

// Printing a table: the print dialog behind one replaceable function, so the
// tests print to a PDF without a window, and one page layout for every grid.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QPrinter;
class QWidget;

namespace kelvane::ui {

// Shows the print dialog over parent; true when the user chose to print.
using PrintDialogFunction = std::function<bool(QPrinter& printer, QWidget* parent)>;
bool RunPrintDialog(QPrinter& printer, QWidget* parent);
// Replaces the dialog (tests); an empty function brings the real one back.
void SetPrintDialog(PrintDialogFunction dialog);

struct PrintedTable {
    QString title;
    QStringList headings;
    std::vector<int> widths;  // relative, one per heading
    std::vector<bool> right;  // right-aligned columns
    std::vector<QStringList> rows;
};

// Portrait, the table centred without borders, its headings repeated on
// every page; the date top left, the title top centre, the time top right
// and "Page N" bottom right.
void PrintTable(QPrinter& printer, const PrintedTable& table, const QDateTime& when);

}  // namespace kelvane::ui
