#include "ui/printing.h"

#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <algorithm>

namespace kelvane::ui {

namespace {

PrintDialogFunction& Dialog() {
    static PrintDialogFunction dialog;
    return dialog;
}

}  // namespace

bool RunPrintDialog(QPrinter& printer, QWidget* parent) {
    if (Dialog()) return Dialog()(printer, parent);
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

void SetPrintDialog(PrintDialogFunction dialog) {
    Dialog() = std::move(dialog);
}

void PrintTable(QPrinter& printer, const PrintedTable& table, const QDateTime& when) {
    printer.setPageOrientation(QPageLayout::Portrait);
    QPainter painter;
    if (!painter.begin(&printer)) return;
    const QRect page = painter.viewport();
    const QFontMetrics fm(painter.font());
    const int line = fm.height() * 3 / 2;
    const int pad = fm.averageCharWidth();

    // The columns share the page width in the grid's proportions.
    int total = 0;
    for (int w : table.widths)
        total += std::max(w, 1);
    const int tableWidth = page.width() * 9 / 10;
    std::vector<int> widths;
    for (int w : table.widths)
        widths.push_back(tableWidth * std::max(w, 1) / std::max(total, 1));
    const int left = page.left() + (page.width() - tableWidth) / 2;

    const QLocale locale;
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    const QString time = locale.toString(when.time(), QLocale::ShortFormat);
    const int top = page.top() + 3 * line;
    const int bottom = page.bottom() - 2 * line;
    const int perPage = std::max(1, (bottom - top) / line - 1);

    auto drawRow = [&](const QStringList& cells, int y, bool bold) {
        QFont font = painter.font();
        font.setBold(bold);
        painter.setFont(font);
        int x = left;
        for (std::size_t c = 0; c < widths.size(); ++c) {
            const QRect cell(x + pad, y, widths[c] - 2 * pad, line);
            const bool right = c < table.right.size() && table.right[c];
            const QString text =
                static_cast<qsizetype>(c) < cells.size() ? cells[int(c)] : QString();
            painter.drawText(cell, Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft),
                             fm.elidedText(text, Qt::ElideRight, cell.width()));
            x += widths[c];
        }
    };

    const std::size_t pages = std::max<std::size_t>(1, (table.rows.size() + perPage - 1) / perPage);
    for (std::size_t p = 0; p < pages; ++p) {
        if (p > 0) printer.newPage();
        painter.drawText(QRect(page.left(), page.top(), page.width(), line),
                         Qt::AlignLeft | Qt::AlignVCenter, date);
        painter.drawText(QRect(page.left(), page.top(), page.width(), line),
                         Qt::AlignHCenter | Qt::AlignVCenter, table.title);
        painter.drawText(QRect(page.left(), page.top(), page.width(), line),
                         Qt::AlignRight | Qt::AlignVCenter, time);
        drawRow(table.headings, top, true);
        int y = top + line;
        const std::size_t end = std::min(table.rows.size(), (p + 1) * perPage);
        for (std::size_t r = p * perPage; r < end; ++r, y += line)
            drawRow(table.rows[r], y, false);
        painter.drawText(QRect(page.left(), bottom + line, page.width(), line),
                         Qt::AlignRight | Qt::AlignVCenter,
                         QString("Page %1").arg(static_cast<qulonglong>(p + 1)));
    }
    painter.end();
}

}  // namespace kelvane::ui
