// Reading a 200 MB file in 64 KB pieces: plain read() against the stream function table, direct
// and with the read-ahead cache. Compare the bytes_per_second of the three.
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

void PlainRead(benchmark::State& state) {
    std::vector<char> buffer(kChunk);
    for (auto _ : state) {
        int fd = open(File().path.c_str(), O_RDONLY);
        std::size_t total = 0;
        for (ssize_t got; (got = read(fd, buffer.data(), kChunk)) > 0;) total += got;
        close(fd);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

void StreamTable(benchmark::State& state) {
    int cache = static_cast<int>(state.range(0));
    ZiDaz::InstallStreamFunctions(nullptr);
    std::vector<char> buffer(kChunk);
    for (auto _ : state) {
        ZiDaz::StreamValue stream = ZiDaz::StreamOpen(File().widePath.c_str(), cache, 1, 0);
        if (!stream) std::abort();
        std::size_t total = 0;
        for (std::size_t got; (got = ZiDaz::StreamRead(buffer.data(), 1, kChunk, stream)) > 0;) {
            total += got;
        }
        ZiDaz::StreamClose(stream);
        if (total != kFileBytes) std::abort();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(StreamTable)
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
