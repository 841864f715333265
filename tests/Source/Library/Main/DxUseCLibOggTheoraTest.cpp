// The Theora movie decoder, over movies written at test time by our movie writer, against
// libtheora's own decode of the same files and ffmpeg's.
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <theora/theoradec.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "GraphTestSupport.h"
#include "Main/DxBaseImage.h"
#include "Main/DxFile.h"
#include "Main/DxGraphics.h"
#include "Main/DxHandle.h"
#include "Main/DxMemory.h"
#include "Main/DxUseCLibOgg.h"
#include "RecordingGraphicsBackend.h"
#include "tools/movie/MovieWriter.h"

namespace ZiDaz {
namespace {

using velk::movie::Bytes;
using velk::movie::Chroma;
using velk::movie::MovieDamage;
using velk::movie::MovieSpec;

// One decoded frame, planes top-down and unpadded.
struct Planes {
    int yWidth = 0, yHeight = 0, cWidth = 0, cHeight = 0;
    bool keyframe = false;
    std::vector<std::uint8_t> y, u, v;
};

// libtheora's own decode of every frame of a file, one entry per data packet.
std::vector<Planes> LibtheoraFrames(const Bytes& file) {
    std::vector<Planes> frames;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::memcpy(buffer, file.data(), file.size());
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    th_info info;
    th_comment comment;
    th_setup_info* setup = nullptr;
    th_info_init(&info);
    th_comment_init(&comment);
    ogg_stream_state stream;
    bool have = false;
    int headers = 0;
    th_dec_ctx* decoder = nullptr;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (ogg_page_bos(&page) && !have) {
            ogg_stream_init(&stream, ogg_page_serialno(&page));
            ogg_stream_pagein(&stream, &page);
            ogg_packet p;
            if (ogg_stream_packetout(&stream, &p) == 1 &&
                th_decode_headerin(&info, &comment, &setup, &p) > 0) {
                have = true;
                headers = 1;
            } else {
                ogg_stream_clear(&stream);
            }
            continue;
        }
        if (!have) continue;
        ogg_stream_pagein(&stream, &page);
        ogg_packet p;
        while (ogg_stream_packetout(&stream, &p) == 1) {
            if (headers < 3) {
                if (th_decode_headerin(&info, &comment, &setup, &p) > 0) ++headers;
                if (headers == 3) decoder = th_decode_alloc(&info, setup);
                continue;
            }
            if (th_packet_isheader(&p)) continue;
            th_decode_packetin(decoder, &p, nullptr);
            th_ycbcr_buffer ycbcr;
            th_decode_ycbcr_out(decoder, ycbcr);
            Planes f;
            f.keyframe = th_packet_iskeyframe(&p) == 1;
            f.yWidth = ycbcr[0].width;
            f.yHeight = ycbcr[0].height;
            f.cWidth = ycbcr[1].width;
            f.cHeight = ycbcr[1].height;
            for (int pl = 0; pl < 3; ++pl) {
                auto& out = pl == 0 ? f.y : pl == 1 ? f.u : f.v;
                for (int r = 0; r < ycbcr[pl].height; ++r) {
                    const unsigned char* row = ycbcr[pl].data + r * ycbcr[pl].stride;
                    out.insert(out.end(), row, row + ycbcr[pl].width);
                }
            }
            frames.push_back(std::move(f));
        }
    }
    if (decoder) th_decode_free(decoder);
    th_setup_free(setup);
    if (have) ogg_stream_clear(&stream);
    th_comment_clear(&comment);
    th_info_clear(&info);
    ogg_sync_clear(&sync);
    return frames;
}

// ffmpeg's decode of a 4:2:0 file: the planes of every frame, one after the other.
std::vector<std::uint8_t> FfmpegFrames(const Bytes& file) {
    const auto folder = std::filesystem::temp_directory_path();
    const std::string stem = "velk-theora-" + std::to_string(::getpid());
    const auto input = folder / (stem + ".ogv");
    const auto output = folder / (stem + ".yuv");
    std::ofstream(input, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    const std::string command = "ffmpeg -nostdin -v error -y -i '" + input.string() +
                                "' -f rawvideo -pix_fmt yuv420p '" + output.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(output, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    std::filesystem::remove(input);
    std::filesystem::remove(output);
    return bytes;
}

// A decoder over a file image held by the test.
class TheoraTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
    }
    void TearDown() override {
        Close();
        if (stream_ != nullptr) FreeMemoryStream(stream_);
        stream_ = nullptr;
    }
    TheoraMovieDecoder* Open(const Bytes& file, int noGraphs = 0) {
        Close();
        if (stream_ != nullptr) FreeMemoryStream(stream_);
        file_ = file;
        stream_ = CreateMemoryStream(file_.data(), file_.size());
        decoder_ = OpenTheoraDecoder(GetMemoryStreamAccess(), stream_, 20, noGraphs, nullptr);
        return decoder_;
    }
    void Close() {
        if (decoder_ != nullptr) CloseTheoraDecoder(decoder_);
        decoder_ = nullptr;
    }
    // The slot holding the current frame, after the RGB image was made of it.
    const TheoraFrameSlot* CurrentSlot() {
        ConvertTheoraFrame(decoder_, 1, 0, 0, nullptr);
        DX_LOCK(&decoder_->lock);
        const TheoraFrameSlot* found = nullptr;
        for (int i = 0; i < decoder_->slotCount; ++i)
            if (decoder_->slots[i].filled && decoder_->slots[i].packet == decoder_->targetPacket)
                found = &decoder_->slots[i];
        DX_UNLOCK(&decoder_->lock);
        return found;
    }
    // The current frame equals the oracle's frame, plane by plane, and the RGB image holds it.
    void ExpectCurrentFrame(const Planes& expected, int frameNumber) {
        const TheoraFrameSlot* slot = CurrentSlot();
        ASSERT_NE(slot, nullptr);
        ASSERT_EQ(slot->yWidth, expected.yWidth);
        ASSERT_EQ(slot->yHeight, expected.yHeight);
        ASSERT_EQ(slot->uvWidth, expected.cWidth);
        ASSERT_EQ(slot->uvHeight, expected.cHeight);
        bool same = true;
        for (int r = 0; r < expected.yHeight && same; ++r)
            same = std::memcmp(slot->yPlane + r * slot->yPitch,
                               expected.y.data() + r * expected.yWidth, expected.yWidth) == 0;
        for (int r = 0; r < expected.cHeight && same; ++r)
            for (int x = 0; x < expected.cWidth && same; ++x)
                same = slot->uvPlane[r * slot->uvPitch + 2 * x] ==
                           expected.u[r * expected.cWidth + x] &&
                       slot->uvPlane[r * slot->uvPitch + 2 * x + 1] ==
                           expected.v[r * expected.cWidth + x];
        EXPECT_TRUE(same) << "planes differ from libtheora's frame " << frameNumber;
        const int modulus = velk::movie::MarkerModulus(expected.cWidth, expected.cHeight);
        EXPECT_EQ(ReadU(slot), frameNumber % modulus);
        EXPECT_EQ(
            velk::movie::ReadFrameMarker(slot->yPlane, slot->yPitch, slot->yWidth, slot->yHeight),
            frameNumber % velk::movie::MarkerModulus(slot->yWidth, slot->yHeight));
        BASEIMAGE expectedRgb;
        ASSERT_EQ(NewBaseImageXrgb8(slot->yWidth, slot->yHeight, &expectedRgb), 0);
        std::vector<std::uint8_t> uv(static_cast<std::size_t>(expected.cWidth) * 2 *
                                     expected.cHeight);
        for (std::size_t i = 0; i < expected.u.size(); ++i) {
            uv[2 * i] = expected.u[i];
            uv[2 * i + 1] = expected.v[i];
        }
        ReferenceConvert(expected.y.data(), expected.yWidth, expected.yHeight, uv.data(),
                         expected.cWidth, expected.cHeight, &expectedRgb);
        const BASEIMAGE* image = GetTheoraFrameImage(decoder_);
        bool rgbSame = true;
        for (int r = 0; r < expectedRgb.Height && rgbSame; ++r)
            rgbSame =
                std::memcmp(
                    static_cast<const std::uint8_t*>(image->Pixels) + r * image->Pitch,
                    static_cast<const std::uint8_t*>(expectedRgb.Pixels) + r * expectedRgb.Pitch,
                    expectedRgb.Width * 4) == 0;
        EXPECT_TRUE(rgbSame) << "RGB image of frame " << frameNumber;
        DisposeBaseImage(&expectedRgb);
    }
    // The U plane's marker read out of the interleaved plane.
    static int ReadU(const TheoraFrameSlot* slot) {
        std::vector<std::uint8_t> u(static_cast<std::size_t>(slot->uvWidth) * slot->uvHeight);
        for (int r = 0; r < slot->uvHeight; ++r)
            for (int x = 0; x < slot->uvWidth; ++x)
                u[r * slot->uvWidth + x] = slot->uvPlane[r * slot->uvPitch + 2 * x];
        return velk::movie::ReadFrameMarker(u.data(), slot->uvWidth, slot->uvWidth, slot->uvHeight);
    }

  public:
    // The conversion written out pixel by pixel: the fixed-point formula for 4:2:0, the floating
    // one for the other layouts, each pixel with the chroma sample that covers it.
    static void ReferenceConvert(const std::uint8_t* y, int yw, int yh, const std::uint8_t* uv,
                                 int cw, int ch, BASEIMAGE* out) {
        const auto clampTable = [](int v) { return v < 0 ? 0 : v > 255 ? 255 : v; };
        for (int r = 0; r < yh; ++r)
            for (int x = 0; x < yw; ++x) {
                const int cy = r * ch / yh, cx = x * cw / yw;
                const int Y = y[r * yw + x], U = uv[cy * cw * 2 + cx * 2],
                          V = uv[cy * cw * 2 + cx * 2 + 1];
                int R, G, B;
                if (cw * 2 == yw && ch * 2 == yh) {
                    const int yt = 19070 * (Y - 16);
                    R = clampTable((yt + 26148 * (V - 128)) >> 14);
                    G = clampTable((yt - 6406 * (U - 128) - 13320 * (V - 128)) >> 14);
                    B = clampTable((yt + 33062 * (U - 128)) >> 14);
                } else {
                    const float l = (Y - 16) * 1.164f;
                    R = clampTable(static_cast<int>(l + 1.596f * (V - 128)));
                    G = clampTable(static_cast<int>(l - 0.391f * (U - 128) - 0.813f * (V - 128)));
                    B = clampTable(static_cast<int>(l + 2.018f * (U - 128)));
                }
                auto* p = static_cast<std::uint8_t*>(out->Pixels) + r * out->Pitch + x * 4;
                p[0] = static_cast<std::uint8_t>(B);
                p[1] = static_cast<std::uint8_t>(G);
                p[2] = static_cast<std::uint8_t>(R);
                p[3] = 255;
            }
    }

  protected:
    Bytes file_;
    MemoryStream* stream_ = nullptr;
    TheoraMovieDecoder* decoder_ = nullptr;
};

MovieSpec Small(Chroma chroma, int keyframe = 4) {
    MovieSpec s;
    s.width = 16;
    s.height = 16;
    s.frames = 10;
    s.chroma = chroma;
    s.keyframeInterval = keyframe;
    return s;
}

MovieSpec Large() {
    MovieSpec s;
    s.width = 320;
    s.height = 240;
    s.frames = 300;
    s.keyframeInterval = 30;
    s.textured = true;
    return s;
}

const Bytes& LargeFile() {
    static const Bytes file = velk::movie::WriteTheoraMovie(Large());
    return file;
}

const std::vector<Planes>& LargeFrames() {
    static const std::vector<Planes> frames = LibtheoraFrames(LargeFile());
    return frames;
}

TEST_F(TheoraTest, OpenIndexesEveryFrameAndKeyframe) {
    MovieSpec spec = Small(Chroma::k420, 4);
    spec.fpsNumerator = 30000;
    spec.fpsDenominator = 1001;
    const Bytes file = velk::movie::WriteTheoraMovie(spec);
    const std::vector<Planes> oracle = LibtheoraFrames(file);
    ASSERT_EQ(oracle.size(), 10u);
    ASSERT_NE(Open(file), nullptr);
    TheoraMovieInfo info;
    EXPECT_EQ(GetTheoraMovieInfo(decoder_, &info), 0);
    EXPECT_EQ(info.frameCount, 10);
    EXPECT_EQ(info.width, 16);
    EXPECT_EQ(info.height, 16);
    EXPECT_DOUBLE_EQ(info.framesPerSecond, 30000.0 / 1001.0);
    EXPECT_EQ(decoder_->packetCount, 10);
    for (int f = 0; f < 10; ++f) {
        EXPECT_EQ(decoder_->frameTable[f], f);
        EXPECT_EQ(decoder_->keyframeFlags[f], oracle[f].keyframe ? 1 : 0) << f;
        if (f % 4 == 0) {
            EXPECT_EQ(decoder_->keyframeFlags[f], 1) << f;
        }
    }
    EXPECT_EQ(decoder_->pageTable[0].offset, 0);
    EXPECT_EQ(GetTheoraCurrentFrame(decoder_), 0);
    EXPECT_EQ(decoder_->rgbReady, 1);
    EXPECT_EQ(GetTheoraFrameSurface(decoder_), nullptr);
    EXPECT_EQ(GetTheoraYGraph(decoder_), -1);
}

TEST_F(TheoraTest, AdvancingShowsEveryFrameOfEachLayoutAndWrapsAround) {
    for (Chroma chroma : {Chroma::k420, Chroma::k422, Chroma::k444}) {
        SCOPED_TRACE(static_cast<int>(chroma));
        const Bytes file = velk::movie::WriteTheoraMovie(Small(chroma));
        const std::vector<Planes> oracle = LibtheoraFrames(file);
        ASSERT_EQ(oracle.size(), 10u);
        ASSERT_NE(Open(file), nullptr);
        for (int step = 0; step < 25; ++step) {
            SCOPED_TRACE(step);
            EXPECT_EQ(GetTheoraCurrentFrame(decoder_), step % 10);
            ExpectCurrentFrame(oracle[step % 10], step % 10);
            AdvanceTheoraFrames(decoder_, 1);
        }
        // A clock that ran on for several loops stays inside the movie.
        AdvanceTheoraFrames(decoder_, 23);
        EXPECT_EQ(GetTheoraCurrentFrame(decoder_), (25 + 23) % 10);
        ExpectCurrentFrame(oracle[(25 + 23) % 10], (25 + 23) % 10);
        AdvanceTheoraFrames(decoder_, 0);
        AdvanceTheoraFrames(decoder_, -3);
        EXPECT_EQ(GetTheoraCurrentFrame(decoder_), (25 + 23) % 10);
    }
}

TEST_F(TheoraTest, AFewSlotsStillReachEveryFrameAcrossTheLoop) {
    const Bytes file = velk::movie::WriteTheoraMovie(Small(Chroma::k420, 3));
    const std::vector<Planes> oracle = LibtheoraFrames(file);
    for (int slots : {1, 2, 3}) {
        SCOPED_TRACE(slots);
        Close();
        if (stream_ != nullptr) FreeMemoryStream(stream_);
        file_ = file;
        stream_ = CreateMemoryStream(file_.data(), file_.size());
        decoder_ = OpenTheoraDecoder(GetMemoryStreamAccess(), stream_, slots, 0, nullptr);
        ASSERT_NE(decoder_, nullptr);
        for (int step = 0; step < 23; ++step) {
            ExpectCurrentFrame(oracle[step % 10], step % 10);
            AdvanceTheoraFrames(decoder_, 1 + step % 2);
            step += step % 2;
        }
        SeekTheoraFrame(decoder_, 8);
        AdvanceTheoraFrames(decoder_, 3);
        ExpectCurrentFrame(oracle[1], 1);
    }
}

TEST_F(TheoraTest, LargeMovieEqualsLibtheoraAndFfmpegByAdvancingSeekingAndLooping) {
    const std::vector<Planes>& oracle = LargeFrames();
    ASSERT_EQ(oracle.size(), 300u);
    const std::vector<std::uint8_t> ffmpeg = FfmpegFrames(LargeFile());
    const std::size_t frameBytes = 320 * 240 * 3 / 2;
    ASSERT_EQ(ffmpeg.size(), frameBytes * 300);
    for (int f = 0; f < 300; ++f) {
        const Planes& p = oracle[f];
        std::vector<std::uint8_t> joined = p.y;
        joined.insert(joined.end(), p.u.begin(), p.u.end());
        joined.insert(joined.end(), p.v.begin(), p.v.end());
        ASSERT_EQ(std::memcmp(joined.data(), ffmpeg.data() + f * frameBytes, frameBytes), 0)
            << "libtheora and ffmpeg differ at frame " << f;
    }
    ASSERT_NE(Open(LargeFile()), nullptr);
    TheoraMovieInfo info;
    GetTheoraMovieInfo(decoder_, &info);
    EXPECT_EQ(info.frameCount, 300);
    // Every frame by advancing, then across the loop.
    for (int step = 0; step < 310; ++step) {
        SCOPED_TRACE(step);
        ExpectCurrentFrame(oracle[step % 300], step % 300);
        if (HasFatalFailure()) return;
        AdvanceTheoraFrames(decoder_, 1);
    }
    // Seeks forward and back, onto keyframes and beside them.
    for (int frame : {299, 0, 150, 29, 30, 31, 61, 5, 298, 120, 119, 299}) {
        SCOPED_TRACE(frame);
        EXPECT_EQ(SeekTheoraFrame(decoder_, frame), 0);
        EXPECT_EQ(GetTheoraCurrentFrame(decoder_), frame);
        ExpectCurrentFrame(oracle[frame], frame);
        AdvanceTheoraFrames(decoder_, 1);
        ExpectCurrentFrame(oracle[(frame + 1) % 300], (frame + 1) % 300);
    }
    // Seeks by time: 30 frames a second.
    for (const auto& [microseconds, frame] : std::vector<std::pair<std::int64_t, int>>{
             {0, 0}, {1000000, 30}, {4999999, 149}, {9966667, 299}, {60000000, 299}, {-5, 0}}) {
        SCOPED_TRACE(microseconds);
        EXPECT_EQ(SeekTheoraTime(decoder_, microseconds), 0);
        EXPECT_EQ(GetTheoraCurrentFrame(decoder_), frame);
        ExpectCurrentFrame(oracle[frame], frame);
    }
    // Seeks out of range are clamped to the movie.
    SeekTheoraFrame(decoder_, 1000);
    EXPECT_EQ(GetTheoraCurrentFrame(decoder_), 299);
    SeekTheoraFrame(decoder_, -7);
    EXPECT_EQ(GetTheoraCurrentFrame(decoder_), 0);
}

TEST_F(TheoraTest, ASeekToTheCurrentPacketDoesNotHoldTheThread) {
    ASSERT_NE(Open(velk::movie::WriteTheoraMovie(Small(Chroma::k420))), nullptr);
    AdvanceTheoraFrames(decoder_, 3);
    ASSERT_NE(CurrentSlot(), nullptr);
    // With the lock held here the decode thread cannot acknowledge a hold: a seek that asked for
    // one would never return.
    DX_LOCK(&decoder_->lock);
    EXPECT_EQ(SeekTheoraFrame(decoder_, 3), 0);
    EXPECT_EQ(decoder_->holdRequest, 0);
    EXPECT_EQ(decoder_->seekRequest, 0);
    EXPECT_EQ(decoder_->rgbReady, 1);
    DX_UNLOCK(&decoder_->lock);
    EXPECT_EQ(ConvertTheoraFrame(decoder_, 1, 0, 0, nullptr), 0);  // nothing left to prepare
}

// A reader that counts what it hands out.
struct CountingStream {
    MemoryStream* memory;
    std::size_t bytesRead = 0;
    int reads = 0;
};

StreamReaderOps CountingOps() {
    StreamReaderOps ops = *GetMemoryStreamAccess();
    ops.Read = [](void* buffer, std::size_t size, std::size_t count, void* stream) {
        auto* s = static_cast<CountingStream*>(stream);
        const std::size_t got = GetMemoryStreamAccess()->Read(buffer, size, count, s->memory);
        s->bytesRead += got * size;
        ++s->reads;
        return got;
    };
    ops.Seek = [](void* stream, std::int64_t offset, int origin) {
        return GetMemoryStreamAccess()->Seek(static_cast<CountingStream*>(stream)->memory, offset,
                                             origin);
    };
    ops.Tell = [](void* stream) {
        return GetMemoryStreamAccess()->Tell(static_cast<CountingStream*>(stream)->memory);
    };
    ops.Eof = [](void* stream) {
        return GetMemoryStreamAccess()->Eof(static_cast<CountingStream*>(stream)->memory);
    };
    return ops;
}

TEST_F(TheoraTest, DataWithoutOggSIsRefusedAfterFourBytes) {
    Bytes file = velk::movie::WriteTheoraMovie(Small(Chroma::k420));
    file[3] = 'T';
    CountingStream counting{CreateMemoryStream(file.data(), file.size())};
    const StreamReaderOps ops = CountingOps();
    EXPECT_EQ(OpenTheoraDecoder(&ops, &counting, 20, 0, nullptr), nullptr);
    EXPECT_EQ(counting.reads, 1);
    EXPECT_EQ(counting.bytesRead, 4u);
    FreeMemoryStream(counting.memory);
}

TEST_F(TheoraTest, AnOggFileWithoutTheoraIsReadToItsEndAndRefused) {
    MovieSpec spec;
    spec.video = false;
    spec.vorbis = true;
    const Bytes file = velk::movie::WriteTheoraMovie(spec);
    CountingStream counting{CreateMemoryStream(file.data(), file.size())};
    const StreamReaderOps ops = CountingOps();
    const int blocksBefore = GetTrackedMemoryCount();
    EXPECT_EQ(OpenTheoraDecoder(&ops, &counting, 20, 0, nullptr), nullptr);
    EXPECT_EQ(counting.bytesRead, file.size() + 4);  // the magic, then the whole file
    EXPECT_EQ(GetTrackedMemoryCount(), blocksBefore);
    FreeMemoryStream(counting.memory);
}

TEST_F(TheoraTest, AVorbisTrackBesideTheVideoIsPassedOver) {
    MovieSpec spec = Small(Chroma::k420);
    spec.width = 32;
    spec.vorbis = true;
    const Bytes file = velk::movie::WriteTheoraMovie(spec);
    const std::vector<Planes> oracle = LibtheoraFrames(file);
    ASSERT_EQ(oracle.size(), 10u);
    ASSERT_NE(Open(file), nullptr);
    for (int f : {0, 7, 2, 9}) {
        SeekTheoraFrame(decoder_, f);
        ExpectCurrentFrame(oracle[f], f);
    }
}

struct RefusedCase {
    const char* name;
    MovieSpec spec;
    MovieDamage damage;
};

TEST_F(TheoraTest, BrokenFilesAreRefusedAndLeaveNothingBehind) {
    MovieSpec headersOnly = Small(Chroma::k420);
    headersOnly.frames = 0;
    MovieDamage none;
    MovieDamage zeroRate;
    zeroRate.zeroFrameRate = true;
    // Theora pages: 0 identification, 1 comment and setup, then data pages.
    MovieDamage farGranule;
    farGranule.theoraGranules = {{2, std::int64_t{1000000} << 6}};
    MovieDamage headersCut;
    headersCut.keepPages = 1;
    MovieDamage cutInHeader;
    cutInHeader.keepBytes = 60;
    const std::vector<RefusedCase> cases = {
        {"headers only", headersOnly, none},
        {"zero frame rate", Small(Chroma::k420), zeroRate},
        {"granule far ahead", Small(Chroma::k420, 64), farGranule},
        {"setup header cut off", Small(Chroma::k420), headersCut},
        {"cut inside the first page", Small(Chroma::k420), cutInHeader},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes file =
            velk::movie::DamageMovie(velk::movie::WriteTheoraMovie(c.spec), c.damage);
        MemoryStream* stream = CreateMemoryStream(file.data(), file.size());
        const int blocksBefore = GetTrackedMemoryCount();
        const std::int64_t bytesBefore = GetTrackedMemorySize();
        EXPECT_EQ(OpenTheoraDecoder(GetMemoryStreamAccess(), stream, 20, 0, nullptr), nullptr);
        EXPECT_EQ(GetTrackedMemoryCount(), blocksBefore);
        EXPECT_EQ(GetTrackedMemorySize(), bytesBefore);
        FreeMemoryStream(stream);
    }
}

TEST_F(TheoraTest, ACutFileShowsTheFramesItStillHolds) {
    const Bytes& whole = LargeFile();
    const auto pages = velk::movie::ListOggPages(whole);
    for (std::size_t keep : {pages.size() / 2, pages.size() - 1}) {
        SCOPED_TRACE(keep);
        MovieDamage cut;
        cut.keepPages = static_cast<int>(keep);
        cut.keepBytes = static_cast<std::int64_t>(pages[keep].offset) + 40;  // and a piece more
        const Bytes file = velk::movie::DamageMovie(whole, cut);
        const std::vector<Planes> oracle = LibtheoraFrames(file);
        ASSERT_NE(Open(file), nullptr);
        TheoraMovieInfo info;
        GetTheoraMovieInfo(decoder_, &info);
        EXPECT_EQ(info.frameCount, static_cast<int>(oracle.size()));
        EXPECT_LT(info.frameCount, 300);
        const int last = info.frameCount - 1;
        for (int f : {last, 0, last / 2}) {
            SeekTheoraFrame(decoder_, f);
            ExpectCurrentFrame(oracle[f], f);
        }
        SeekTheoraFrame(decoder_, last);
        AdvanceTheoraFrames(decoder_, 1);
        ExpectCurrentFrame(oracle[0], 0);
    }
}

TEST_F(TheoraTest, OddGranulePositionsKeepTheIndexInsideTheData) {
    // A granule behind the packets makes no frames; one a little ahead (within one keyframe
    // interval) leaves frames that show the next packet.
    MovieDamage behind;
    behind.theoraGranules = {{3, 0}};
    MovieDamage ahead;
    ahead.theoraGranules = {{2, (std::int64_t{0} << 6) + 40}};
    for (const MovieDamage& damage : {behind, ahead}) {
        const Bytes file = velk::movie::DamageMovie(
            velk::movie::WriteTheoraMovie(Small(Chroma::k420, 64)), damage);
        if (Open(file) == nullptr) continue;  // the pages may also be refused as damaged
        TheoraMovieInfo info;
        GetTheoraMovieInfo(decoder_, &info);
        EXPECT_GT(info.frameCount, 0);
        for (int f = 0; f < info.frameCount; ++f) {
            EXPECT_GE(decoder_->frameTable[f], 0);
            EXPECT_LT(decoder_->frameTable[f], decoder_->packetCount);
        }
        for (int f = 0; f < info.frameCount + 3; ++f) {
            EXPECT_EQ(ConvertTheoraFrame(decoder_, 1, 0, 0, nullptr) >= 0, true);
            AdvanceTheoraFrames(decoder_, 1);
        }
    }
}

TEST(TheoraConvertTest, FixedPointValuesAtTheEdgesOfTheLumaRange) {
    if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
    struct Case {
        int y, u, v;
        int r, g, b;
    };
    const std::vector<Case> cases = {
        {16, 128, 128, 0, 0, 0},        {235, 128, 128, 254, 254, 254},
        {236, 128, 128, 255, 255, 255}, {255, 128, 128, 255, 255, 255},
        {0, 128, 128, 0, 0, 0},         {81, 90, 240, 255, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.y);
        const std::uint8_t y[4] = {static_cast<std::uint8_t>(c.y), static_cast<std::uint8_t>(c.y),
                                   static_cast<std::uint8_t>(c.y), static_cast<std::uint8_t>(c.y)};
        const std::uint8_t uv[2] = {static_cast<std::uint8_t>(c.u), static_cast<std::uint8_t>(c.v)};
        BASEIMAGE out;
        ASSERT_EQ(NewBaseImageXrgb8(2, 2, &out), 0);
        EXPECT_EQ(ConvertYuvPlanesToXrgb(y, 2, 2, 2, uv, 1, 1, 2, &out), 0);
        BASEIMAGE reference;
        ASSERT_EQ(NewBaseImageXrgb8(2, 2, &reference), 0);
        TheoraTest::ReferenceConvert(y, 2, 2, uv, 1, 1, &reference);
        for (int i = 0; i < 4; ++i) {
            const auto* p =
                static_cast<const std::uint8_t*>(out.Pixels) + (i / 2) * out.Pitch + (i % 2) * 4;
            if (c.y == 16 || c.y >= 235) {
                EXPECT_EQ(p[2], c.r);
                EXPECT_EQ(p[1], c.g);
                EXPECT_EQ(p[0], c.b);
            }
            EXPECT_EQ(p[3], 255);
            EXPECT_EQ(std::memcmp(p,
                                  static_cast<const std::uint8_t*>(reference.Pixels) +
                                      (i / 2) * reference.Pitch + (i % 2) * 4,
                                  4),
                      0);
        }
        DisposeBaseImage(&out);
        DisposeBaseImage(&reference);
    }
}

// Graph operations standing in for the graph module: handles of a spare type, and transfers
// handed to the back end's texture transfer as the graph module does, with the planes kept.
constexpr int kTestGraphType = 21;
struct PlaneTransfer {
    HandleValue graph;
    int width, height, pitch, channels;
    std::vector<std::uint8_t> bytes;
};
std::vector<PlaneTransfer> transfers;
std::map<HandleValue, std::pair<int, int>> createdGraphs;

HandleValue CreateTestPlaneGraph(int width, int height, int channels, void*) {
    const HandleValue h = AllocateHandle(kTestGraphType, 0, -1);
    createdGraphs[h] = {width * 10 + channels, height};
    return h;
}

int TransferTestPlane(HandleValue graph, const BASEIMAGE* plane, void* context) {
    PlaneTransfer t{graph, plane->Width, plane->Height, plane->Pitch, plane->Format.ChannelCount,
                    {}};
    const auto* p = static_cast<const std::uint8_t*>(plane->Pixels);
    t.bytes.assign(p, p + plane->Pitch * plane->Height);
    transfers.push_back(std::move(t));
    RECT rect{0, 0, plane->Width, plane->Height};
    return Backend_TransferImageToTexture(&rect, 0, 0, graph, plane, nullptr, 0, 0, 1, context);
}

const TheoraGraphOps kTestGraphOps = {&CreateTestPlaneGraph, &TransferTestPlane};

class TheoraGraphTest : public TheoraTest {
  protected:
    void SetUp() override {
        testing::RecordingBackend::Instance().Install();
        testing::RecordingBackend::Instance().calls.clear();
        testing::RecordingBackend::Instance().shaderModel = 300;
        GraphicsBackendKind = 1;
        RegisterHandleType(kTestGraphType, sizeof(HandleHeader), 64, nullptr, nullptr, nullptr,
                           u"TheoraTestGraph");
        SetTheoraGraphOps(&kTestGraphOps);
        transfers.clear();
        createdGraphs.clear();
    }
    void TearDown() override {
        TheoraTest::TearDown();
        SetTheoraGraphOps(nullptr);
        UnregisterHandleType(kTestGraphType);
        GraphicsBackendKind = 0;
        testing::RecordingBackend::Instance().shaderModel = 0;
        testing::RecordingBackend::Instance().Remove();
    }
};

TEST_F(TheoraGraphTest, YAndUvGraphsCarryThePlanesAboveShaderModelTwo) {
    MovieSpec spec = Small(Chroma::k420);
    spec.width = 32;
    const Bytes file = velk::movie::WriteTheoraMovie(spec);
    const std::vector<Planes> oracle = LibtheoraFrames(file);
    ASSERT_NE(Open(file), nullptr);
    const HandleValue y = GetTheoraYGraph(decoder_);
    const HandleValue uv = GetTheoraUvGraph(decoder_);
    ASSERT_GE(y, 0);
    ASSERT_GE(uv, 0);
    EXPECT_EQ(decoder_->graphsReady, 1);
    EXPECT_EQ(createdGraphs[y], std::make_pair(32 * 10 + 1, 16));
    EXPECT_EQ(createdGraphs[uv], std::make_pair(16 * 10 + 2, 8));
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].channels, 1);
    EXPECT_EQ(transfers[1].channels, 2);
    for (int r = 0; r < 16; ++r)
        EXPECT_EQ(std::memcmp(transfers[0].bytes.data() + r * transfers[0].pitch,
                              oracle[0].y.data() + r * 32, 32),
                  0);
    EXPECT_EQ(transfers[1].bytes[0], oracle[0].u[0]);
    EXPECT_EQ(transfers[1].bytes[1], oracle[0].v[0]);
    EXPECT_EQ(testing::RecordingBackend::Instance().Named("TransferImageToTexture").size(), 2u);
    // The next frame goes into the same graphs.
    AdvanceTheoraFrames(decoder_, 1);
    EXPECT_EQ(ConvertTheoraFrame(decoder_, 0, 1, 0, nullptr), 1);
    EXPECT_EQ(GetTheoraYGraph(decoder_), y);
    EXPECT_EQ(transfers.size(), 4u);
    EXPECT_EQ(velk::movie::ReadFrameMarker(transfers[2].bytes.data(), transfers[2].pitch, 32, 16),
              1);
    // A graph deleted behind the decoder's back reads -1 and is made again.
    DeleteHandle(y);
    EXPECT_EQ(GetTheoraYGraph(decoder_), -1);
    AdvanceTheoraFrames(decoder_, 1);
    EXPECT_EQ(ConvertTheoraFrame(decoder_, 0, 1, 0, nullptr), 1);
    EXPECT_GE(GetTheoraYGraph(decoder_), 0);
    EXPECT_EQ(GetTheoraUvGraph(decoder_), uv);
    Close();
    EXPECT_EQ(HandleTypeTable[kTestGraphType].count, 0);
}

