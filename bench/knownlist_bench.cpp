#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/text.h"
#include "rules/knownlist.h"
#include "rules/predicates.h"

namespace kelvane {
namespace {

constexpr int kListEntries = 1'000'000;
constexpr int kLookups = 100'000;

// One address or domain of a generated blacklist, in mixed case.
std::string Entry(std::mt19937& rng, int i) {
    const int domain = std::uniform_int_distribution<int>(0, 50'000)(rng);
    std::string d = "Spam-Domain" + std::to_string(domain) + ".com";
    if (i % 4 == 0) return d;
    return "user." + std::to_string(std::uniform_int_distribution<int>(0, 1 << 30)(rng)) + "@" + d;
}

// A known.lst of a million unsorted lines, written once per run.
class GeneratedList {
  public:
    GeneratedList() {
        path_ = (std::filesystem::temp_directory_path() /
                 ("kelvane-bench-known-" + std::to_string(::getpid()) + ".lst"))
                    .string();
        std::mt19937 rng(1);
        std::string text;
        for (int i = 0; i < kListEntries; ++i) {
            lines_.push_back(Entry(rng, i));
            text += lines_.back();
            text += "\r\n";
        }
        if (WriteFileAtomic(path_, text)) std::abort();
    }
    ~GeneratedList() { std::remove(path_.c_str()); }

    const std::string& path() const { return path_; }
    const std::vector<std::string>& lines() const { return lines_; }

  private:
    std::string path_;
    std::vector<std::string> lines_;
};

const GeneratedList& List() {
    static const GeneratedList list;
    return list;
}

void BM_KnownListLoadMillion(benchmark::State& state) {
    const std::string& path = List().path();
    for (auto _ : state) {
        KnownSpammerList list;
        list.LoadUpKnownList(path);
        benchmark::DoNotOptimize(list.Count());
    }
}
BENCHMARK(BM_KnownListLoadMillion)->Unit(benchmark::kMillisecond);

void BM_KnownListLookup100k(benchmark::State& state) {
    KnownSpammerList list;
    list.LoadUpKnownList(List().path());
    // Half listed (some by domain only), half unknown.
    std::mt19937 rng(2);
    std::vector<std::string> senders;
    for (int i = 0; i < kLookups; ++i) {
        const auto& line = List().lines()[static_cast<std::size_t>(i) * 7 % kListEntries];
        if (i % 2 == 0)
            senders.push_back(line.find('@') == std::string::npos ? "x@" + line : line);
        else
            senders.push_back("someone" + std::to_string(i) + "@unlisted" + std::to_string(i) +
                              ".net");
    }
    for (auto _ : state) {
        int found = 0;
        for (const std::string& s : senders)
            found += list.isInKnownList(s).found;
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * kLookups);
}
BENCHMARK(BM_KnownListLookup100k)->Unit(benchmark::kMillisecond);

void BM_KnownListRebuildMillion(benchmark::State& state) {
    std::string text;
    for (const std::string& line : List().lines())
        text += line + "\r\n";
    for (auto _ : state) {
        KnownSpammerList list;
        list.RebuildFromEditorText(text);
        benchmark::DoNotOptimize(list.Count());
    }
}
BENCHMARK(BM_KnownListRebuildMillion)->Unit(benchmark::kMillisecond);

// A typical subject of about 60 bytes against a word that is not in it.
constexpr std::string_view kSubject = "Re: Your account statement for June - please review today!";

void BM_PredicateWholeWordIgnoringCase(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ContainsWholeWord(kSubject, "viagra", false));
}
BENCHMARK(BM_PredicateWholeWordIgnoringCase);

void BM_PredicateWholeWordFolded(benchmark::State& state) {
    const std::string subject = AsciiUpper(kSubject);
    for (auto _ : state)
        benchmark::DoNotOptimize(ContainsWholeWordFolded(subject, "VIAGRA"));
}
BENCHMARK(BM_PredicateWholeWordFolded);

void BM_PredicateContainsIgnoringCase(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(Contains(kSubject, "viagra", false));
}
BENCHMARK(BM_PredicateContainsIgnoringCase);

void BM_PredicateContainsFolded(benchmark::State& state) {
    const std::string subject = AsciiUpper(kSubject);
    for (auto _ : state)
        benchmark::DoNotOptimize(ContainsFolded(subject, "VIAGRA"));
}
BENCHMARK(BM_PredicateContainsFolded);

}  // namespace
}  // namespace kelvane
