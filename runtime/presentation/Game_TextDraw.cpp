// The walk of a text: its internal runs, line breaks, characters, ruby and inline icons and images.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxFont.h"
#include "Main/DxFontDraw.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxGraphicsGraph.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/FontCache.h"
#include "runtime/presentation/Game_Text.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

namespace {

// ---- The library calls -------------------------------------------------------------------------

int LibraryDrawText(int x, int y, const std::string& text, std::uint32_t colour, int font,
                    std::uint32_t edgeColour) {
    const std::u16string wide = ConvertUtf8ToWide(text.c_str());
    return ZiDaz::DrawTextWithFontWide(x, y, wide.c_str(), static_cast<int>(wide.size()), colour,
                                       font, edgeColour, 0);
}

int LibraryDrawTextScaled(float x, float y, double scaleX, double scaleY, const std::string& text,
                          std::uint32_t colour, int font, std::uint32_t edgeColour) {
    const std::u16string wide = ConvertUtf8ToWide(text.c_str());
    return ZiDaz::DrawTextScaledWithFontWide(x, y, scaleX, scaleY, wide.c_str(),
                                             static_cast<int>(wide.size()), colour, font,
                                             edgeColour, 0);
}

int LibraryDrawTextRotated(int x, int y, double scaleX, double scaleY, double angle,
                           const std::string& text, std::uint32_t colour, int font,
                           std::uint32_t edgeColour) {
    const std::u16string wide = ConvertUtf8ToWide(text.c_str());
    return ZiDaz::DrawTextRotatedWithFontWide(x, y, scaleX, scaleY, 0.0, 0.0, angle, colour, font,
                                              edgeColour, 0, wide.c_str(),
                                              static_cast<int>(wide.size()));
}

int LibraryMeasureText(const std::string& text, int font) {
    const std::u16string wide = ConvertUtf8ToWide(text.c_str());
    if (wide.empty()) return 0;
    return ZiDaz::MeasureTextWidthWide(wide.c_str(), static_cast<int>(wide.size()), -1, font, 0);
}

int LibraryIsFontCacheOnTexture(int font) {
    return ZiDaz::IsFontCacheOnTexture(font);
}

int LibraryIsFontHandleUsable(int font) {
    return ZiDaz::IsFontHandleUsable(font);
}

std::uint32_t LibraryComposeColor(int red, int green, int blue) {
    return ZiDaz::ComposeScreenColor(red, green, blue);
}

int LibraryPutStretched(int x1, int y1, int x2, int y2, int graph) {
    return ZiDaz::PutGraphStretched(x1, y1, x2, y2, graph, 1);
}

int LibraryPutRotated(int x, int y, double scaleX, double scaleY, double angle, int graph) {
    return ZiDaz::PutGraphRotated3(x, y, 0, 0, scaleX, scaleY, angle, graph, 1, 0, 0);
}

int LibraryDeriveGraph(int x, int y, int width, int height, int graph) {
    return ZiDaz::DeriveGraphFromRect(x, y, width, height, graph);
}

void LibraryDestroyGraph(int graph) {
    ZiDaz::DestroyGraph(graph);
}

void LibraryGetGraphSize(int graph, int* width, int* height) {
    ZiDaz::GetGraphSize(graph, width, height);
}

void LibrarySelectTextureFilter(int filter) {
    ZiDaz::SelectTextureFilter(filter);
}

// Inline images come through the graphic cache, which loads each file once and reports a missing
// one.
int LibraryLoadInlineImage(const std::string& name) {
    if (!LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, name)) return 0;
    const GraphicCacheEntry* entry = GraphicCache.Find(name);
    return entry != nullptr && !entry->handles.empty() ? entry->handles[0] : 0;
}

