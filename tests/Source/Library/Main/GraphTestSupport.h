// Shared by the graph tests: a running library over SDL's dummy video driver in software mode or
// on the recording back end, image files written by Pillow at test time, the screen-format pixels
// a graph should hold, and a stream table that counts (and may hold back) the files opened.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxGraphics.h"
#include "Main/DxHandle.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "PillowOracle.h"
#include "RecordingGraphicsBackend.h"

namespace velk_graph_test {

using namespace ZiDaz;

// One image file for Pillow to write: a pattern of w x h pixels (R = x * 7 + y * 3 + seed,
// G = x * 13 + seed * 5, B = y * 5 + x, all modulo 256), with pure magenta at every pixel where
// (x + y) % 5 == 0 when magenta is asked. format: "PNG", "JPEG" (quality 95, no chroma
// subsampling), "BMP". mode "RGB" or "RGBA" (alpha = x * 9 % 256).
struct PatternImage {
    std::filesystem::path path;
    int w, h;
    std::string format;
    bool magenta = false;
    std::string mode = "RGB";
    int seed = 0;
};

// Writes them all in one run of Python.
inline bool WritePatternImages(const std::vector<PatternImage>& images) {
    std::string command =
        "/usr/bin/python3 -c \"import sys\n"
        "from PIL import Image\n"
        "a = sys.argv[1:]\n"
        "for i in range(0, len(a), 7):\n"
        "  p, w, h, f, m, mode, s = a[i], int(a[i+1]), int(a[i+2]), a[i+3], int(a[i+4]), "
        "a[i+5], int(a[i+6])\n"
        "  im = Image.new(mode, (w, h))\n"
        "  px = []\n"
        "  for y in range(h):\n"
        "    for x in range(w):\n"
        "      c = ((x * 7 + y * 3 + s) % 256, (x * 13 + s * 5) % 256, (y * 5 + x) % 256)\n"
        "      if m and (x + y) % 5 == 0: c = (255, 0, 255)\n"
        "      px.append(c + ((x * 9) % 256,) if mode == 'RGBA' else c)\n"
        "  im.putdata(px)\n"
        "  kw = {'quality': 95, 'subsampling': 0} if f == 'JPEG' else {}\n"
        "  im.save(p, f, **kw)\"";
    for (const PatternImage& i : images) {
        command += " '" + i.path.string() + "' " + std::to_string(i.w) + " " + std::to_string(i.h) +
                   " " + i.format + " " + (i.magenta ? "1" : "0") + " " + i.mode + " " +
                   std::to_string(i.seed);
    }
    command += " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return false;
    for (const PatternImage& i : images)
        if (!std::filesystem::exists(i.path)) return false;
    return true;
}

inline bool WritePatternImage(const std::filesystem::path& path, int w, int h, const char* format,
                              bool magenta = false, const char* mode = "RGB", int seed = 0) {
    return WritePatternImages({PatternImage{path, w, h, format, magenta, mode, seed}});
}

inline std::u16string Wide(const std::filesystem::path& path) {
    std::string s = path.string();
    return std::u16string(s.begin(), s.end());
}

// Whether the base-image loader takes a file Pillow wrote.
inline bool LoaderAccepts(const std::filesystem::path& path) {
    BASEIMAGE image{};
    std::u16string name = Wide(path);
    if (ReadImageToBaseImage(name.c_str(), nullptr, 0, 0, 0, 0, 0, &image, nullptr, nullptr) != 0)
        return false;
    DisposeBaseImage(&image);
    return true;
}

// A pixel of a MEMIMG as 0x00RRGGBB with each channel's top bits (16-bit: 5, 6, 5 bits).
inline std::uint32_t MemImgPixel(const MEMIMG& image, int x, int y) {
    const std::uint8_t* row = image.Pixels + static_cast<std::ptrdiff_t>(y) * image.Shared->Pitch;
    if (image.Shared->Format->BitsPerPixel == 16) {
        std::uint32_t p = row[x * 2] | row[x * 2 + 1] << 8;
        return (p >> 11) << 19 | (p >> 5 & 63) << 10 | (p & 31) << 3;
    }
    std::uint32_t p;
    std::memcpy(&p, row + x * 4, 4);
    return p & 0xFFFFFF;
}

// What the transfer makes of an 8-bit colour in a screen of the given depth.
inline std::uint32_t ScreenFormatOf(int r, int g, int b, int bits) {
    if (bits == 16) return (r & 0xF8) << 16 | (g & 0xFC) << 8 | (b & 0xF8);
    return static_cast<std::uint32_t>(r << 16 | g << 8 | b);
}

// The number of pixels of a software graph that differ from Pillow's RGB decode (rows top first)
// by more than tolerance in any channel of the screen format; the first few are reported.
inline int CompareGraphWithRgb(HandleValue graph, const std::vector<std::uint8_t>& rgb, int w,
                               int h, int bits, int tolerance = 0, int ox = 0, int oy = 0,
                               int stride = -1) {
    MEMIMG* view = GetGraphMemImg(graph);
    if (view == nullptr) {
        ADD_FAILURE() << "no software image";
        return -1;
    }
    if (stride < 0) stride = w;
    int bad = 0;
    for (int y = 0; y < view->Height; ++y) {
        for (int x = 0; x < view->Width; ++x) {
            std::size_t i = (static_cast<std::size_t>(y + oy) * stride + x + ox) * 3;
            if (i + 2 >= rgb.size() + 2 && i >= rgb.size()) return -1;
            std::uint32_t want = ScreenFormatOf(rgb[i], rgb[i + 1], rgb[i + 2], bits);
            std::uint32_t got = MemImgPixel(*view, x, y);
            bool differs = false;
            for (int c = 0; c < 3; ++c) {
                int a = static_cast<int>(want >> (8 * c) & 0xFF);
                int b = static_cast<int>(got >> (8 * c) & 0xFF);
                if (std::abs(a - b) > tolerance) differs = true;
            }
            if (differs && ++bad <= 3) {
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << got
                              << " instead of " << want;
            }
        }
    }
    (void)h;
    return bad;
}

// ImageMagick's decode of a file as RGB rows, empty when it refused it.
inline std::vector<std::uint8_t> ImageMagickRgb(const std::filesystem::path& file) {
    std::string command = "/usr/bin/convert '" + file.string() + "' -depth 8 rgb:- 2>/dev/null";
    std::vector<std::uint8_t> out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::uint8_t buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
            out.insert(out.end(), buffer, buffer + n);
        pclose(pipe);
    }
    return out;
}

