// Movie handles and movie graphs: Ogg Theora movies written at test time by our movie writer,
// loaded through the graph loader, with the library's microsecond clock driven by the test. The
// pixels a drawn graph shows are compared with a separate decoder's frame of the number the clock
// asks for.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "GraphTestSupport.h"
#include "Main/DuZuder.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsMovie.h"
#include "Main/DxMovie.h"
#include "Main/DxUseCLibOgg.h"
#include "Main/Windows/DxClock.h"
#include "tools/movie/MovieWriter.h"

namespace velk_graph_test {
namespace {

using velk::movie::Bytes;
using velk::movie::MovieSpec;

std::atomic<std::int64_t> gNowUs{1'000'000};
std::int64_t TestClock() {
    return gNowUs.load();
}

// The frame the clock should show after `elapsed` microseconds of play at `rate`, worked out
// apart from the library: 16.16 fixed-point rate and frame rate, the rate window counting as 1.
int ExpectedFrame(std::int64_t elapsed, double rate, double fps) {
    __int128 e = elapsed;
    if (rate < 0.999999999 || rate > 1.0000000001)
        e = e * static_cast<std::int64_t>(rate * 65536.0) / 65536;
    return static_cast<int>(e * static_cast<std::int64_t>(fps * 65536.0) / 65536000000LL);
}

class MovieGraphTest : public GraphFixture {
  protected:
    void SetUp() override {
        GraphFixture::SetUp();
        gNowUs = 1'000'000;
        SetMicrosecondClockOverride(&TestClock);
    }
    void TearDown() override {
        SetMicrosecondClockOverride(nullptr);
        GraphFixture::TearDown();
    }

    // Writes the movie and loads it as a graph.
    HandleValue LoadMovie(const MovieSpec& spec, const std::string& name, Bytes* bytes = nullptr) {
        Bytes file = velk::movie::WriteTheoraMovie(spec);
        velk_test::WriteBytes(Path(name), file);
        if (bytes) *bytes = file;
        const std::u16string wide = Wide(Path(name));
        return LoadGraphFromImageFileWide(wide.c_str(), 1, 0, 0);
    }
    static HandleValue MovieOf(HandleValue graph) {
        GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
        return r != nullptr && r->Image != nullptr ? r->Image->Movie : -1;
    }
    static MovieHandleData* RecordOf(HandleValue graph) {
        return LookupMovieHandle(MovieOf(graph));
    }
    static void Draw(HandleValue graph) { ASSERT_EQ(PutGraph(0, 0, graph, 0), 0); }
    void At(std::int64_t us) { gNowUs = us; }