TextDrawLibrary DefaultLibrary() {
    TextDrawLibrary l{};
    l.drawText = LibraryDrawText;
    l.drawTextScaled = LibraryDrawTextScaled;
    l.drawTextRotated = LibraryDrawTextRotated;
    l.measureTextWidth = LibraryMeasureText;
    l.isFontCacheOnTexture = LibraryIsFontCacheOnTexture;
    l.isFontHandleUsable = LibraryIsFontHandleUsable;
    l.composeScreenColor = LibraryComposeColor;
    l.putGraphStretched = LibraryPutStretched;
    l.putGraphRotated = LibraryPutRotated;
    l.deriveGraph = LibraryDeriveGraph;
    l.destroyGraph = LibraryDestroyGraph;
    l.getGraphSize = LibraryGetGraphSize;
    l.selectTextureFilter = LibrarySelectTextureFilter;
    l.loadInlineImage = LibraryLoadInlineImage;
    return l;
}

TextDrawLibrary& Library() {
    static TextDrawLibrary library = DefaultLibrary();
    return library;
}

// ---- The walk ----------------------------------------------------------------------------------

constexpr int kColourType = 12;
constexpr int kRubyColour = 13;
constexpr int kNoSpacingOverride = -1000000;

int SettingByte(std::size_t index) {
    const auto& bytes = TheBasicData.settingBytes;
    return index < bytes.size() ? static_cast<int>(static_cast<std::int8_t>(bytes[index])) : 0;
}

int GameDataVersion() {
    const auto& numbers = TheBasicData.settingNumbers;
    return numbers.size() > 15 ? numbers[15] : 0;
}

int Digit(std::uint8_t b) {
    return static_cast<int>(b) - kTextCodeDigitBase;
}

class TextWalk {
  public:
    TextWalk(Game_Text& text, bool draw, double scaleX, double scaleY, double angle)
        : t_(text), draw_(draw), lib_(Library()) {
        version_ = GameDataVersion();
        s_ = std::max(WindowScale, 1);
        textScale_ = TheFontCache.textScale > 0 ? TheFontCache.textScale : 100;
        doubled_ = textScale_ == 200;
        const int magnify = std::max(textScale_ / 100, 1);
        xs_ = scaleX * magnify;
        ys_ = scaleY * magnify;
        angle_ = version_ >= 230 ? angle : 0.0;
    }

    void Run();

  private:
    // Parameter byte i after the kind byte, 14 (digit 0) past the end.
    std::uint8_t Param(int i) const {
        const std::size_t at = static_cast<std::size_t>(t_.byteIndex + i);
        return at < t_.workingText.size() ? static_cast<std::uint8_t>(t_.workingText[at])
                                          : kTextCodeDigitBase;
    }
    int D1() const { return Digit(Param(0)); }
    int D2() const { return Digit(Param(0)) * 64 + Digit(Param(1)); }
    int D3() const { return Digit(Param(0)) * 4096 + Digit(Param(1)) * 64 + Digit(Param(2)); }
    // Consumes parameter bytes (counted as skipped unless said otherwise).
    void Consume(int count, bool skipped = true) {
        const int left = static_cast<int>(t_.workingText.size()) - t_.byteIndex;
        count = std::clamp(count, 0, std::max(left, 0));
        t_.byteIndex += count;
        if (skipped) t_.skippedBytes += count;
    }
    int Length() const { return static_cast<int>(t_.workingText.size()); }
    int CharSizeAt(int at) const {
        const char* p = t_.workingText.c_str() + at;
        const int n = std::max(ZiDaz::SizeOfCharAt(ZiDaz::CharEncoding::Utf8, p), 1);
        return std::min(n, Length() - at);
    }
    int PixelSize() const { return t_.scaleFactor * t_.fontSize / 2; }
    void FetchFont() {
        TheFontCache.EnsureFont(t_.fontSlot, PixelSize(), Game_Text::GetFontThickness(),
                                t_.edgeSize, variant_);
        font_ = TheFontCache.Handle(t_.fontSlot, PixelSize(), t_.edgeSize, variant_);
    }
    int DivScale(int value) const { return value * 100 / textScale_; }
    int AlignmentOffset() const {
        const std::size_t line = static_cast<std::size_t>(std::max(t_.lineIndex, 0));
        const int raw = line < t_.lineRawWidths.size() ? t_.lineRawWidths[line] : 0;
        return static_cast<int>((t_.widestRawLine - raw) * alignment_ * xs_ * 0.5);
    }
    int Advance(const std::string& c) const {
        const int w = lib_.measureTextWidth(c, font_);
        const int f = t_.scaleFactor;
        int advance = w - (f * letterSpacing_) / 2 -
                      (f * std::min<int>(2, static_cast<int>(c.size())) * SettingByte(10)) / 4;
        if (t_.edgeSize != 0 && c == " ") advance += 2;
        return advance;
    }
    bool Hidden(int extentX, int extentY, double top, int left) const;
    // Draws a glyph string at a local position (x before scaling, y before scaling), with its
    // shadow; false when the library failed.
    bool DrawGlyphs(double localX, double localY, const std::string& c, std::uint32_t colour);

