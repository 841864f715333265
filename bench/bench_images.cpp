// Reading 1024 x 1024 images from memory through ReadImageToBaseImage against stb_image on the
// same bytes: a bottom-up 24-bit BMP, an RLE8 BMP, a run-length TGA and an uncompressed DDS.
// stb_image reads neither run-length BMPs nor DDS, so for those two it reads the same picture as
// an uncompressed 8-bit BMP and as an uncompressed 32-bit TGA (raw copies, its cheapest path).
// Compare the times of each pair; both count the decoded pixel bytes. The library's heap is kept
// warm as in a running game (a small and a large block stay allocated, so both heaps keep their
// regions rather than handing them back to the system after every image, as they do when they
// become empty).
#include <benchmark/benchmark.h>
#include <stb_image.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"
#include "tests/Source/Library/Main/ImageFileBuilders.h"

namespace {

using velk_test::Bytes;
constexpr int kSize = 1024;

// Picture-like indices: horizontal bands of flat colour with some noisy stretches.
Bytes MakeIndices() {
    std::mt19937 random(7);
    Bytes indices(std::size_t(kSize) * kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            std::uint8_t v = static_cast<std::uint8_t>((x / 48 + y / 32) * 13);
            if ((x / 64 + y / 16) % 5 == 0) v = static_cast<std::uint8_t>(random());
            indices[std::size_t(y) * kSize + x] = v;
        }
    }
    return indices;
}

// RLE8 data of stored rows: runs of equal indices, literals between them, an end of line per row.
Bytes Rle8(const Bytes& indices) {
    Bytes out;
    for (int row = 0; row < kSize; ++row) {
        const std::uint8_t* r = &indices[std::size_t(kSize - 1 - row) * kSize];
        int x = 0;
        while (x < kSize) {
            int run = 1;
            while (x + run < kSize && run < 255 && r[x + run] == r[x]) ++run;
            if (run >= 3) {
                out.insert(out.end(), {static_cast<std::uint8_t>(run), r[x]});
                x += run;
                continue;
            }
            int lit = 0;
            while (x + lit < kSize && lit < 255 &&
                   !(x + lit + 2 < kSize && r[x + lit] == r[x + lit + 1] &&
                     r[x + lit] == r[x + lit + 2])) {
                ++lit;
            }
            if (lit < 3) {
                for (int i = 0; i < lit; ++i) out.insert(out.end(), {1, r[x + i]});
            } else {
                out.insert(out.end(), {0, static_cast<std::uint8_t>(lit)});
                out.insert(out.end(), r + x, r + x + lit);
                if (lit & 1) out.push_back(0);
            }
            x += lit;
        }
        out.insert(out.end(), {0, 0});
    }
    out.insert(out.end(), {0, 1});
    return out;
}

struct Files {
    Bytes bmp24, bmpRle8, bmp8, tgaRle, dds, tga32;
    Files() {
        const Bytes indices = MakeIndices();
        auto colour = [](std::uint8_t i, int c) {
            std::uint8_t e[4];
            velk_test::PaletteEntry(i, e);
            return e[c];
        };
        velk_test::BmpSpec s;
        s.width = kSize;
        s.height = kSize;
        s.bitCount = 24;
        for (int row = 0; row < kSize; ++row) {
            for (int x = 0; x < kSize; ++x) {
                std::uint8_t i = indices[std::size_t(kSize - 1 - row) * kSize + x];
                for (int c = 0; c < 3; ++c) s.data.push_back(colour(i, c));
            }
        }
        bmp24 = velk_test::MakeBmp(s);
        s.bitCount = 8;
        s.data.clear();
        for (int row = 0; row < kSize; ++row) {
            const std::uint8_t* r = &indices[std::size_t(kSize - 1 - row) * kSize];
            s.data.insert(s.data.end(), r, r + kSize);
        }
        bmp8 = velk_test::MakeBmp(s);
        s.compression = 1;
        s.data = Rle8(indices);
        bmpRle8 = velk_test::MakeBmp(s);

        velk_test::TgaSpec t;
        t.type = 10;
        t.depth = 24;
        t.width = t.height = kSize;
        t.descriptor = 0x20;
        for (std::uint8_t i : indices) {
            for (int c = 0; c < 3; ++c) t.pixels.push_back(colour(i, c));
        }
        tgaRle = velk_test::MakeTga(t);

        velk_test::DdsSpec d;
        d.width = d.height = kSize;
        d.pfFlags = 0x41;
        d.masks[3] = 0xFF000000;
        for (std::uint8_t i : indices) {
            for (int c = 0; c < 3; ++c) d.data.push_back(colour(i, c));
            d.data.push_back(0xFF);
        }
        dds = velk_test::MakeDds(d);
        t.type = 2;
        t.depth = 32;
        t.pixels = d.data;
        tga32 = velk_test::MakeTga(t);
    }
};

const Files& TheFiles() {
    static const Files files;
    static void* keepLargeHeap = ZiDaz::AllocateTrackedMemory(8 << 20, "bench_images", __LINE__);
    static void* keepSmallHeap = ZiDaz::AllocateTrackedMemory(64, "bench_images", __LINE__);
    benchmark::DoNotOptimize(keepLargeHeap);
    benchmark::DoNotOptimize(keepSmallHeap);
    return files;
}

void ReadOurs(benchmark::State& state, const Bytes& file) {
    for (auto _ : state) {
        ZiDaz::BASEIMAGE image{};
        if (ZiDaz::ReadImageToBaseImage(nullptr, file.data(), file.size(), 1, 0, 0, 0, &image,
                                        nullptr, nullptr) != 0) {
            std::abort();
        }
        benchmark::DoNotOptimize(image.Pixels);
        ZiDaz::FreeTrackedMemory(image.Pixels);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kSize) * kSize * 3);
}

void ReadStb(benchmark::State& state, const Bytes& file) {
    for (auto _ : state) {
        int w, h, n;
        stbi_uc* pixels =
            stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &n, 0);
        if (pixels == nullptr) std::abort();
        benchmark::DoNotOptimize(pixels);
        stbi_image_free(pixels);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kSize) * kSize * 3);
}

void Bmp24Ours(benchmark::State& s) {
    ReadOurs(s, TheFiles().bmp24);
}
void Bmp24Stb(benchmark::State& s) {
    ReadStb(s, TheFiles().bmp24);
}
void BmpRle8Ours(benchmark::State& s) {
    ReadOurs(s, TheFiles().bmpRle8);
}
void Bmp8Stb(benchmark::State& s) {
    ReadStb(s, TheFiles().bmp8);
}
void TgaRleOurs(benchmark::State& s) {
    ReadOurs(s, TheFiles().tgaRle);
}
void TgaRleStb(benchmark::State& s) {
    ReadStb(s, TheFiles().tgaRle);
}
void DdsOurs(benchmark::State& s) {
    ReadOurs(s, TheFiles().dds);
}
void Tga32Stb(benchmark::State& s) {
    ReadStb(s, TheFiles().tga32);
}

BENCHMARK(Bmp24Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(Bmp24Stb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BmpRle8Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(Bmp8Stb)->Unit(benchmark::kMicrosecond);
BENCHMARK(TgaRleOurs)->Unit(benchmark::kMicrosecond);
BENCHMARK(TgaRleStb)->Unit(benchmark::kMicrosecond);
BENCHMARK(DdsOurs)->Unit(benchmark::kMicrosecond);
BENCHMARK(Tga32Stb)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
