// Shift-JIS -> UTF-8 and UTF-8 -> UTF-16 of a 1 MB mixed Japanese text: our TranscodeString
// against glibc iconv, in the same run. At the end the ratio (iconv time / our time) is printed
// per conversion; above 1 means ours is faster.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "Main/DxChar.h"

namespace {

using ZiDaz::TranscodeString;

constexpr std::size_t kTextBytes = 1u << 20;

// A deterministic mix as a game's texts have it: hiragana, katakana, kanji, full-width and
// half-width forms, ASCII words, digits and line breaks.
struct Texts {
    Texts() {
        std::u32string pieces[] = {
            U"\u3053\u3093\u306B\u3061\u306F",  // hiragana
            U"\u30B2\u30FC\u30E0",              // katakana
            U"\u65E5\u672C\u8A9E\u6F22\u5B57\u4E16\u754C\u52C7\u8005\u9B54\u738B",
            U"\uFF21\uFF22\uFF11\uFF12\u3001\u3002\u300C\u300D",  // full-width forms
            U"\uFF76\uFF9E\uFF70\uFF91",                          // half-width katakana
            U"HP 100/200 ",
            U"Lv.42 ",
            U"\r\n",
            U"Save01.sav ",
        };
        std::uint32_t seed = 12345;
        std::u32string mixed;
        while (true) {
            seed = seed * 1103515245 + 12345;
            const std::u32string& piece = pieces[(seed >> 16) % std::size(pieces)];
            std::string sjisPiece = Convert(piece.c_str(), 32766, 932);
            if (sjis.size() + sjisPiece.size() > kTextBytes) break;
            sjis += sjisPiece;
            mixed += piece;
        }
        utf8 = Convert(mixed.c_str(), 32766, 65001);
    }
    static std::string Convert(const void* text, int from, int to) {
        int size = TranscodeString(text, -1, from, nullptr, 0, to);
        std::string out(size, '\0');
        TranscodeString(text, -1, from, out.data(), size, to);
        out.resize(size - 1);
        return out;
    }
    std::string sjis, utf8;
};

const Texts& TheTexts() {
    static Texts texts;
    return texts;
}

void Ours(benchmark::State& state, const std::string& source, int from, int to) {
    std::vector<char> out(source.size() * 4 + 4);
    for (auto _ : state) {
        int n =
            TranscodeString(source.c_str(), -1, from, out.data(), static_cast<int>(out.size()), to);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * source.size());
}

void Iconv(benchmark::State& state, const std::string& source, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    std::vector<char> out(source.size() * 4 + 4);
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(source.c_str());
        size_t inLeft = source.size() + 1;  // with the terminator, as ours converts it
        char* o = out.data();
        size_t outLeft = out.size();
        size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(state.iterations() * source.size());
}

void SjisToUtf8Ours(benchmark::State& s) {
    Ours(s, TheTexts().sjis, 932, 65001);
}
void SjisToUtf8Iconv(benchmark::State& s) {
    Iconv(s, TheTexts().sjis, "CP932", "UTF-8");
}
void Utf8ToUtf16Ours(benchmark::State& s) {
    Ours(s, TheTexts().utf8, 65001, 1200);
}
void Utf8ToUtf16Iconv(benchmark::State& s) {
    Iconv(s, TheTexts().utf8, "UTF-8", "UTF-16LE");
}

BENCHMARK(SjisToUtf8Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(SjisToUtf8Iconv)->Unit(benchmark::kMicrosecond);
BENCHMARK(Utf8ToUtf16Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(Utf8ToUtf16Iconv)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per iteration to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    TheTexts();  // build the texts (and the Shift-JIS tables) outside the timings
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"SjisToUtf8", "Utf8ToUtf16"}) {
        auto ours = reporter.times.find(std::string(name) + "Ours");
        auto theirs = reporter.times.find(std::string(name) + "Iconv");
        if (ours != reporter.times.end() && theirs != reporter.times.end() && ours->second > 0) {
            std::printf("%s: iconv / ours = %.2f\n", name, theirs->second / ours->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
