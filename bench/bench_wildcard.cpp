// Folder searches whose patterns hold many stars, over one file whose name is 255 letters "a":
// "*a*a*a*a*a*b" is the worst case (every split fails). The platform's FindFirstFileW (with the
// folder read and the entry's details) against listing the same folder with opendir/readdir
// alone, and the archive's name pattern on the same name. The match should cost little next to
// the listing.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "platform/HostPath.h"
#include "platform/Kernel32.h"

namespace {

struct BenchFolder {
    BenchFolder() {
        const char* tmp = std::getenv("TMPDIR");
        folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/velk-bench-wildcard-XXXXXX";
        if (!mkdtemp(folder.data())) std::abort();
        path = folder + "/" + std::string(255, 'a');
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) std::abort();
        close(fd);
    }
    ~BenchFolder() {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
    std::string folder, path;
};

BenchFolder& Folder() {
    static BenchFolder folder;
    return folder;
}

void Find(benchmark::State& state, const char* pattern) {
    std::u16string wide = platform::Utf8ToUtf16(Folder().folder + "/" + pattern);
    for (auto _ : state) {
        WIN32_FIND_DATAW data;
        HANDLE search = platform::kernel32::FindFirstFileW(wide.c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) platform::kernel32::FindClose(search);
        benchmark::DoNotOptimize(search);
    }
}

void FindWorstCase(benchmark::State& state) {
    Find(state, "*a*a*a*a*a*b");
}
void FindMatchingStars(benchmark::State& state) {
    Find(state, "*a*a*a*a*a");
}

void ListOnly(benchmark::State& state) {
    for (auto _ : state) {
        DIR* stream = opendir(Folder().folder.c_str());
        int n = 0;
        while (dirent* entry = readdir(stream)) n += entry->d_name[0] != 0;
        closedir(stream);
        benchmark::DoNotOptimize(n);
    }
}

void ArchivePatternWorstCase(benchmark::State& state) {
    const std::string name(255, 'A');
    const char pattern[] = "*A*A*A*A*A*B";
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ZiDaz::MatchArchivePattern(ZiDaz::CharEncoding::Utf8, pattern, name.c_str()));
    }
}

BENCHMARK(FindWorstCase)->Unit(benchmark::kMicrosecond);
BENCHMARK(FindMatchingStars)->Unit(benchmark::kMicrosecond);
BENCHMARK(ListOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(ArchivePatternWorstCase)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
