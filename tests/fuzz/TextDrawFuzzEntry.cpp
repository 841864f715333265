#include "fuzz/TextDrawFuzzEntry.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/FontCache.h"
#include "runtime/presentation/Game_Text.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool Finite(double v) {
    return std::isfinite(v);
}

int DrawAt(int, int, const std::string&, std::uint32_t, int font, std::uint32_t) {
    Check(font > 0);
    return 0;
}

int DrawScaled(float x, float y, double sx, double sy, const std::string&, std::uint32_t, int font,
               std::uint32_t) {
    Check(Finite(x) && Finite(y) && Finite(sx) && Finite(sy) && font > 0);
    return 0;
}

int DrawRotated(int, int, double sx, double sy, double angle, const std::string&, std::uint32_t,
                int font, std::uint32_t) {
    Check(Finite(sx) && Finite(sy) && Finite(angle) && font > 0);
    return 0;
}

int Measure(const std::string& text, int) {
    return static_cast<int>(text.size()) * 7;
}

int Stretched(int, int, int, int, int graph) {
    Check(graph >= 1);
    return 0;
}

int Rotated(int, int, double sx, double sy, double, int graph) {
    Check(Finite(sx) && Finite(sy) && graph >= 1);
    return 0;
}

// Cut-outs must lie inside their 48 by 32 source.
int Derive(int x, int y, int w, int h, int graph) {
    Check(graph >= 1);
    if (x < 0 || y < 0 || w < 1 || h < 1 || x + w > 48 || y + h > 32) return -1;
    return 900;
}

void Size(int graph, int* w, int* h) {
    Check(graph >= 1);
    *w = graph == 900 ? 8 : 48;
    *h = graph == 900 ? 8 : 32;
}

int LoadImage(const std::string& name) {
    return name.empty() || name[0] == 'x' ? 0 : 77;
}

int MakeFont(const char*, int size, int, int, int, int edge) {
    Check(size >= 0 && size <= 4096 && edge >= 0 && edge <= 9);
    return 5;
}

// Everything the input may change is put back afterwards.
class FuzzWorld {
  public:
    FuzzWorld()
        : basic_(TheBasicData),
          state_(TheSystemState),
          database_(TheSystemDatabase),
          cache_(TheFontCache),
          settings_(TheTextEngineSettings),
          gameState_(TheGameSystem.gameState),
          choices_(TheGameSystem.choiceCount),
          scale_(WindowScale),
          width_(ScreenWidth),
          height_(ScreenHeight),
          tile_(TileSize),
          textLibrary_(GetTextDrawLibrary()),
          fontLibrary_(GetFontCacheLibrary()) {
        TheGameSystem.gameState = GameState::Restart;
        TextDrawLibrary& t = GetTextDrawLibrary();
        t.drawText = DrawAt;
        t.drawTextScaled = DrawScaled;
        t.drawTextRotated = DrawRotated;
        t.measureTextWidth = Measure;
        t.isFontCacheOnTexture = [](int) { return 0; };
        t.isFontHandleUsable = [](int) { return 1; };
        t.composeScreenColor = [](int r, int g, int b) {
            return static_cast<std::uint32_t>((r << 16) | (g << 8) | b);
        };
        t.putGraphStretched = Stretched;
        t.putGraphRotated = Rotated;
        t.deriveGraph = Derive;
        t.destroyGraph = [](int graph) { Check(graph == 900); };
        t.getGraphSize = Size;
        t.selectTextureFilter = [](int) {};
        t.loadInlineImage = LoadImage;
        FontCacheLibrary& f = GetFontCacheLibrary();
        f.setGlyphCacheCapacity = [](int) {};
        f.createFont = MakeFont;
        f.resetFontHandles = [] {};
        f.isFontFaceInstalled = [](const char*, int) { return 1; };
        f.setDefaultFontSize = [](int) {};
        f.setDefaultFontThickness = [](int) {};
        f.setDefaultFontFace = [](const char*, int) {};
        f.readWholeFile = [](const std::string&, std::string& contents) {
            contents = "icon0001.png\nicon0002.png";
            return true;
        };
        f.loadIconGraph = [](const std::string&) { return 66; };
        f.destroyGraph = [](int) {};
        f.getGraphSize = Size;
    }
    ~FuzzWorld() {
        TheBasicData = basic_;
        TheSystemState = state_;
        TheSystemDatabase = database_;
        TheFontCache = cache_;
        TheTextEngineSettings = settings_;
        TheGameSystem.gameState = gameState_;
        TheGameSystem.choiceCount = choices_;
        WindowScale = scale_;
        ScreenWidth = width_;
        ScreenHeight = height_;
        TileSize = tile_;
        GetTextDrawLibrary() = textLibrary_;
        GetFontCacheLibrary() = fontLibrary_;
    }
    FuzzWorld(const FuzzWorld&) = delete;
    FuzzWorld& operator=(const FuzzWorld&) = delete;

  private:
    Game_BasicData basic_;
    Game_SystemState state_;
    Game_Database database_;
    FontCache cache_;
    TextEngineSettings settings_;
    GameState gameState_;
    int choices_, scale_, width_, height_, tile_;
    TextDrawLibrary textLibrary_;
    FontCacheLibrary fontLibrary_;
};

}  // namespace

int RunTextDrawFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    FuzzWorld world;
    const std::uint8_t options = data[0];
    const bool scale2 = options & 1;
    TheBasicData.SetDefaults();
    TheBasicData.settingNumbers[15] = (options & 32) ? 202 : 314;
    TheBasicData.settingBytes[0] = 32;
    TheBasicData.settingBytes[11] = 4;
    TheBasicData.settingBytes[12] = 6;
    TheBasicData.settingBytes[14] = (options & 4) ? 2 : 0;
    WindowScale = scale2 ? 2 : 1;
    ScreenWidth = 640;
    ScreenHeight = 480;
    TileSize = 16;
    TheGameSystem.choiceCount = 4;
    TheSystemState.textShadow = 2;
    TheSystemDatabase.types.clear();
    TheSystemDatabase.typeInfos.clear();
    if (!(options & 64)) {
        TheSystemDatabase.SetTypeCount(13);
        Game_DatabaseType& t = TheSystemDatabase.types[12];
        t.fieldKinds = {kNumberFieldBase, kNumberFieldBase + 1, kNumberFieldBase + 2};
        t.entries.assign(3, Game_DatabaseEntry{});
        for (auto& e : t.entries) e.numbers = {10, 20, 30};
    }
    SelectDefaultFonts();
    LoadTextIcons();

    Game_Text text;
    text.sourceText.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    text.choiceMode = (options & 2) ? 1 : 0;
    text.instantFlag = (options & 128) ? 1 : 0;
    text.originX = 20.0f;
    text.originY = 300.0f;
    const double angle = (options & 8) ? 0.3 : 0.0;
    const double zoom = (options & 16) ? 1.5 : 1.0;
    int width = 0, height = 0;
    text.Measure(&width, &height);
    for (int frame = 0; frame < 6; ++frame) {
        text.Step();
        text.Draw(TextDrawingPass, zoom, zoom, angle);
        if (frame == 3) text.paused = 0;
        TheSystemState.frameCount += 7;
    }
    Check(text.byteIndex >= 0 && text.byteIndex <= static_cast<int>(text.workingText.size()));
    return 0;
}