    bool ApplyRun();
    void LineBreak();
    void Place(const std::string& c);
    void Ruby();
    void InlineImage(int kind);

    Game_Text& t_;
    bool draw_;
    TextDrawLibrary& lib_;
    int version_ = 0, s_ = 1, textScale_ = 100;
    bool doubled_ = false;
    double xs_ = 1.0, ys_ = 1.0, angle_ = 0.0;
    int lineHeight_ = 0, glyphs_ = 0, letterSpacing_ = 0, leftMargin_ = 0;
    bool instantMode_ = false;
    int spacingOverride_ = kNoSpacingOverride;
    int alignment_ = 0, variant_ = 0, shadow_ = 0, imagePercent_ = 100, baseline_ = 2;
    int font_ = 0;
    bool ended_ = false;
};

bool TextWalk::Hidden(int extentX, int extentY, double top, int left) const {
    const int tile = TileSize;
    const int bottom = ScreenHeight / s_ * s_;
    const int right = ScreenWidth / s_ * s_;
    const int topLimit = -(static_cast<int>(extentY * ys_) + 2 * tile) * s_;
    const int leftLimit = -(static_cast<int>(extentX * xs_) + 2 * tile) * s_;
    return top >= bottom || top <= topLimit || left <= leftLimit || left >= right;
}

bool TextWalk::DrawGlyphs(double localX, double localY, const std::string& c,
                          std::uint32_t colour) {
    const std::uint32_t edge = static_cast<std::uint32_t>(t_.ColorOf(t_.edgeColourIndex));
    const std::uint32_t shadowColour = static_cast<std::uint32_t>(t_.ColorOf(t_.shadowColourIndex));
    const int a = AlignmentOffset();
    const double ox = t_.originX, oy = t_.originY;
    auto one = [&](int d, std::uint32_t fill, std::uint32_t outline) {
        if (angle_ != 0.0) {
            const double lx = a + localX * xs_;
            const double ly = localY * ys_;
            const int x = static_cast<int>(ox + lx * std::cos(angle_) - ly * std::sin(angle_)) + d;
            const int y = static_cast<int>(oy + lx * std::sin(angle_) + ly * std::cos(angle_)) + d;
            return lib_.drawTextRotated(x, y, xs_, ys_, angle_, c, fill, font_, outline);
        }
        if (xs_ == 1.0 && ys_ == 1.0) {
            return lib_.drawText(static_cast<int>(a + ox + localX) + d,
                                 static_cast<int>(localY + oy) + d, c, fill, font_, outline);
        }
        return lib_.drawTextScaled(static_cast<float>(a + ox + localX * xs_ + d),
                                   static_cast<float>(localY * ys_ + oy + d), xs_, ys_, c, fill,
                                   font_, outline);
    };
    bool ok = true;
    if (shadow_ != 0) ok = one(shadow_, shadowColour, shadowColour) != -1;
    return one(0, colour, edge) != -1 && ok;
}

