// A 640 x 480, 30 frames a second, 20-second Ogg Theora movie (textured frames written by our
// movie writer, a keyframe every 30 frames): every frame through the library's Theora decoder
// (advanced one by one and converted to a 32-bit XRGB image each time, the decode thread working
// ahead) against libtheora decoding the same packets alone, in the same run. Frames per second
// are reported as items per second; compare the two.
#include <benchmark/benchmark.h>
#include <ogg/ogg.h>
#include <theora/theoradec.h>

#include <cstring>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxUseCLibOgg.h"
#include "tools/movie/MovieWriter.h"

namespace {

using velk::movie::Bytes;

constexpr int kFrames = 600;

const Bytes& MovieFile() {
    static const Bytes file = [] {
        velk::movie::MovieSpec spec;
        spec.width = 640;
        spec.height = 480;
        spec.frames = kFrames;
        spec.keyframeInterval = 30;
        spec.quality = 48;
        spec.textured = true;
        return velk::movie::WriteTheoraMovie(spec);
    }();
    return file;
}

// The file's Theora packets, headers first (three of them), copied out of the Ogg pages.
struct Packet {
    std::vector<unsigned char> bytes;
    ogg_packet packet;
};

const std::vector<Packet>& MoviePackets() {
    static const std::vector<Packet> packets = [] {
        std::vector<Packet> out;
        const Bytes& file = MovieFile();
        ogg_sync_state sync;
        ogg_sync_init(&sync);
        char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
        std::memcpy(buffer, file.data(), file.size());
        ogg_sync_wrote(&sync, static_cast<long>(file.size()));
        ogg_stream_state stream;
        bool started = false;
        ogg_page page;
        while (ogg_sync_pageout(&sync, &page) == 1) {
            if (!started) {
                ogg_stream_init(&stream, ogg_page_serialno(&page));
                started = true;
            }
            ogg_stream_pagein(&stream, &page);
            ogg_packet p;
            while (ogg_stream_packetout(&stream, &p) == 1) {
                Packet copy;
                copy.bytes.assign(p.packet, p.packet + p.bytes);
                copy.packet = p;
                out.push_back(std::move(copy));
            }
        }
        for (Packet& p : out) p.packet.packet = p.bytes.data();
        ogg_stream_clear(&stream);
        ogg_sync_clear(&sync);
        return out;
    }();
    return packets;
}

void BM_LibraryTheoraDecodeToXrgb(benchmark::State& state) {
    static const bool ready = [] {
        ZiDaz::EnableLogOutput(0);
        if (ZiDaz::BaseImageModuleState.Initialised == 0) ZiDaz::InitBaseImageModule();
        return true;
    }();
    (void)ready;
    const Bytes& file = MovieFile();
    std::int64_t frames = 0;
    for (auto _ : state) {
        ZiDaz::MemoryStream* stream = ZiDaz::CreateMemoryStream(file.data(), file.size());
        ZiDaz::TheoraMovieDecoder* decoder = ZiDaz::OpenTheoraDecoder(
            ZiDaz::GetMemoryStreamAccess(), stream, 20, 1, nullptr);
        if (decoder == nullptr) {
            state.SkipWithError("the decoder refused the movie");
            break;
        }
        for (int f = 1; f < kFrames; ++f) {
            ZiDaz::AdvanceTheoraFrames(decoder, 1);
            ZiDaz::ConvertTheoraFrame(decoder, 1, 0, 0, nullptr);
            benchmark::DoNotOptimize(ZiDaz::GetTheoraFrameImage(decoder)->Pixels);
        }
        ZiDaz::CloseTheoraDecoder(decoder);
        ZiDaz::FreeMemoryStream(stream);
        frames += kFrames;
    }
    state.SetItemsProcessed(frames);
}
BENCHMARK(BM_LibraryTheoraDecodeToXrgb)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibtheoraDecodeAlone(benchmark::State& state) {
    const std::vector<Packet>& packets = MoviePackets();
    std::int64_t frames = 0;
    for (auto _ : state) {
        th_info info;
        th_comment comment;
        th_setup_info* setup = nullptr;
        th_info_init(&info);
        th_comment_init(&comment);
        std::size_t i = 0;
        for (; i < packets.size() && i < 3; ++i) {
            ogg_packet p = packets[i].packet;
            th_decode_headerin(&info, &comment, &setup, &p);
        }
        th_dec_ctx* decoder = th_decode_alloc(&info, setup);
        for (; i < packets.size(); ++i) {
            ogg_packet p = packets[i].packet;
            th_decode_packetin(decoder, &p, nullptr);
            th_ycbcr_buffer ycbcr;
            th_decode_ycbcr_out(decoder, ycbcr);
            benchmark::DoNotOptimize(ycbcr[0].data);
            ++frames;
        }
        th_decode_free(decoder);
        th_setup_free(setup);
        th_comment_clear(&comment);
        th_info_clear(&info);
    }
    state.SetItemsProcessed(frames);
}
BENCHMARK(BM_LibtheoraDecodeAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
