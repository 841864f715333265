// The library's printf engine against glibc's snprintf on the same mix of fields.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"

namespace {

constexpr const char* kFormat = "id=%d name=%s value=%08.3f mask=%x\n";
constexpr const char* kNames[] = {"alpha", "beta", "gamma", "delta"};
constexpr double kValues[] = {3.14159, -2.5e3, 0.000125, 98765.4321};

void BM_LibraryFormat(benchmark::State& state) {
    char buffer[256];
    int i = 0;
    for (auto _ : state) {
        int n = ZiDaz::FormatCodeString(
            ZiDaz::CharEncoding::Utf8, 0, ZiDaz::CharEncoding::Utf8, ZiDaz::CharEncoding::Utf16Le,
            buffer, sizeof buffer, kFormat, i * 7919, kNames[i & 3], kValues[i & 3], 0xC0FFEEu + i);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
        ++i;
    }
}
BENCHMARK(BM_LibraryFormat);

void BM_GlibcSnprintf(benchmark::State& state) {
    char buffer[256];
    int i = 0;
    for (auto _ : state) {
        int n = std::snprintf(buffer, sizeof buffer, kFormat, i * 7919, kNames[i & 3],
                              kValues[i & 3], 0xC0FFEEu + i);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
        ++i;
    }
}
BENCHMARK(BM_GlibcSnprintf);

}  // namespace

BENCHMARK_MAIN();
