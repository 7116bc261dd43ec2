// The message list with 10,000 rows: appending row by row as headers arrive
// (each append followed by a call of the event pump, as the waits of a check
// call it), and one repaint of a full viewport.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QHeaderView>
#include <QTreeView>
#include <string>

#include "app/gui/messagemodel.h"
#include "app/messagelist.h"
#include "ui/eventpump.h"

namespace {

constexpr int kRows = 10000;

kelvane::MessageRow Row(int i) {
    kelvane::MessageRow row;
    row.subject = "Re: the quarterly figures, part " + std::to_string(i) + " caf\xE9";
    row.sender = "someone" + std::to_string(i % 97) + "@example.com";
    row.size = std::to_string(1000 + i);
    row.date = "12/08/26 10:30:00";
    row.mark = static_cast<kelvane::MessageMark>(i % 5 - 1);
    return row;
}

// A report view as the main window sets it up.
struct ListWindow {
    kelvane::MessageList list;
    kelvane::MessageListModel model{list};
    QTreeView view;
    ListWindow() {
        view.setModel(&model);
        view.setRootIsDecorated(false);
        view.setUniformRowHeights(true);
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.resize(641, 352);
        const int widths[] = {220, 200, 60, 130};
        for (int c = 0; c < 4; ++c)
            view.setColumnWidth(c, widths[c]);
        view.show();
        QApplication::processEvents();
    }
};

void BM_AppendRows(benchmark::State& state) {
    ListWindow w;
    for (auto _ : state) {
        w.list.Clear();
        w.model.Refresh();
        for (int i = 0; i < kRows; ++i) {
            w.list.Append(Row(i));
            w.model.Refresh();
            kelvane::ui::PumpEvents();
        }
        QApplication::processEvents();
    }
    state.counters["per_row"] = benchmark::Counter(
        kRows, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AppendRows)->Unit(benchmark::kMillisecond);

void BM_RepaintFullViewport(benchmark::State& state) {
    ListWindow w;
    for (int i = 0; i < kRows; ++i)
        w.list.Append(Row(i));
    w.model.Refresh();
    w.view.scrollTo(w.model.index(kRows / 2, 0));
    QApplication::processEvents();
    for (auto _ : state)
        w.view.viewport()->repaint();
}
BENCHMARK(BM_RepaintFullViewport)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