void TextWalk::Run() {
    Game_Text& t = t_;
    if (t.sourceText.empty()) return;
    if (t.sourceText != t.startedText || t.workingText.empty()) t.Start();
    if (t.coloursDirty != 0) {
        t.coloursDirty = 0;
        t.RebuildColourTable();
    }
    t.byteIndex = 0;
    t.colourIndex = 0;
    t.fontSlot = 0;
    t.edgeSize = 0;
    t.fontSize = Game_Text::ClampFontSize(TheSystemState.baseFontSize);
    t.edgeColourIndex = -1;
    t.shadowColourIndex = -1;
    TheFontCache.EnsureFont(0, t.fontSize, Game_Text::GetFontThickness(), 0, -1);
    t.cursorX = 0;
    t.cursorY = 0;
    t.lineIndex = 0;
    t.skippedBytes = 0;
    t.scaleFactor = doubled_ ? s_ : 2 * s_;
    variant_ = TheFontCache.antiAliasFlag;
    shadow_ = TheSystemState.textShadow;
    baseline_ = TheTextEngineSettings.baselineSetting == 1 ? 2 : 2 * s_;
    if (doubled_) baseline_ /= 2;

    while (!ended_ && t.byteIndex < Length()) {
        if (t.timedWaitCounter > 0 && t.byteIndex >= t.timedWaitPosition - 1) break;
        const int start = t.byteIndex;
        const int n = CharSizeAt(start);
        t.byteIndex += n;
        t.skippedBytes += std::max(0, n - 2);
        if (draw_) {
            if (instantMode_) {
                t.revealPosition =
                    std::max(t.revealPosition, static_cast<double>(t.byteIndex - t.skippedBytes));
            } else if (t.byteIndex > static_cast<std::int64_t>(t.revealPosition) + t.skippedBytes) {
                break;
            }
        }
        if (t.paused != 0 && t.pausePosition < t.byteIndex) break;
        const std::string c =
            t.workingText.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(n));
        if (c[0] == kTextCodeRunByte) {
            if (!ApplyRun()) {
                // A kind the engine does not know: its length and kind bytes stand as a character.
                Place(t.workingText.substr(
                    static_cast<std::size_t>(start + 1),
                    static_cast<std::size_t>(std::min(2, Length() - start - 1))));
            }
        } else if (c[0] == '\n') {
            LineBreak();
        } else if (c[0] != '\r') {
            Place(c);
        }
    }
}

bool TextWalk::ApplyRun() {
    Game_Text& t = t_;
    const int lengthAt = t.byteIndex;
    const std::uint8_t L =
        lengthAt < Length() ? static_cast<std::uint8_t>(t.workingText[lengthAt]) : 0;
    const std::uint8_t K =
        lengthAt + 1 < Length() ? static_cast<std::uint8_t>(t.workingText[lengthAt + 1]) : 0;
    t.byteIndex = std::min(t.byteIndex + 2, Length());
    t.skippedBytes += 3;
    const int v = version_;
    auto pen = [&] {
        if (v <= 202) ++glyphs_;
        if (!draw_) t.RecordLineMetrics(lineHeight_);
    };
    switch (K) {
        case 0x01:
            Place("\\");
            break;
        case 0x02: {
            // The table's last entry at most; with no table the index names no entry (black).
            t.colourIndex = std::min(D3(), TheSystemDatabase.DataCount(kColourType) - 1);
            Consume(4);
            break;
        }
        case 0x03: {
            int value = t.fontSize;
            bool set = true;
            if (L == 4) {
                value = D1();
            } else if (L == 5) {
                value = D2();
            } else {
                set = false;
            }
            Consume(3);
            if (set) t.fontSize = Game_Text::ClampFontSize(value);
            lineHeight_ = std::max(lineHeight_, t.fontSize);
            break;
        }
        case 0x04:
            lineHeight_ = D2();
            Consume(3);
            break;
        case 0x05:
            t.edgeSize = 1;
            break;
        case 0x06:
            t.edgeSize = 0;
            break;
        case 0x07:
            letterSpacing_ = static_cast<int>(Param(0)) - 120;
            Consume(1);
            break;
        case 0x09:
            Ruby();
            break;
        case 0x0B:
            instantMode_ = false;
            break;
        case 0x0C: {
            int value = D3();
            Consume(4);
            if (value == 0 || value == 65535) value = TheTextEngineSettings.instantSpeed;
            if (draw_) t.revealSpeed = std::max(1, value);
            ++glyphs_;
            break;
        }
        case 0x0E:
            if (draw_ && t.byteIndex > t.timedWaitPosition) {
                t.timedWaitCounter = 16;
                t.timedWaitPosition = t.byteIndex + 1;
            }
            break;
        case 0x0F:
            if (draw_ && t.byteIndex > t.pausePosition && t.choiceMode == 0) {
                t.pausePosition = t.byteIndex;
                t.paused = 1;
            }
            break;
        case 0x10:
            if (draw_) t.closeAfterReveal = 1;
            break;
        case 0x11:
            t.fontSlot = std::clamp(D1(), 0, 3);
            Consume(2);
            break;
        case 0x12:
            spacingOverride_ = D2() - 1000;
            Consume(2);
            break;
        case 0x13:
            alignment_ = 0;
            break;
        case 0x14:
            alignment_ = 1;
            break;
        case 0x15:
            alignment_ = 2;
            break;
        case 0x16:
        case 0x17:
        case 0x1F:
        case 0x22:
            InlineImage(K);
            break;
        case 0x18:
            t.cursorX += DivScale(D2() - 5000);
            Consume(3);
            pen();
            break;
        case 0x19:
            t.cursorY += DivScale(D2() - 5000);
            Consume(3);
            pen();
            break;
        case 0x1A:
            variant_ = 1;
            break;
        case 0x1B:
            variant_ = 0;
            break;
        case 0x1C:
        case 0x1D:
            t.cursorX = DivScale(D2() - 5000);
            Consume(3);
            pen();
            break;
        case 0x1E:
            t.cursorY = DivScale(D2() - 5000);
            if (v >= 220) lineHeight_ = 0;
            Consume(3);
            pen();
            break;
        case 0x20:
            instantMode_ = true;
            break;
        case 0x21:
            t.edgeColourIndex = D3() - 1;
            Consume(3);
            break;
        case 0x23:
            t.edgeSize = std::clamp(D2(), 0, 9);
            Consume(3);
            break;
        case 0x24:
            t.shadowColourIndex = D3() - 1;
            Consume(3);
            break;
        case 0x25:
            imagePercent_ = D3();
            Consume(3);
            break;
        case 0x26:
            leftMargin_ = DivScale(D2() - 5000);
            Consume(3);
            break;
        case 0x27:
            t.fontSize = Game_Text::ClampFontSize(t.fontSize + D2() - 5000);
            lineHeight_ = std::max(lineHeight_, t.fontSize);
            Consume(3);
            break;
        case 0x28:
            shadow_ = std::max(1, TheSystemState.textShadow);
            break;
        case 0x29:
            shadow_ = 0;
            break;
        default:
            return false;
    }
    return true;
}

