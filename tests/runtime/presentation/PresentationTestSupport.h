// A recording stand-in for the library under the font cache and the text engine, the runtime
// globals they read put back after each test, and writers of internal text runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/FontCache.h"
#include "runtime/presentation/Game_Text.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"

namespace presentation_test {

// Base-64 digits of n, most significant first (the first one unbounded), each + 14.
inline std::string Digits(int n, int count) {
    std::string out(static_cast<std::size_t>(count), '\0');
    for (int i = count - 1; i >= 0; --i, n /= 64) {
        out[static_cast<std::size_t>(i)] = static_cast<char>(14 + (i == 0 ? n : n % 64));
    }
    return out;
}
inline std::string RunOf(int kind, const std::string& params = "") {
    return std::string("\x01") + static_cast<char>(params.size() + 2) + static_cast<char>(kind) +
           params;
}
inline std::string Colour(int n) {
    return RunOf(0x02, Digits(n, 3) + "\x01");
}
inline std::string FontSize(int n) {
    return RunOf(0x03, Digits(n, 2) + "\x01");
}
inline std::string Speed(int n) {
    return RunOf(0x0C, Digits(n, 3) + "\x01");
}
inline std::string Icon(int n, bool nearest = false) {
    return RunOf(nearest ? 0x1F : 0x16, Digits(n, 3));
}
inline std::string Image(const std::string& name, bool nearest = false) {
    return RunOf(nearest ? 0x22 : 0x17) + name + "]";
}
inline std::string Ruby(const std::string& base, const std::string& ruby) {
    return RunOf(0x09) + base + "," + ruby + "]";
}

struct DrawCall {
    std::string kind;  // "text", "scaled", "rotated", "graph", "filter"
    double x = 0, y = 0, x2 = 0, y2 = 0;
    std::string text;
    std::uint32_t colour = 0, edge = 0;
    int font = 0;
    int graph = 0;
};

struct FakeLibrary {
    static FakeLibrary*& Current() {
        static FakeLibrary* current = nullptr;
        return current;
    }
    std::vector<DrawCall> calls;
    std::set<std::string> installedFaces;
    std::vector<std::string> createdFaces;
    int nextFont = 100;
    int failFonts = 0;  // creations that fail before one succeeds
    int resets = 0;
    std::string listFile;
    bool hasListFile = false;
    std::vector<std::string> folder;
    std::vector<std::string> loadedIcons;
    int nextGraph = 1000;
    std::set<std::string> missingImages;
    std::vector<std::string> loadedImages;
    std::vector<int> destroyed;
    int lastFilter = -1;
    std::vector<DrawCall> Texts() const {
        std::vector<DrawCall> out;
        for (const auto& c : calls) {
            if (c.kind == "text" || c.kind == "scaled" || c.kind == "rotated") out.push_back(c);
        }
        return out;
    }
    std::string Drawn() const {
        std::string out;
        for (const auto& c : Texts()) out += c.text;
        return out;
    }
};

// Every glyph measures 10 device pixels per byte, up to 20.
inline int FakeMeasure(const std::string& text, int) {
    int w = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        w += n == 1 ? 10 : 20;
        i += static_cast<std::size_t>(n);
    }
    return w;
}

// Icons and images are 16 by 16 pixels (a name with "big" 64 by 32).
inline void FakeGraphSize(int graph, int* w, int* h) {
    *w = graph >= 5000 ? 8 : graph % 2 == 0 ? 64 : 16;
    *h = graph >= 5000 ? 8 : graph % 2 == 0 ? 32 : 16;
}

class PresentationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeLibrary::Current() = &fake_;
        savedBasic_ = TheBasicData;
        savedState_ = TheSystemState;
        savedDatabase_ = TheSystemDatabase;
        savedCache_ = TheFontCache;
        savedSettings_ = TheTextEngineSettings;
        savedScale_ = WindowScale;
        savedWidth_ = ScreenWidth;
        savedHeight_ = ScreenHeight;
        savedTile_ = TileSize;
        savedFrame_ = FrameMultiplier;
        savedChoices_ = TheGameSystem.choiceCount;
        TheBasicData.SetDefaults();
        TheBasicData.settingNumbers[15] = 314;
        TheBasicData.settingBytes[0] = 32;
        TheBasicData.settingBytes[10] = 0;
        TheBasicData.settingBytes[11] = 0;
        TheBasicData.settingBytes[12] = 0;
        TheBasicData.settingBytes[14] = 0;
        TheBasicData.settingBytes[17] = 1;
        for (int i = 3; i <= 6; ++i) TheBasicData.settingTexts[static_cast<std::size_t>(i)].clear();
        TheSystemState = Game_SystemState();
        TheSystemState.baseFontSize = 20;
        TheSystemState.textShadow = 0;
        TheTextEngineSettings = TextEngineSettings();
        WindowScale = 1;
        ScreenWidth = 640;
        ScreenHeight = 480;
        TileSize = 16;
        FrameMultiplier = 1;
        SetColours(16);
        InstallFakes();
        SelectDefaultFonts();
    }
    void TearDown() override {
        ResetFontCacheLibrary();
        ResetTextDrawLibrary();
        TheBasicData = savedBasic_;
        TheSystemState = savedState_;
        TheSystemDatabase = savedDatabase_;
        TheFontCache = savedCache_;
        TheTextEngineSettings = savedSettings_;
        WindowScale = savedScale_;
        ScreenWidth = savedWidth_;
        ScreenHeight = savedHeight_;
        TileSize = savedTile_;
        FrameMultiplier = savedFrame_;
        TheGameSystem.choiceCount = savedChoices_;
        FakeLibrary::Current() = nullptr;
    }

    // Colour i of type 12 is (i, 2i, 3i); with count 0 the type is missing.
    static void SetColours(int count) {
        TheSystemDatabase.types.clear();
        TheSystemDatabase.typeInfos.clear();
        if (count == 0) return;
        TheSystemDatabase.SetTypeCount(13);
        Game_DatabaseType& t = TheSystemDatabase.types[12];
        t.fieldKinds = {kNumberFieldBase, kNumberFieldBase + 1, kNumberFieldBase + 2};
        t.entries.assign(static_cast<std::size_t>(count), Game_DatabaseEntry{});
        for (int i = 0; i < count; ++i) {
            t.entries[static_cast<std::size_t>(i)].numbers = {i, 2 * i, 3 * i};
        }
    }
    // The fake composes colours as 0xRRGGBB.
    static std::uint32_t ColourOf(int i) { return (i << 16) | (2 * i << 8) | (3 * i); }

    static FakeLibrary& F() { return *FakeLibrary::Current(); }

    static void InstallFakes() {
        FontCacheLibrary& f = GetFontCacheLibrary();
        f.setGlyphCacheCapacity = [](int) {};
        f.createFont = [](const char* face, int, int, int, int, int) {
            F().createdFaces.push_back(face);
            if (F().failFonts > 0) {
                --F().failFonts;
                return -1;
            }
            return F().nextFont++;
        };
        f.resetFontHandles = [] { ++F().resets; };
        f.isFontFaceInstalled = [](const char* face, int) {
            return F().installedFaces.count(face) ? 1 : 0;
        };
        f.setDefaultFontSize = [](int) {};
        f.setDefaultFontThickness = [](int) {};
        f.setDefaultFontFace = [](const char*, int) {};
        f.readWholeFile = [](const std::string&, std::string& contents) {
            contents = F().listFile;
            return F().hasListFile;
        };
        f.listFolder = [](const std::string&) { return F().folder; };
        f.loadIconGraph = [](const std::string& name) {
            F().loadedIcons.push_back(name);
            return 1 + 2 * static_cast<int>(F().loadedIcons.size());
        };
        f.destroyGraph = [](int graph) { F().destroyed.push_back(graph); };
        f.getGraphSize = FakeGraphSize;

        TextDrawLibrary& t = GetTextDrawLibrary();
        t.drawText = [](int x, int y, const std::string& s, std::uint32_t c, int font,
                        std::uint32_t e) {
            F().calls.push_back({"text", double(x), double(y), 0, 0, s, c, e, font, 0});
            return 0;
        };
        t.drawTextScaled = [](float x, float y, double, double, const std::string& s,
                              std::uint32_t c, int font, std::uint32_t e) {
            F().calls.push_back({"scaled", x, y, 0, 0, s, c, e, font, 0});
            return 0;
        };
        t.drawTextRotated = [](int x, int y, double, double, double, const std::string& s,
                               std::uint32_t c, int font, std::uint32_t e) {
            F().calls.push_back({"rotated", double(x), double(y), 0, 0, s, c, e, font, 0});
            return 0;
        };
        t.measureTextWidth = FakeMeasure;
        t.isFontCacheOnTexture = [](int) { return 0; };
        t.isFontHandleUsable = [](int font) { return font > 0 ? 1 : 0; };
        t.composeScreenColor = [](int r, int g, int b) {
            return static_cast<std::uint32_t>((r << 16) | (g << 8) | b);
        };
        t.putGraphStretched = [](int x1, int y1, int x2, int y2, int graph) {
            F().calls.push_back(
                {"graph", double(x1), double(y1), double(x2), double(y2), "", 0, 0, 0, graph});
            return 0;
        };
        t.putGraphRotated = [](int x, int y, double, double, double, int graph) {
            F().calls.push_back({"graph", double(x), double(y), 0, 0, "", 0, 0, 0, graph});
            return 0;
        };
        t.deriveGraph = [](int x, int y, int, int, int) {
            if (x < 0 || y < 0) return -1;
            return 5000 + x * 100 + y;
        };
        t.destroyGraph = [](int graph) { F().destroyed.push_back(graph); };
        t.getGraphSize = FakeGraphSize;
        t.selectTextureFilter = [](int filter) {
            F().lastFilter = filter;
            F().calls.push_back({"filter", double(filter), 0, 0, 0, "", 0, 0, 0, 0});
        };
        t.loadInlineImage = [](const std::string& name) {
            F().loadedImages.push_back(name);
            if (F().missingImages.count(name)) return 0;
            return name.find("big") != std::string::npos ? 2000 : 2001;
        };
    }

    FakeLibrary fake_;

  private:
    Game_BasicData savedBasic_;
    Game_SystemState savedState_;
    Game_Database savedDatabase_;
    FontCache savedCache_;
    TextEngineSettings savedSettings_;
    int savedScale_ = 1, savedWidth_ = 640, savedHeight_ = 480, savedTile_ = 16, savedFrame_ = 1,
        savedChoices_ = 0;
};

// Sets the text, lays it out and draws it once fully revealed.
inline void ShowWhole(Game_Text& text, const std::string& source) {
    text.sourceText = source;
    text.instantFlag = 1;
    text.Draw(TextLayoutPass, 1.0, 1.0, 0.0);
    text.Draw(TextDrawingPass, 1.0, 1.0, 0.0);
}

}  // namespace presentation_test
