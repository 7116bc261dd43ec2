#include <benchmark/benchmark.h>

#include <string>

#include "mail/headers.h"

namespace {

// A 200-line header block as a long relay chain produces it: Received fields
// folded over two lines, then the fields the message list reads.
kelvane::TmsHeaders MakeBlock() {
    kelvane::TmsHeaders h;
    for (int i = 0; h.Count() < 194; ++i) {
        h.Add("Received: from relay" + std::to_string(i) + ".example.net (relay [10.0.0." +
              std::to_string(i % 250) + "])");
        h.Add("\tby mx.example.org with ESMTP id " + std::to_string(100000 + i) +
              "; Tue, 5 Jan 2001 10:20:30 +0100");
    }
    h.Add("From: \"=?iso-8859-1?Q?Ren=E9_Dupont?=\" <rene@example.fr>");
    h.Add("To: joe@example.org");
    h.Add("Date: Tue, 5 Jan 2001 10:20:30 +0100");
    h.Add("X-Encoded: =?utf-8?B?SGVsbG8gd29ybGQsIHRoaXMgaXMgYSBsb25nZXIgc3ViamVjdA==?=");
    h.Add("Subject: Cheap offers for you");
    h.Add("Message-ID: <abc@example.fr>");
    return h;
}

void Lookup(benchmark::State& state, const char* name) {
    const kelvane::TmsHeaders block = MakeBlock();
    for (auto _ : state)
        benchmark::DoNotOptimize(kelvane::GetHeaderValue(block, name));
}

void BM_HeaderValueSubjectNearEnd(benchmark::State& state) {
    Lookup(state, "Subject");
}
void BM_HeaderValueMissing(benchmark::State& state) {
    Lookup(state, "X-Not-There");
}
void BM_HeaderValueEncoded(benchmark::State& state) {
    Lookup(state, "X-Encoded");
}
void BM_HeaderValueFirstLine(benchmark::State& state) {
    Lookup(state, "Received");
}

void BM_HeaderRowFields(benchmark::State& state) {
    // What one message-list row reads: subject, sender address and date.
    const kelvane::TmsHeaders block = MakeBlock();
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelvane::GetHeaderValue(block, "Subject"));
        benchmark::DoNotOptimize(kelvane::SplitMailAddress(kelvane::GetHeaderValue(block, "From")));
        benchmark::DoNotOptimize(kelvane::ParseMailDate(kelvane::GetHeaderValue(block, "Date")));
    }
}

}  // namespace

BENCHMARK(BM_HeaderValueSubjectNearEnd);
BENCHMARK(BM_HeaderValueMissing);
BENCHMARK(BM_HeaderValueEncoded);
BENCHMARK(BM_HeaderValueFirstLine);
BENCHMARK(BM_HeaderRowFields);