void TextWalk::LineBreak() {
    Game_Text& t = t_;
    const int f = t.scaleFactor;
    t.cursorX = leftMargin_;
    if (version_ > 202 || glyphs_ != 0) {
        if (t.choiceMode == 0 && lineHeight_ == 0 && version_ > 202) lineHeight_ = t.fontSize;
        t.cursorY += f * lineHeight_ / 2;
    }
    const std::size_t line = static_cast<std::size_t>(std::max(t.lineIndex, 0));
    bool addSpacing;
    if (t.choiceMode == 0) {
        addSpacing = line < t.lineHeights.size() && t.lineHeights[line] != 0;
    } else {
        if (t.lineHeights.size() < line + 1) t.lineHeights.resize(line + 1, 0);
        addSpacing = t.lineHeights[line] != 0;
    }
    if (addSpacing) {
        const int b0 = std::min(SettingByte(0), 32);
        if (spacingOverride_ != kNoSpacingOverride) {
            t.cursorY += (f * spacingOverride_ / 2) * b0 / 32;
        } else {
            const int b = SettingByte(t.choiceMode == 0 ? 11 : 12);
            t.cursorY += (b * b0 / 32) * f / 2;
        }
    }
    ++t.lineIndex;
    lineHeight_ = 0;
    if (t.choiceMode == 0) {
        lineHeight_ = t.fontSize;
        const std::size_t next = static_cast<std::size_t>(t.lineIndex);
        if (t.lineHeights.size() < next + 1) t.lineHeights.resize(next + 1, 0);
        if (!draw_) t.lineHeights[next] = f * t.fontSize / 2;
    }
}

void TextWalk::Place(const std::string& c) {
    Game_Text& t = t_;
    lineHeight_ = std::max(t.fontSize, lineHeight_);
    FetchFont();
    ++glyphs_;
    if (draw_) {
        const int a = AlignmentOffset();
        bool visible = true;
        if (angle_ == 0.0) {
            const double top =
                static_cast<int>((t.cursorY - t.fontSize + lineHeight_) * ys_) + t.originY;
            const int left = static_cast<int>(a + t.originX + static_cast<int>(t.cursorX * xs_));
            visible = !Hidden(t.fontSize, t.fontSize, top, left);
        }
        if (visible) {
            // In software mode the glyphs are cached in memory images, which serve as well as
            // textures: only a handle that cannot draw at all is reported.
            if (TheTextEngineSettings.opacityCap == 0 && lib_.isFontHandleUsable(font_) == 0) {
                char line[512];
                std::snprintf(
                    line, sizeof line,
                    TranslateMessageUtf8(u"次の文字がキャッシュできませんでした。サイズを"
                                         u"小さくしてください =>　文字「%s」 フォントサイズ %d"),
                    c.c_str(), t.fontSize);
                ReportRuntimeError(true, line, "", "");
                return;
            }
            const double localY = (lineHeight_ - t.fontSize) * baseline_ / 2 + t.cursorY;
            if (!DrawGlyphs(t.cursorX, localY, c,
                            static_cast<std::uint32_t>(t.ColorOf(t.colourIndex)))) {
                ReportRuntimeError(true, "Can't Draw Message.", t.sourceText, c);
            }
        }
    }
    t.cursorX += Advance(c);
    if (!draw_) t.RecordLineMetrics(lineHeight_);
    if (t.choiceMode != 0) {
        t.lineHeights.resize(static_cast<std::size_t>(std::max(TheGameSystem.choiceCount, 0)), 0);
    }
}

void TextWalk::Ruby() {
    Game_Text& t = t_;
    const int R = std::max(t.fontSize, lineHeight_);
    if (!draw_) t.RecordLineMetrics(R);
    FetchFont();
    const int baseSize = t.fontSize;
    const int baseColour = t.colourIndex;
    if (version_ >= 230) t.skippedBytes += 3;
    const int baseStart = t.cursorX;
    const int baseFrom = t.byteIndex;
    bool complete = false, cut = false;
    while (t.byteIndex < Length()) {
        if (draw_ && version_ >= 230 &&
            t.byteIndex >= static_cast<std::int64_t>(t.revealPosition) + t.skippedBytes) {
            cut = true;
            break;
        }
        const int n = CharSizeAt(t.byteIndex);
        std::string c = t.workingText.substr(static_cast<std::size_t>(t.byteIndex),
                                             static_cast<std::size_t>(n));
        t.byteIndex += n;
        if (c == ",") {
            complete = true;
            break;
        }
        if (c[0] == '\0') c = "\\";
        if (draw_) {
            if (!DrawGlyphs(t.cursorX, R - t.fontSize + t.cursorY, c,
                            static_cast<std::uint32_t>(t.ColorOf(t.colourIndex)))) {
                ReportRuntimeError(true, "Can't Draw Message.", t.sourceText, c);
            }
        }
        const int advance = Advance(c);
        if (advance >= 0) t.cursorX += advance;
    }
    if (cut) {
        ended_ = true;
    } else if (!complete) {
        // A ruby without its comma shows only its base.
        ended_ = true;
    } else {
        const int baseBytes = t.byteIndex - baseFrom;
        t.fontSize = TheSystemState.rubyFontSize;
        FetchFont();
        std::vector<std::string> chars;
        std::string ruby;
        int rubyBytes = 0;
        while (t.byteIndex < Length()) {
            const int n = CharSizeAt(t.byteIndex);
            std::string c = t.workingText.substr(static_cast<std::size_t>(t.byteIndex),
                                                 static_cast<std::size_t>(n));
            t.byteIndex += n;
            if (c == "]") break;
            rubyBytes += n;
            ruby += c;
            chars.push_back(std::move(c));
        }
        if (draw_ && !chars.empty()) {
            const int W = lib_.measureTextWidth(ruby, font_);
            const int B = t.cursorX - baseStart;
            const int N = static_cast<int>(chars.size());
            const double y = R - (t.scaleFactor * t.fontSize) / 2 - baseSize + t.cursorY;
            const std::uint32_t colour = static_cast<std::uint32_t>(t.ColorOf(kRubyColour));
            if (W > B) {
                DrawGlyphs((t.cursorX + baseStart) / 2 - W / 2, y, ruby, colour);
            } else {
                for (int k = 0; k < N; ++k) {
                    const int own =
                        lib_.measureTextWidth(chars[static_cast<std::size_t>(k)], font_);
                    const int xk = baseStart + static_cast<int>(static_cast<double>(k) / N * B);
                    DrawGlyphs(xk + (B / N - own) / 2, y, chars[static_cast<std::size_t>(k)],
                               colour);
                }
            }
        }
        if (version_ >= 230) {
            t.skippedBytes += rubyBytes + 1;
        } else if (draw_) {
            t.revealPosition =
                std::max(t.revealPosition, static_cast<double>(t.byteIndex - baseBytes));
            t.skippedBytes -= baseBytes;
        }
    }
    t.fontSize = baseSize;
    t.colourIndex = baseColour;
    ++glyphs_;
    if (!draw_) t.RecordLineMetrics(R);
    lineHeight_ = R;
}

