// Reading a 200 MB file in 64 KB pieces: plain read() against the stream function table, direct
// and with the read-ahead cache. Compare the bytes_per_second of the three. The same in 4 KB
// pieces (the size decoders read in), where the cache turns many small reads into few big ones.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Main/DxFile.h"
#include "platform/HostPath.h"

namespace {

constexpr std::size_t kFileBytes = 200u << 20;
constexpr std::size_t kChunk = 64u << 10;

struct BenchFile {
    BenchFile() {
        const char* tmp = std::getenv("TMPDIR");
        folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/velk-bench-file-XXXXXX";
        if (!mkdtemp(folder.data())) std::abort();
        path = folder + "/data.bin";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> chunk(kChunk);
        for (std::size_t i = 0; i < kChunk; ++i) chunk[i] = static_cast<char>(i * 131 + 7);
        for (std::size_t done = 0; done < kFileBytes; done += kChunk) {
            if (write(fd, chunk.data(), kChunk) != static_cast<ssize_t>(kChunk)) std::abort();
        }
        close(fd);
        widePath = platform::Utf8ToUtf16(path);
    }
    ~BenchFile() {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
    std::string folder, path;
    std::u16string widePath;
};

BenchFile& File() {
    static BenchFile file;
    return file;
}

void ReadPlain(benchmark::State& state, std::size_t chunk) {
    std::vector<char> buffer(chunk);
    for (auto _ : state) {
        int fd = open(File().path.c_str(), O_RDONLY);
        std::size_t total = 0;
        for (ssize_t got; (got = read(fd, buffer.data(), chunk)) > 0;) total += got;
        close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

void ReadThroughTable(benchmark::State& state, int cache, std::size_t chunk) {
    ZiDaz::InstallStreamFunctions(nullptr);
    std::vector<char> buffer(chunk);
    for (auto _ : state) {
        ZiDaz::StreamValue stream = ZiDaz::StreamOpen(File().widePath.c_str(), cache, 1, 0);
        if (!stream) std::abort();
        std::size_t total = 0;
        for (std::size_t got; (got = ZiDaz::StreamRead(buffer.data(), 1, chunk, stream)) > 0;) {
            total += got;
        }
        ZiDaz::StreamClose(stream);
        if (total != kFileBytes) std::abort();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

void PlainRead(benchmark::State& state) {
    ReadPlain(state, kChunk);
}

void StreamTable(benchmark::State& state) {
    ReadThroughTable(state, static_cast<int>(state.range(0)), kChunk);
}

constexpr std::size_t kSmallChunk = 4u << 10;

void PlainReadSmallPieces(benchmark::State& state) {
    ReadPlain(state, kSmallChunk);
}

void StreamTableSmallPieces(benchmark::State& state) {
    ReadThroughTable(state, static_cast<int>(state.range(0)), kSmallChunk);
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StreamTable)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("cache")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);
BENCHMARK(PlainReadSmallPieces)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StreamTableSmallPieces)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("cache")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    File();  // create before timing, removed at exit
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