    // The graph's pixels (low 24 bits) against a separate decoder's XRGB frame.
    static int DifferencesFromFrame(HandleValue graph, const Bytes& file, int frame) {
        MemoryStream* stream = CreateMemoryStream(file.data(), file.size());
        TheoraMovieDecoder* d = OpenTheoraDecoder(GetMemoryStreamAccess(), stream, 20, 1, nullptr);
        EXPECT_NE(d, nullptr);
        if (d == nullptr) return -1;
        SeekTheoraFrame(d, frame);
        const BASEIMAGE* image = GetTheoraFrameImage(d);
        const MEMIMG* view = GetGraphMemImg(graph);
        int bad = 0;
        for (int y = 0; y < image->Height; ++y)
            for (int x = 0; x < image->Width; ++x) {
                std::uint32_t want;
                std::memcpy(
                    &want,
                    static_cast<const std::uint8_t*>(image->Pixels) + y * image->Pitch + x * 4, 4);
                if (MemImgPixel(*view, x, y) != (want & 0xFFFFFF)) ++bad;
            }
        CloseTheoraDecoder(d);
        FreeMemoryStream(stream);
        return bad;
    }
    static bool AllBlack(HandleValue graph) {
        const MEMIMG* view = GetGraphMemImg(graph);
        for (int y = 0; y < view->Height; ++y)
            for (int x = 0; x < view->Width; ++x)
                if (MemImgPixel(*view, x, y) != 0) return false;
        return true;
    }
};

MovieSpec Spec(int frames, std::uint32_t num = 30, std::uint32_t den = 1) {
    MovieSpec s;
    s.width = 32;
    s.height = 32;
    s.frames = frames;
    s.fpsNumerator = num;
    s.fpsDenominator = den;
    s.keyframeInterval = 8;
    return s;
}

TEST_F(MovieGraphTest, DrawnGraphShowsTheFrameOfTheClock) {
    StartSoftware(32);
    struct Case {
        std::uint32_t num, den;
        double rate;
        std::int64_t elapsed;
        int frame;  // -1: as ExpectedFrame says
    };
    const Case cases[] = {
        {15, 1, 1.0, 1'234'567, -1},
        {24, 1, 1.0, 1'500'001, -1},
        {30000, 1001, 1.0, 1'700'000, -1},
        {30, 1, 1.0, 1'377'000, -1},
        {30, 1, 0.5, 2'500'000, -1},
        {24, 1, 2.0, 1'100'000, -1},
        // Just past frame 27's start: inside the rate window the time is not scaled; just below
        // the window it is, and the frame before is still shown.
        {30, 1, 0.9999999995, 900'005, 27},
        {30, 1, 0.999999998, 900'005, 26},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den) + " at rate " +
                     std::to_string(c.rate));
        Bytes file;
        const HandleValue graph = LoadMovie(Spec(64, c.num, c.den), "clock.ogv", &file);
        ASSERT_GE(graph, 0);
        int w = 0, h = 0;
        GetGraphSize(graph, &w, &h);
        EXPECT_EQ(w, 32);
        EXPECT_EQ(h, 32);
        EXPECT_TRUE(AllBlack(graph));
        At(5'000'000);
        ASSERT_EQ(PlayGraphMovie(graph, DX_PLAYTYPE_BACK, 0), 0);
        ASSERT_EQ(SetGraphMoviePlaybackRate(graph, c.rate), 0);
        At(5'000'000 + c.elapsed);
        Draw(graph);
        const double fps = static_cast<double>(c.num) / c.den;
        const int want = c.frame >= 0 ? c.frame : ExpectedFrame(c.elapsed, c.rate, fps);
        ASSERT_LT(want, 64);
        EXPECT_EQ(GetTheoraCurrentFrame(RecordOf(graph)->decoder), want);
        EXPECT_EQ(DifferencesFromFrame(graph, file, want), 0);
        EXPECT_EQ(GetGraphMoviePosition(graph), static_cast<int>(want * 1000.0 / fps));
        DeleteHandle(graph);
    }
}

// A filter reads a movie graph as a draw does: the frame of the clock, without a draw first.
TEST_F(MovieGraphTest, AFilterReadsTheFrameOfTheClock) {
    StartSoftware(32);
    Bytes file;
    const HandleValue graph = LoadMovie(Spec(64), "filtered.ogv", &file);
    ASSERT_GE(graph, 0);
    const HandleValue dest = CreateDrawableGraph(32, 32, 0);
    ASSERT_GE(dest, 0);
    At(5'000'000);
    ASSERT_EQ(PlayGraphMovie(graph, DX_PLAYTYPE_BACK, 0), 0);
    At(5'000'000 + 1'377'000);
    ASSERT_EQ(RunImageFilterToGraph(graph, dest, static_cast<int>(ImageFilterMode::Invert), 0), 0);
    const int want = ExpectedFrame(1'377'000, 1.0, 30.0);
    EXPECT_EQ(GetTheoraCurrentFrame(RecordOf(graph)->decoder), want);
    EXPECT_EQ(DifferencesFromFrame(graph, file, want), 0);
    const MEMIMG* source = GetGraphMemImg(graph);
    const MEMIMG* inverted = GetGraphMemImg(dest);
    for (int y = 0; y < 32; y += 7)
        for (int x = 0; x < 32; x += 5)
            EXPECT_EQ(MemImgPixel(*inverted, x, y), ~MemImgPixel(*source, x, y) & 0xFFFFFF);
    DeleteHandle(dest);
    DeleteHandle(graph);
}

TEST_F(MovieGraphTest, PlayHaltResumeAndActivation) {
    StartSoftware(32);
    const HandleValue a = LoadMovie(Spec(60), "a.ogv");
    const HandleValue b = LoadMovie(Spec(60), "b.ogv");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    const HandleValue ma = MovieOf(a), mb = MovieOf(b);
    MovieHandleData* ra = LookupMovieHandle(ma);
    MovieHandleData* rb = LookupMovieHandle(mb);
    EXPECT_EQ(IsMoviePlaying(ma), 0);
    EXPECT_EQ(ra->stopped, 1);
    EXPECT_EQ(ra->playType, 1);
    // Resume-only plays nothing that was never asked to play.
    EXPECT_EQ(StartMoviePlayback(ma, -1, 1), 0);
    EXPECT_EQ(ra->stopped, 1);

    EXPECT_EQ(StartMoviePlayback(ma, DX_PLAYTYPE_LOOP, 0), 0);
    EXPECT_EQ(IsMoviePlaying(ma), 1);
    // A running movie is left as it is, its play type too.
    EXPECT_EQ(StartMoviePlayback(ma, DX_PLAYTYPE_BACK, 0), 0);
    EXPECT_EQ(ra->playType, DX_PLAYTYPE_LOOP);

    // Halted with keep: resume-only plays it again with its own play type.
    EXPECT_EQ(HaltMoviePlayback(ma, 1), 0);
    EXPECT_EQ(ra->stopped, 1);
    EXPECT_EQ(IsMoviePlaying(ma), 1);
    EXPECT_EQ(StartMoviePlayback(ma, -1, 1), 0);
    EXPECT_EQ(ra->stopped, 0);
    EXPECT_EQ(ra->playType, DX_PLAYTYPE_LOOP);

    // Halted without keep: neither resume-only nor activation plays it.
    EXPECT_EQ(StartMoviePlayback(mb, 0, 0), 0);
    EXPECT_EQ(rb->playType, 1);
    EXPECT_EQ(PauseGraphMovie(b, 0), 0);
    EXPECT_EQ(IsMoviePlaying(mb), 0);
    EXPECT_EQ(StartMoviePlayback(mb, -1, 1), 0);
    EXPECT_EQ(rb->stopped, 1);

    EXPECT_EQ(PauseMoviesForDeactivation(), 0);
    EXPECT_EQ(ra->stopped, 1);
    EXPECT_EQ(ra->playRequested, 1);
    EXPECT_EQ(ResumeMoviesAfterActivation(), 0);
    EXPECT_EQ(ra->stopped, 0);
    EXPECT_EQ(rb->stopped, 1);
    EXPECT_EQ(rb->playRequested, 0);

    // Through the window's activation handler.
    MainWindow.active = 1;
    MainWindow.keepRunningInactive = 0;
    HandleWindowActivation(0, 0, 0, 1);
    EXPECT_EQ(ra->stopped, 1);
    HandleWindowActivation(1, 0, 0, 1);
    EXPECT_EQ(ra->stopped, 0);
    EXPECT_EQ(rb->stopped, 1);
}

TEST_F(MovieGraphTest, SeeksAndQueries) {
    StartSoftware(32);
    const HandleValue graph = LoadMovie(Spec(45, 15), "seek.ogv");
    ASSERT_GE(graph, 0);
    const HandleValue movie = MovieOf(graph);
    EXPECT_EQ(GetGraphMovieFrameCount(graph), 45);
    EXPECT_EQ(GetGraphMovieFrameTime(graph), 66666);
    EXPECT_EQ(RecordOf(graph)->duration, 3000);
    EXPECT_EQ(SeekGraphMovie(graph, 1400), 0);
    EXPECT_EQ(GetTheoraCurrentFrame(RecordOf(graph)->decoder), 21);
    EXPECT_EQ(GetMoviePositionMs(movie), 1400);
    // Playing on from the seek: 200 ms later it is three frames on.
    At(2'000'000);
    EXPECT_EQ(StartMoviePlayback(movie, 1, 0), 0);
    At(2'200'000);
    EXPECT_EQ(GetMoviePositionMs(movie), 24 * 1000 / 15);
    EXPECT_EQ(SeekGraphMovie(graph, 2999), 0);
    EXPECT_EQ(MoveMoviePositionMs(movie, 3000), -1);
    EXPECT_EQ(MoveMoviePositionMs(movie, -5), -1);
    EXPECT_EQ(GetTheoraCurrentFrame(RecordOf(graph)->decoder), 44);
}

TEST_F(MovieGraphTest, PausedGraphKeepsItsFrameAndScreenDepthsCopyAlike) {
    for (int bits : {32, 16}) {
        SCOPED_TRACE(bits);
        StartSoftware(bits);
        Bytes file;
        const HandleValue graph = LoadMovie(Spec(40), "pause.ogv", &file);
        ASSERT_GE(graph, 0);
        At(1'000'000);
        PlayGraphMovie(graph, 1, 0);
        At(1'000'000 + 400'000);
        Draw(graph);
        EXPECT_EQ(GetTheoraCurrentFrame(RecordOf(graph)->decoder), 12);
        if (bits == 32) {
            EXPECT_EQ(DifferencesFromFrame(graph, file, 12), 0);
        } else {
            // Each pixel is the frame's colour in R5G6B5.
            const BASEIMAGE* frame = RecordOf(graph)->currentFrameImage;
            const MEMIMG* view = GetGraphMemImg(graph);
            int bad = 0;
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x) {
                    std::uint32_t p;
                    std::memcpy(
                        &p,
                        static_cast<const std::uint8_t*>(frame->Pixels) + y * frame->Pitch + x * 4,
                        4);
                    if (MemImgPixel(*view, x, y) !=
                        ScreenFormatOf(p >> 16 & 255, p >> 8 & 255, p & 255, 16))
                        ++bad;
                }
            EXPECT_EQ(bad, 0);
        }
        EXPECT_EQ(PauseGraphMovie(graph, 1), 0);
        const MEMIMG* view = GetGraphMemImg(graph);
        std::vector<std::uint32_t> before;
        for (int x = 0; x < 32; ++x) before.push_back(MemImgPixel(*view, x, 0));
        for (int i = 1; i <= 5; ++i) {
            At(1'400'000 + i * 100'000);
            Draw(graph);
        }
        EXPECT_EQ(GetTheoraCurrentFrame(RecordOf(graph)->decoder), 12);
        for (int x = 0; x < 32; ++x) EXPECT_EQ(MemImgPixel(*view, x, 0), before[x]);
        EndLibrary();
    }
}

// The movie's Vorbis track.
TEST_F(MovieGraphTest, SoundTrackFollowsTheMovie) {
    StartSoftware(32);
    MovieSpec shorter = Spec(30);
    shorter.vorbis = true;
    shorter.audioShare = 0.5;
    MovieSpec longer = shorter;
    longer.audioShare = 2.0;
    const HandleValue gs = LoadMovie(shorter, "short.ogv");
    const HandleValue gl = LoadMovie(longer, "long.ogv");
    ASSERT_GE(gs, 0);
    ASSERT_GE(gl, 0);
    MovieHandleData* rs = RecordOf(gs);
    MovieHandleData* rl = RecordOf(gl);
    ASSERT_GE(rs->sound, 0);
    ASSERT_GE(rl->sound, 0);
    EXPECT_EQ(rs->soundOutlastsVideo, 0);
    EXPECT_EQ(rl->soundOutlastsVideo, 1);
    EXPECT_NEAR(rs->soundLength, 500, 30);
    EXPECT_NEAR(rl->soundLength, 2000, 30);

    // The track is the movie's own: deleting every sound leaves it.
    ASSERT_EQ(DeleteAllSounds(), 0);
    EXPECT_NE(LookupHandleRecord(rs->sound), nullptr);

    At(1'000'000);
    PlayGraphMovie(gs, DX_PLAYTYPE_LOOP, 0);
    PlayGraphMovie(gl, DX_PLAYTYPE_LOOP, 0);
    EXPECT_EQ(GetSoundHandleData(rl->sound)->playType, DX_PLAYTYPE_LOOP);
    EXPECT_EQ(GetSoundHandleData(rs->sound)->playType, DX_PLAYTYPE_BACK);
    EXPECT_EQ(IsSoundPlaying(rs->sound), 1);
    // Both tracks stop as though they had ended; at the wrap only the shorter one restarts.
    StopSoundPlayback(rs->sound, 0);
    StopSoundPlayback(rl->sound, 0);
    At(1'000'000 + 900'000);
    Draw(gs);
    Draw(gl);
    At(1'000'000 + 1'050'000);
    Draw(gs);
    Draw(gl);
    EXPECT_EQ(GetTheoraCurrentFrame(rs->decoder), 1);
    EXPECT_EQ(IsSoundPlaying(rs->sound), 1);
    EXPECT_EQ(IsSoundPlaying(rl->sound), 0);

    // Volume by graph, volume first.
    EXPECT_EQ(GetSoundVolume(0, rl->sound), 10000);
    EXPECT_EQ(SetGraphMovieVolume(5000, gl), 0);
    EXPECT_EQ(GetSoundVolume(0, rl->sound), 5000);
    // The play rate moves the track's frequency with it.
    EXPECT_EQ(SetGraphMoviePlaybackRate(gl, 0.5), 0);
    EXPECT_EQ(GetSoundFrequency(rl->sound), 22050);
}

TEST_F(MovieGraphTest, NonLoopingMovieEndsWithItsSound) {
    StartSoftware(32);
    MovieSpec spec = Spec(15);
    spec.vorbis = true;
    spec.audioShare = 4.0;
    const HandleValue graph = LoadMovie(spec, "end.ogv");
    ASSERT_GE(graph, 0);
    MovieHandleData* m = RecordOf(graph);
    At(1'000'000);
    PlayGraphMovie(graph, DX_PLAYTYPE_BACK, 0);
    At(3'000'000);
    Draw(graph);
    EXPECT_EQ(GetTheoraCurrentFrame(m->decoder), 14);
    ASSERT_EQ(IsSoundPlaying(m->sound), 1);
    Draw(graph);
    EXPECT_EQ(IsGraphMoviePlaying(graph), 1);
    StopSoundPlayback(m->sound, 0);
    Draw(graph);
    EXPECT_EQ(IsGraphMoviePlaying(graph), 0);
    EXPECT_EQ(m->stopped, 1);
    EXPECT_EQ(GetTheoraCurrentFrame(m->decoder), 14);

    // Without a sound the last frame alone ends it.
    const HandleValue silent = LoadMovie(Spec(15), "silent.ogv");
    PlayGraphMovie(silent, DX_PLAYTYPE_BACK, 0);
    At(5'000'000);
    Draw(silent);
    EXPECT_EQ(IsGraphMoviePlaying(silent), 1);  // the last frame has just been reached
    Draw(silent);
    EXPECT_EQ(IsGraphMoviePlaying(silent), 0);
}

TEST_F(MovieGraphTest, SourcesThatAreNoMovieFail) {
    StartSoftware(32);
    // A memory image that is not Ogg Theora.
    const std::string junk(4096, 'x');
    int w = -1, h = -1;
    EXPECT_EQ(OpenMovie(-1, nullptr, nullptr, junk.data(), junk.size(), &w, &h, nullptr), -1);
    EXPECT_NE(Log().find("ムービーファイルオープン処理時に失敗しました"), std::string::npos);
    // A file that is no image and no Theora movie goes through both absent players.
    velk_test::WriteBytes(Path("clip.avi"), std::vector<std::uint8_t>(junk.begin(), junk.end()));
    const std::u16string wide = Wide(Path("clip.avi"));
    EXPECT_EQ(LoadGraphFromImageFileWide(wide.c_str(), 1, 0, 0), -1);
    const std::string log = Log();
    EXPECT_NE(log.find("CoCreateInstance Error : CLSID_FilterGraph"), std::string::npos);
    EXPECT_NE(log.find("ムービーファイルオープン処理時にエラーが発生しました"), std::string::npos);
    EXPECT_NE(log.find("Image File Load Error : "), std::string::npos);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_MOVIE].count, 0);
    EXPECT_EQ(GetGraphHandleCount(), 0);

    // Movie controls on an image graph do nothing; on a bad graph or movie they fail.
    const HandleValue image = CreateEmptyGraph(16, 16, 0);
    ASSERT_GE(image, 0);
    EXPECT_EQ(PlayGraphMovie(image, 1, 0), 0);
    EXPECT_EQ(IsGraphMoviePlaying(image), 0);
    EXPECT_EQ(GetGraphMovieFrameTime(image), 0);
    EXPECT_EQ(SetGraphMovieVolume(5000, image), 0);
    EXPECT_EQ(PlayGraphMovie(-1, 1, 0), -1);
    EXPECT_EQ(GetGraphMovieFrameTime(12345), -1);
    // Swapped arguments name another handle: the volume is no graph.
    EXPECT_EQ(SetGraphMovieVolume(image, 5000), -1);
    for (HandleValue bad : {-1, 0, image}) {
        EXPECT_EQ(StartMoviePlayback(bad, 1, 0), -1);
        EXPECT_EQ(HaltMoviePlayback(bad, 0), -1);
        EXPECT_EQ(AdvanceMovieFrame(bad), -1);
        EXPECT_EQ(SetMovieFrameCallback(bad, nullptr, 0), -1);
        EXPECT_EQ(GetMovieFrameTimeUs(bad), -1);
    }
}

TEST_F(MovieGraphTest, MovieFromMemoryAndDeletedWithItsGraph) {
    StartSoftware(32);
    Bytes file = velk::movie::WriteTheoraMovie(Spec(10));
    int w = 0, h = 0;
    const HandleValue movie =
        OpenMovie(-1, nullptr, nullptr, file.data(), file.size(), &w, &h, nullptr);
    ASSERT_GE(movie, 0);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(LookupMovieHandle(movie)->streamIsMemory, 1);
    DeleteHandle(movie);
    const HandleValue graph = LoadMovie(Spec(10), "gone.ogv");
    const HandleValue m = MovieOf(graph);
    ASSERT_NE(LookupMovieHandle(m), nullptr);
    DeleteHandle(graph);
    EXPECT_EQ(LookupMovieHandle(m), nullptr);
}

// A movie graph loaded on the load thread: the movie opens there (its sound track too) and the
// graph is black until drawn.
TEST_F(MovieGraphTest, MovieGraphLoadsOnTheLoadThread) {
    StartSoftware(32);
    MovieSpec spec = Spec(20);
    spec.vorbis = true;
    Bytes file;
    EnableASyncLoad(1);
    const HandleValue graph = LoadMovie(spec, "async.ogv", &file);
    EnableASyncLoad(0);
    ASSERT_GE(graph, 0);
    for (int i = 0; i < 2000 && IsHandleLoading(graph) == 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    int w = 0, h = 0;
    ASSERT_EQ(GetGraphSize(graph, &w, &h), 0);
    EXPECT_EQ(w, 32);
    EXPECT_TRUE(AllBlack(graph));
    MovieHandleData* m = RecordOf(graph);
    ASSERT_NE(m, nullptr);
    EXPECT_GE(m->sound, 0);
    At(1'000'000);
    PlayGraphMovie(graph, 1, 0);
    At(1'000'000 + 250'000);
    Draw(graph);
    EXPECT_EQ(DifferencesFromFrame(graph, file, 7), 0);
}

// On a device: shaders make the graph drawable and the frame goes through the YUV filter from the
// decoder's Y and UV graphs; without shaders the RGB frame is transferred at every draw.
TEST_F(MovieGraphTest, DevicePathsPrepareTheFormTheGraphNeeds) {
    ZiDaz::testing::RecordingBackend& b = ZiDaz::testing::RecordingBackend::Instance();
    b.shaderModel = 300;
    StartDevice(2048, false);
    GraphicsSystemState.ShadersUsable = 1;
    const HandleValue graph = LoadMovie(Spec(20), "device.ogv");
    ASSERT_GE(graph, 0);
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    EXPECT_EQ(r->Image->Format.Drawable, 1);
    MovieHandleData* m = RecordOf(graph);
    Draw(graph);
    EXPECT_EQ(m->firstFrameShown, 1);
    EXPECT_GE(GetTheoraYGraph(m->decoder), 0);
    EXPECT_GE(GetTheoraUvGraph(m->decoder), 0);
    EXPECT_EQ(m->decoder->graphsReady, 1);

    GraphicsSystemState.ShadersUsable = 0;
    const HandleValue plain = LoadMovie(Spec(20), "plain.ogv");
    ASSERT_GE(plain, 0);
    EXPECT_EQ(LookUpGraphRecord(plain, 0)->Image->Format.Drawable, 0);
    b.transfers.clear();
    Draw(plain);
    Draw(plain);
    int toPlain = 0;
    for (const auto& t : b.transfers)
        if (t.graph == plain) ++toPlain;
    EXPECT_EQ(toPlain, 2);
    b.shaderModel = 0;
}

}  // namespace
}  // namespace velk_graph_test