// A JPEG decode (RGB rows) must be close to Pillow's decode of Pillow's own JPEG of the frame at
// the same quality; stem names the scratch files the comparison writes.
inline void ExpectLikePillowJpeg(const std::vector<std::uint8_t>& jpeg,
                                 const std::vector<std::uint8_t>& frame, int w, int h, int quality,
                                 const std::filesystem::path& stem) {
    const std::filesystem::path raw = stem.string() + ".rgb", file = stem.string() + ".jpg";
    velk_test::WriteBytes(raw, frame);
    std::string command =
        "/usr/bin/python3 -c \"from PIL import Image; import sys\n"
        "im = Image.frombytes('RGB', (int(sys.argv[3]), int(sys.argv[4])), "
        "open(sys.argv[1], 'rb').read())\n"
        "im.save(sys.argv[2], 'JPEG', quality=int(sys.argv[5]))\" '" +
        raw.string() + "' '" + file.string() + "' " + std::to_string(w) + " " + std::to_string(h) +
        " " + std::to_string(quality) + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    auto reference = velk_test::PillowDecode({file})[0];
    ASSERT_EQ(jpeg.size(), frame.size());
    ASSERT_EQ(reference.size(), frame.size());
    long total = 0;
    int worst = 0;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        int d = std::abs(jpeg[i] - reference[i]);
        total += d;
        worst = std::max(worst, d);
    }
    EXPECT_LE(worst, 12);
    EXPECT_LE(static_cast<double>(total) / frame.size(), 1.0);
}

// A stream table over the default one that counts the opens of each path and can hold every
// open back until released.
struct CountingStreams {
    static CountingStreams& Instance() {
        static CountingStreams s;
        return s;
    }
    StreamFunctionTable base{};
    std::mutex lock;
    std::map<std::u16string, int> opens;
    std::atomic<bool> hold{false};
    std::atomic<int> waiting{0};
    bool installed = false;

    static StreamValue Open(const char16_t* path, int useCache, int blockRead, int async) {
        CountingStreams& s = Instance();
        {
            std::lock_guard<std::mutex> g(s.lock);
            ++s.opens[path ? std::u16string(path) : std::u16string()];
        }
        ++s.waiting;
        while (s.hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        --s.waiting;
        return s.base.Open(path, useCache, blockRead, async);
    }
    void Install() {
        base = *GetStreamFunctionTable();
        StreamFunctionTable t = base;
        t.Open = &Open;
        InstallStreamFunctions(&t);
        installed = true;
    }
    void Remove() {
        if (installed) InstallStreamFunctions(&base);
        installed = false;
        std::lock_guard<std::mutex> g(lock);
        opens.clear();
        hold = false;
    }
    // Opens of paths that end with the name.
    int OpensOf(const std::string& name) {
        std::lock_guard<std::mutex> g(lock);
        int n = 0;
        std::u16string wide(name.begin(), name.end());
        for (const auto& [path, count] : opens) {
            if (path.size() >= wide.size() &&
                path.compare(path.size() - wide.size(), wide.size(), wide) == 0)
                n += count;
        }
        return n;
    }
    void Reset() {
        std::lock_guard<std::mutex> g(lock);
        opens.clear();
    }
};

// A library running in a scratch folder that also holds its log.
class GraphFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = std::make_unique<velk_test::ScratchDir>(
            std::string("velk_graph_") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(scratch_->path);
        MainWindow = MainWindowState{};
        LibrarySystem.initialised = 0;
        LibrarySystem.endRequested = 0;
        GraphicsSystemState = GraphicsSystemStateData{};
        GraphCreationSettings = GraphCreationSettingsData{};
        GraphicsBackendKind = 0;
        Direct3D11Forbidden = 0;
        SetDefaultMemImgColorType(0);
        SetNarrowCharCode(CharEncoding::Utf8);
        CloseLogFile();
        LibraryLog.folder[0] = 0;
        EnableLogOutput(1);
        StoreWindowModeFlag(1);
    }
    void TearDown() override {
        EnableASyncLoad(0);
        EndLibrary();
        // Later tests in this process start from the settings of a fresh program, and find the
        // image module as they left it (ending the library ends the module too).
        MainWindow = MainWindowState{};
        if (baseImageModuleStarted_ && BaseImageModuleState.Initialised == 0) {
            InitBaseImageModule();
        }
        GraphicsSystemState = GraphicsSystemStateData{};
        GraphCreationSettings = GraphCreationSettingsData{};
        GraphicsBackendKind = 0;
        Direct3D11Forbidden = 0;
        Direct3D9ExAllowed = 0;
        CountingStreams::Instance().Remove();
        ZiDaz::testing::RecordingBackend::Instance().Remove();
        CloseLogFile();
        LibraryLog.folder[0] = 0;
        EnableLogOutput(0);
        std::filesystem::current_path(previous_);
        scratch_.reset();
    }

    // Starts the library without a device at the given depth.
    void StartSoftware(int bits) {
        SetUseHardwareDrawing(0);
        ASSERT_EQ(SetScreenMode(640, 480, bits, 0), 0);
        ASSERT_EQ(StartLibrary(), 0);
        ASSERT_EQ(GraphicsSystemState.DevicePresent, 0);
    }
    // Starts the library on the recording back end as Direct3D 9 with these capabilities.
    void StartDevice(int maxTexture, bool powerOfTwo, bool square = false) {
        ZiDaz::testing::RecordingBackend& b = ZiDaz::testing::RecordingBackend::Instance();
        b.Install();
        b.graphOperations = true;
        b.startSucceeds[1] = true;
        b.capabilities.MaxTextureSize = maxTexture;
        b.capabilities.PowerOfTwoTexturesOnly = powerOfTwo ? 1 : 0;
        b.capabilities.SquareTexturesOnly = square ? 1 : 0;
        SetUseHardwareDrawing(1);
        SelectDirect3D9(0);
        ASSERT_EQ(SetScreenMode(640, 480, 32, 0), 0);
        ASSERT_EQ(StartLibrary(), 0);
        ASSERT_EQ(GraphicsSystemState.DevicePresent, 1);
    }

    std::filesystem::path Path(const std::string& name) const { return scratch_->path / name; }
    std::string Log() const {
        std::ifstream in(scratch_->path / "Log.txt", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::unique_ptr<velk_test::ScratchDir> scratch_;
    std::filesystem::path previous_;
    // Whether the image module ran before this test (a test may end and start the library again).
    const bool baseImageModuleStarted_ = BaseImageModuleState.Initialised != 0;
};

// Wipes the pixels of a software graph's whole image.
inline void WipeGraphImage(HandleValue graph) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    ASSERT_NE(r, nullptr);
    MEMIMG& image = r->Image->Image;
    std::memset(image.Shared->Pixels, 0x5A,
                static_cast<std::size_t>(image.Shared->Pitch) * image.Height);
}

}  // namespace velk_graph_test
