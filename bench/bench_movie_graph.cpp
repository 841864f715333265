// The frame copy of a 640 x 480 movie graph in software mode with a 32-bit screen: each new frame
// of the movie is copied row by row into the graph, against memcpy of the frame's bytes into a
// block of the same size. Compare the two times; the copy should stay within 1.2 times memcpy.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxGraphicsMovie.h"
#include "Main/DxLog.h"
#include "Main/DxMovie.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "tools/movie/MovieWriter.h"

namespace {

using namespace ZiDaz;

HandleValue gGraph = -1;

void BM_MovieGraphFrameCopy(benchmark::State& state) {
    GraphHandleRecord* r = LookUpGraphRecord(gGraph, 0);
    MovieHandleData* m = LookupMovieHandle(r->Image->Movie);
    for (auto _ : state) {
        // The frame is ready and not yet shown: the update copies it.
        m->firstFrameShown = 0;
        UpdateGraphMovieFrame(m, gGraph);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * 640LL * 480 * 4);
}
BENCHMARK(BM_MovieGraphFrameCopy);

void BM_MemcpyFrame(benchmark::State& state) {
    GraphHandleRecord* r = LookUpGraphRecord(gGraph, 0);
    const BASEIMAGE* frame = LookupMovieHandle(r->Image->Movie)->currentFrameImage;
    const std::size_t bytes = static_cast<std::size_t>(frame->Pitch) * frame->Height;
    std::vector<unsigned char> dest(bytes);
    for (auto _ : state) {
        std::memcpy(dest.data(), frame->Pixels, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_MemcpyFrame);

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "velk_bench_movie_graph";
    std::filesystem::create_directories(folder);
    velk::movie::MovieSpec spec;
    spec.width = 640;
    spec.height = 480;
    spec.frames = 4;
    spec.textured = true;
    const velk::movie::Bytes file = velk::movie::WriteTheoraMovie(spec);
    const std::filesystem::path path = folder / "movie.ogv";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    EnableLogOutput(0);
    StoreWindowModeFlag(1);
    SetUseHardwareDrawing(0);
    SetScreenMode(640, 480, 32, 0);
    if (StartLibrary() != 0) {
        std::fprintf(stderr, "the library did not start\n");
        return 1;
    }
    const std::string narrow = path.string();
    const std::u16string wide(narrow.begin(), narrow.end());
    gGraph = LoadGraphFromImageFileWide(wide.c_str(), 1, 0, 0);
    if (gGraph < 0) {
        std::fprintf(stderr, "the movie did not load\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EndLibrary();
    std::filesystem::remove_all(folder);
    return 0;
}
