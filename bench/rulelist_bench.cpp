#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/fileio.h"
#include "rules/spamsettings.h"

namespace kelvane {
namespace {

constexpr std::size_t kRows = 10'000;

// A subject list of kRows imported keyword rules with hit counts.
RuleList MakeList() {
    RuleList list(RuleKind::Subject);
    list.ApplyDefaultHeadings();
    for (std::size_t i = 0; i < kRows; ++i)
        list.AppendRow({"", "Contains (whole word)", "keyword number " + std::to_string(i), "No",
                        i % 3 ? "Yes" : "No", std::to_string(i * 7)});
    list.AppendRow({});
    return list;
}

class ScratchDir {
  public:
    ScratchDir() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kelvane-bench-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string File(const char* name) const { return JoinPath(path_, name); }

  private:
    std::string path_;
};

void BM_RuleListParse10k(benchmark::State& state) {
    const std::string text = MakeList().Serialize();
    for (auto _ : state) {
        RuleList list = RuleList::Parse(RuleKind::Subject, text, "subj.lst");
        benchmark::DoNotOptimize(list.RowCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_RuleListParse10k)->Unit(benchmark::kMillisecond);

void BM_RuleListSerialize10k(benchmark::State& state) {
    const RuleList list = MakeList();
    for (auto _ : state) {
        std::string text = list.Serialize();
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_RuleListSerialize10k)->Unit(benchmark::kMillisecond);

void BM_RuleListLoad10k(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.File("subj.lst");
    MakeList().Save(path);
    RuleList list(RuleKind::Subject);
    for (auto _ : state) {
        list.Load(path);
        benchmark::DoNotOptimize(list.RowCount());
    }
}
BENCHMARK(BM_RuleListLoad10k)->Unit(benchmark::kMillisecond);

// Includes the flush to disk that makes the replacement safe.
void BM_RuleListSave10k(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.File("subj.lst");
    RuleList list = MakeList();
    for (auto _ : state)
        list.Save(path);
}
BENCHMARK(BM_RuleListSave10k)->Unit(benchmark::kMillisecond);

// What the dialog's OK does to every list before saving.
void BM_RuleListRemoveDuplicates10k(benchmark::State& state) {
    const RuleList base = MakeList();
    for (auto _ : state) {
        state.PauseTiming();
        RuleList list = base;
        state.ResumeTiming();
        benchmark::DoNotOptimize(list.RemoveAdjacentDuplicates());
    }
}
BENCHMARK(BM_RuleListRemoveDuplicates10k)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvane
