// Decoding a 50 MB LZ-coded archive member (opening its stream decodes it whole) against zlib's
// inflate of the same data, in the same run. Compare the bytes_per_second of the two; both count
// the decoded bytes.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "tools/archive/ArchiveWriter.h"

namespace {

constexpr std::size_t kDataBytes = 50u << 20;

// Game-data-like bytes: words, numbers and small binary records; both coders keep 55 to 75%.
std::vector<std::uint8_t> MakeData() {
    std::mt19937 random(2024);
    static const char* const kWords[] = {"map",   "event", "hero ", "slime",    "\r\n",
                                         "Data/", ".png",  "  ",    "Picture/", "0"};
    std::vector<std::uint8_t> data;
    data.reserve(kDataBytes);
    while (data.size() < kDataBytes) {
        unsigned int kind = random() % 8;
        if (kind < 5) {
            for (const char* p = kWords[random() % 10]; *p; ++p)
                data.push_back(static_cast<std::uint8_t>(*p));
        } else if (kind < 7) {
            std::string number = std::to_string(random() % 100000);
            data.insert(data.end(), number.begin(), number.end());
        } else {
            for (int i = 0; i < 8; ++i) data.push_back(static_cast<std::uint8_t>(random()));
        }
    }
    data.resize(kDataBytes);
    return data;
}

struct Fixture {
    Fixture() : data(MakeData()) {
        ZiDaz::SetNarrowCharCode(ZiDaz::CharEncoding::Utf8);
        velk::archive::Node root;
        root.directory = true;
        velk::archive::Node member;
        member.name = "member.bin";
        member.data = data;
        root.children.push_back(std::move(member));
        velk::archive::WriteOptions options;
        options.compression = velk::archive::Compression::Lz;
        options.keepSmaller = false;
        archive = velk::archive::WriteArchive(root, options);
        ZiDaz::InitArchiveReader(&reader);
        if (ZiDaz::OpenArchiveInMemory(&reader, archive.data(), archive.size(), 0, 0, nullptr,
                                       nullptr) != 0) {
            std::abort();
        }
        uLongf bound = compressBound(static_cast<uLong>(data.size()));
        deflated.resize(bound);
        if (compress2(deflated.data(), &bound, data.data(), static_cast<uLong>(data.size()), 6) !=
            Z_OK) {
            std::abort();
        }
        deflated.resize(bound);
    }
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> archive;
    std::vector<std::uint8_t> deflated;
    ZiDaz::ArchiveReader reader;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void BM_ArchiveLzMember(benchmark::State& state) {
    Fixture& f = Shared();
    ZiDaz::ArchiveFileEntry entry;
    ZiDaz::FindArchiveFileEntry(&f.reader, "member.bin", &entry, nullptr);
    state.counters["stored_MB"] = static_cast<double>(entry.lzSize) / 1e6;
    for (auto _ : state) {
        ZiDaz::ArchiveStream stream;
        if (ZiDaz::OpenArchiveStream(&stream, &f.reader, "member.bin", 0) != 0) std::abort();
        benchmark::DoNotOptimize(stream.decoded);
        ZiDaz::CloseArchiveStream(&stream);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kDataBytes));
}
BENCHMARK(BM_ArchiveLzMember)->Unit(benchmark::kMillisecond);

void BM_ZlibInflate(benchmark::State& state) {
    Fixture& f = Shared();
    state.counters["stored_MB"] = static_cast<double>(f.deflated.size()) / 1e6;
    std::vector<std::uint8_t> out(kDataBytes);
    for (auto _ : state) {
        uLongf size = static_cast<uLongf>(out.size());
        if (uncompress(out.data(), &size, f.deflated.data(),
                       static_cast<uLong>(f.deflated.size())) != Z_OK) {
            std::abort();
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kDataBytes));
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