// Reads a decimal number of up to `digits` characters at `at`, moving past it.
int ReadNumber(const std::string& text, std::size_t& at, std::size_t digits) {
    std::size_t end = at;
    while (
        end < text.size() && end - at < digits &&
        (std::isdigit(static_cast<unsigned char>(text[end])) || (end == at && text[end] == '-'))) {
        ++end;
    }
    const int value = std::atoi(text.substr(at, end - at).c_str());
    at = end;
    return value;
}

bool Expect(const std::string& text, std::size_t& at, const char* word) {
    const std::size_t n = std::char_traits<char>::length(word);
    if (text.compare(at, n, word) != 0) return false;
    at += n;
    return true;
}

void TextWalk::InlineImage(int kind) {
    Game_Text& t = t_;
    const bool nearest = kind == 0x1F || kind == 0x22;
    int graph = 0, derived = 0, width = 0, height = 0;
    if (kind == 0x16 || kind == 0x1F) {
        const int n = D3();
        Consume(3, false);
        if (n >= 0 && n < kTextIconLimit && n < TheFontCache.IconCount() &&
            TheFontCache.iconGraphs[static_cast<std::size_t>(n)] >= 1) {
            graph = TheFontCache.iconGraphs[static_cast<std::size_t>(n)];
            width = TheFontCache.iconWidths[static_cast<std::size_t>(n)];
            height = TheFontCache.iconHeights[static_cast<std::size_t>(n)];
        }
    } else {
        std::string name;
        while (t.byteIndex < Length()) {
            const char ch = t.workingText[static_cast<std::size_t>(t.byteIndex)];
            ++t.byteIndex;
            if (ch == ']') break;
            name += ch == '\0' ? '\\' : ch;
        }
        name = RestoreEscapeCodes(name);
        enum { Plain, Cut, Anime } form = Plain;
        int a = 0, b = 0, c = 0, d = 0, cols = 1, rows = 1, step = 1;
        if (name.size() >= 14) {
            std::size_t at = 0;
            if (Expect(name, at, "<CUT/X")) {
                a = ReadNumber(name, at, 9);
                if (Expect(name, at, "-")) b = ReadNumber(name, at, 9);
                if (Expect(name, at, "/Y")) c = ReadNumber(name, at, 9);
                if (Expect(name, at, "-")) d = ReadNumber(name, at, 9);
                const std::size_t close = name.find('>', at);
                name = close == std::string::npos ? std::string() : name.substr(close + 1);
                form = Cut;
            } else if (Expect(name, at, "<ANIME/X")) {
                cols = std::max(1, ReadNumber(name, at, 4));
                if (Expect(name, at, "/Y")) rows = std::max(1, ReadNumber(name, at, 4));
                if (Expect(name, at, "/")) step = std::max(1, ReadNumber(name, at, 4));
                const std::size_t close = name.find('>', at);
                name = close == std::string::npos ? std::string() : name.substr(close + 1);
                form = Anime;
            }
        }
        if (!name.empty()) graph = lib_.loadInlineImage(name);
        if (graph >= 1) {
            lib_.getGraphSize(graph, &width, &height);
            if (form == Cut) {
                derived =
                    lib_.deriveGraph(a, c, std::min(width, b - a), std::min(height, d - c), graph);
                if (derived >= 1) lib_.getGraphSize(derived, &width, &height);
                graph = derived;
            } else if (form == Anime) {
                const int cellW = std::max(1, width / cols);
                const int cellH = std::max(1, height / rows);
                const int columns = width / cellW;
                const int cells = columns * (height / cellH);
                if (cells > 0) {
                    const int frame = TheSystemState.frameCount / step;
                    const int k = ((frame % cells) + cells) % cells;
                    derived = lib_.deriveGraph(cellW * (k % columns), cellH * (k / columns), cellW,
                                               cellH, graph);
                } else {
                    derived = 0;
                }
                width = cellW;
                height = cellH;
                graph = derived;
            }
        }
    }
    if (graph < 1) return;
    const int imageW = width * imagePercent_ / 100;
    const int imageH = height * imagePercent_ / 100;
    const int f = t.scaleFactor;
    lineHeight_ = std::max(lineHeight_, imageH);
    if (draw_) {
        if (nearest) lib_.selectTextureFilter(ZiDaz::DX_TEXFILTER_POINT);
        const int a = AlignmentOffset();
        const double ox = t.originX, oy = t.originY;
        const double left = a + ox + t.cursorX * xs_;
        double top = oy + (lineHeight_ + t.cursorY - imageH) * ys_;
        if (doubled_)
            top = oy + ((lineHeight_ - 2 * imageH / baseline_) * baseline_ / 2 + t.cursorY) * ys_;
        if (angle_ != 0.0) {
            const double lx = left - ox, ly = top - oy;
            const int x = static_cast<int>(ox + lx * std::cos(angle_) - ly * std::sin(angle_));
            const int y = static_cast<int>(oy + lx * std::sin(angle_) + ly * std::cos(angle_));
            lib_.putGraphRotated(x, y, xs_ * s_ * imagePercent_ / 100.0,
                                 ys_ * s_ * imagePercent_ / 100.0, angle_, graph);
        } else {
            const bool hidden = Hidden(
                imageW, imageH, oy + static_cast<int>((lineHeight_ + t.cursorY - imageH) * ys_),
                static_cast<int>(ox + static_cast<int>(t.cursorX * xs_)));
            if (!hidden) {
                if (doubled_) {
                    lib_.putGraphStretched(
                        static_cast<int>(left), static_cast<int>(top),
                        static_cast<int>(a + ox + (imageW * baseline_ / s_ + t.cursorX) * xs_),
                        static_cast<int>(oy + (baseline_ * lineHeight_ / 2 + t.cursorY) * ys_),
                        graph);
                } else {
                    lib_.putGraphStretched(
                        static_cast<int>(left), static_cast<int>(top),
                        static_cast<int>(ox + a + (imageW * f / 2 + t.cursorX) * xs_),
                        static_cast<int>(oy +
                                         (imageH * (f - 2) / 2 + t.cursorY + lineHeight_) * ys_),
                        graph);
                }
            }
        }
        if (nearest) {
            lib_.selectTextureFilter(t.filterMode == 1
                                         ? ZiDaz::DX_TEXFILTER_POINT
                                         : TheTextEngineSettings.defaultTextureFilter);
        }
    }
    const int advanceWidth = doubled_ ? imageW * (2 / s_) : imageW;
    t.cursorX += f * advanceWidth / 2 - f * letterSpacing_ / 2;
    ++glyphs_;
    if (!draw_) t.RecordLineMetrics(lineHeight_);
    if (derived >= 1) lib_.destroyGraph(derived);
}

}  // namespace

TextDrawLibrary& GetTextDrawLibrary() {
    return Library();
}

void ResetTextDrawLibrary() {
    Library() = DefaultLibrary();
}

void Game_Text::Draw(bool draw, double scaleX, double scaleY, double angle) {
    TextWalk walk(*this, draw, scaleX, scaleY, angle);
    walk.Run();
}
