// A rule grid with 10,000 rules: sorting by a column (which reorders the
// list), inserting a rule at the top, and one repaint of a full viewport.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QTableView>
#include <string>

#include "rules/gui/rulegridmodel.h"

namespace {

constexpr int kRules = 10000;

struct Grid {
    kelvane::RuleList list{kelvane::RuleKind::Subject};
    kelvane::RuleGridModel model{list, kelvane::FactsFor(kelvane::RuleKind::Subject)};
    QTableView view;
    Grid() {
        for (int i = 0; i < kRules; ++i)
            list.AppendRow({"", i % 3 ? "Contains" : "Contains (whole word)",
                            "keyword " + std::to_string(i * 7919 % kRules), "No",
                            i % 2 ? "Yes" : "No", std::to_string(i * 31 % 977)});
        view.setModel(&model);
        view.verticalHeader()->hide();
        view.verticalHeader()->setDefaultSectionSize(view.fontMetrics().height() + 6);
        view.resize(600, 300);
        view.show();
        QApplication::processEvents();
    }
};

void BM_SortByHits(benchmark::State& state) {
    Grid g;
    bool down = false;
    for (auto _ : state) {
        g.model.sort(5, down ? Qt::DescendingOrder : Qt::AscendingOrder);
        down = !down;
        QApplication::processEvents();
    }
}
BENCHMARK(BM_SortByHits)->Unit(benchmark::kMillisecond);

void BM_InsertAtTop(benchmark::State& state) {
    Grid g;
    for (auto _ : state) {
        g.model.InsertRule(0, {"", "Contains", "new", "No", "Yes"});
        QApplication::processEvents();
    }
}
BENCHMARK(BM_InsertAtTop)->Unit(benchmark::kMicrosecond);

void BM_RepaintFullViewport(benchmark::State& state) {
    Grid g;
    g.view.scrollTo(g.model.index(kRules / 2, 2));
    QApplication::processEvents();
    for (auto _ : state)
        g.view.viewport()->repaint();
}
BENCHMARK(BM_RepaintFullViewport)->Unit(benchmark::kMicrosecond);

}  // namespace
