// Message lookups: each is a hash look-up of the exact key, plus (for UTF-8) a copy into the
// result ring. Run 10 million look-ups over all keys; the report gives the time per look-up.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "runtime/dictionary/MessageDictionary.h"

namespace {

constexpr benchmark::IterationCount kLookups = 10'000'000;

std::vector<std::u16string> AllKeys() {
    std::vector<std::u16string> keys;
    for (const MessageTableRow& row : MessageTable) keys.emplace_back(row.key);
    return keys;
}

template <typename Lookup>
void RunLookups(benchmark::State& state, Lookup lookup) {
    UiLanguage = static_cast<std::int32_t>(state.range(0));
    const std::vector<std::u16string> keys = AllKeys();
    std::size_t i = 0;
    for (auto _ : state) {
        // The key is handed over by value, as callers do with a literal.
        benchmark::DoNotOptimize(lookup(keys[i]));
        if (++i == keys.size()) i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    UiLanguage = 1;
}

void BM_TranslateMessageUtf8(benchmark::State& state) {
    RunLookups(state, [](const std::u16string& key) { return TranslateMessageUtf8(key); });
}
void BM_TranslateMessageWide(benchmark::State& state) {
    RunLookups(state, [](const std::u16string& key) { return TranslateMessageWide(key); });
}
void BM_TranslateMessageMiss(benchmark::State& state) {
    UiLanguage = static_cast<std::int32_t>(state.range(0));
    const std::u16string key = u"存在しないメッセージ";
    for (auto _ : state) benchmark::DoNotOptimize(TranslateMessageUtf8(key));
    state.SetItemsProcessed(state.iterations());
    UiLanguage = 1;
}

BENCHMARK(BM_TranslateMessageUtf8)->Arg(0)->Arg(1)->Iterations(kLookups);
BENCHMARK(BM_TranslateMessageWide)->Arg(0)->Arg(1)->Iterations(kLookups);
BENCHMARK(BM_TranslateMessageMiss)->Arg(1)->Iterations(kLookups);

}  // namespace

BENCHMARK_MAIN();
