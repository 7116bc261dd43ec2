#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "mail/headers.h"
#include "rules/evaluate.h"
#include "rules/knownlist.h"
#include "rules/spamsettings.h"

namespace kelvane {
namespace {

// A large but plausible rule set: every rule is tried because none matches
// the message, which is the most expensive case.
struct Fixture {
    SpamSettings settings;
    KnownSpammerList known;
    TmsHeaders headers;
    MessageRow row;

    Fixture() {
        const char* subjectConds[] = {"Contains", "Contains (whole word)", "Equals", "Starts with",
                                      "Ends with"};
        for (int i = 0; i < 1000; ++i) {
            settings.SubjectRule.AppendRow({"", subjectConds[i % 5],
                                            "spam phrase " + std::to_string(i),
                                            i % 3 == 0 ? "Yes" : "No", "Yes", "0"});
        }
        const char* senderConds[] = {"Contains", "Equals", "Ends with", "All numeric",
                                     "50% numeric"};
        for (int i = 0; i < 300; ++i) {
            settings.SenderRule.AppendRow({"", i % 2 ? "Domain name" : "E-mail address",
                                           senderConds[i % 5],
                                           "spammer" + std::to_string(i) + ".example", "Yes", "0"});
        }
        for (int i = 0; i < 100; ++i) {
            if (i == 50) {
                settings.HeaderRule.AppendRow(
                    {"", "Sender", "does not match Reply-to", "No", "Yes", "0"});
                continue;
            }
            settings.HeaderRule.AppendRow({"", i % 4 == 3 ? "Starts with" : "Contains",
                                           "X-Bulk-Mailer: " + std::to_string(i),
                                           i % 2 ? "Yes" : "No", "Yes", "0"});
        }
        settings.Limits = {true, 10, true, true, 10'000'000, true};
        settings.KnownSpammers = true;

        std::mt19937 rng(7);
        std::string list;
        for (int i = 0; i < 200'000; ++i) {
            const auto n = std::uniform_int_distribution<int>(0, 1 << 30)(rng);
            list += i % 4 ? "user" + std::to_string(n) + "@spam" + std::to_string(i) + ".example"
                          : "spam-domain" + std::to_string(n) + ".example";
            list += "\r\n";
        }
        known.LoadFromText(list);

        std::string text =
            "From: Alice Example <alice@friends.example>\r\n"
            "To: Bob <bob@home.example>\r\n"
            "Reply-To: alice@friends.example\r\n"
            "Subject: Lunch on Thursday at the usual place?\r\n";
        for (int i = 0; text.size() < 40 * 60 || i < 36; ++i) {
            text += "Received: from relay" + std::to_string(i) +
                    ".friends.example (relay.friends.example [192.0.2." + std::to_string(i) +
                    "]) by mx.home.example\r\n";
            if (i == 35) break;
        }
        headers.LoadFromText(text);
        row = {"Lunch on Thursday at the usual place?", "alice@friends.example", "4711", "",
               mmNone};
    }
};

void BM_EvaluateOneMessage(benchmark::State& state) {
    Fixture f;
    MessageEvaluator ev(f.settings, f.known);
    for (auto _ : state) {
        MessageRow row = f.row;
        ev.MarkForDeletion(row, f.headers, 1);
        benchmark::DoNotOptimize(row.mark);
    }
}
BENCHMARK(BM_EvaluateOneMessage)->Unit(benchmark::kMicrosecond);

void BM_EvaluateReasons(benchmark::State& state) {
    Fixture f;
    MessageEvaluator ev(f.settings, f.known);
    std::vector<std::string> reasons;
    for (auto _ : state) {
        MessageRow row = f.row;
        reasons.clear();
        ev.CollectReasons(row, f.headers, 1, reasons);
        benchmark::DoNotOptimize(row.mark);
    }
}
BENCHMARK(BM_EvaluateReasons)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kelvane