TEST_F(TheoraGraphTest, OnlyTheRgbImageWithoutShaderModelTwoOrWithTheOption) {
    const Bytes file = velk::movie::WriteTheoraMovie(Small(Chroma::k420));
    for (const auto& [shaderModel, noGraphs] :
         std::vector<std::pair<int, int>>{{199, 0}, {300, 1}}) {
        testing::RecordingBackend::Instance().shaderModel = shaderModel;
        ASSERT_NE(Open(file, noGraphs), nullptr);
        EXPECT_EQ(GetTheoraYGraph(decoder_), -1);
        EXPECT_EQ(GetTheoraUvGraph(decoder_), -1);
        EXPECT_EQ(decoder_->rgbReady, 1);
        AdvanceTheoraFrames(decoder_, 1);
        ConvertTheoraFrame(decoder_, 1, 1, 1, nullptr);
        EXPECT_TRUE(transfers.empty());
        EXPECT_EQ(decoder_->rgbReady, 1);
    }
}

// Without a test stand-in the decoder makes its planes into real graphs of the graph module.
class TheoraModuleGraphTest : public velk_graph_test::GraphFixture {};

TEST_F(TheoraModuleGraphTest, PlanesGoIntoGraphsOfTheGraphModuleOnADevice) {
    if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
    StartDevice(4096, false);
    testing::RecordingBackend::Instance().shaderModel = 300;
    MovieSpec spec = Small(Chroma::k420);
    spec.width = 32;
    const Bytes file = velk::movie::WriteTheoraMovie(spec);
    MemoryStream* stream = CreateMemoryStream(file.data(), file.size());
    TheoraMovieDecoder* decoder =
        OpenTheoraDecoder(GetMemoryStreamAccess(), stream, 20, 0, nullptr);
    ASSERT_NE(decoder, nullptr);
    const HandleValue y = GetTheoraYGraph(decoder);
    const HandleValue uv = GetTheoraUvGraph(decoder);
    int w = 0;
    int h = 0;
    ASSERT_EQ(GetGraphSize(y, &w, &h), 0);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(32, 16));
    ASSERT_EQ(GetGraphSize(uv, &w, &h), 0);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(16, 8));
    EXPECT_EQ(decoder->graphsReady, 1);
    EXPECT_GE(testing::RecordingBackend::Instance().Named("TransferImageToTexture").size(), 2u);
    CloseTheoraDecoder(decoder);
    FreeMemoryStream(stream);
    EXPECT_EQ(LookUpGraphRecord(y, 1), nullptr);
    EXPECT_EQ(LookUpGraphRecord(uv, 1), nullptr);
}

TEST_F(TheoraTest, ClosingWhileTheThreadDecodesAheadIsClean) {
    MemoryStream* stream = CreateMemoryStream(LargeFile().data(), LargeFile().size());
    const int blocksBefore = GetTrackedMemoryCount();
    for (int round = 0; round < 5; ++round) {
        MemoryStreamSeek(stream, 0, SEEK_SET);  // the open reads the magic where the stream is
        TheoraMovieDecoder* d = OpenTheoraDecoder(GetMemoryStreamAccess(), stream, 20, 0, nullptr);
        ASSERT_NE(d, nullptr);
        AdvanceTheoraFrames(d, round * 7);
        if (round % 2) SeekTheoraFrame(d, 200 - round);
        CloseTheoraDecoder(d);
    }
    EXPECT_EQ(GetTrackedMemoryCount(), blocksBefore);
    FreeMemoryStream(stream);
}

}  // namespace
}  // namespace ZiDaz
