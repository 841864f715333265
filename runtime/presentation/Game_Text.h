// One expanded text laid out and revealed character by character: the message window's
// text, the choice window's text and the text of every string picture. Draw walks the text from its
// first byte each time, applies its internal runs (colours, sizes, edges, waits, ruby, icons,
// images ...) and places the characters; a layout pass only moves the pen and records the line
// metrics, a drawing pass stops where the reveal has got to and draws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reveal units: a single-byte character counts 1, a character of two or more bytes 2; the bytes of
// internal runs count 0.
using RevealUnit = double;

inline constexpr double kInstantRevealPosition = 1000000.0;
inline constexpr double kRevealPositionLimit = 50000000.0;
// Drawing pass flags of Draw.
inline constexpr bool TextLayoutPass = false;
inline constexpr bool TextDrawingPass = true;

// The library calls of the text engine. The defaults use the game library (texts reach the fonts
// as UTF-16); tests replace entries to record what is drawn.
struct TextDrawLibrary {
    int (*drawText)(int x, int y, const std::string& text, std::uint32_t colour, int font,
                    std::uint32_t edgeColour);
    int (*drawTextScaled)(float x, float y, double scaleX, double scaleY, const std::string& text,
                          std::uint32_t colour, int font, std::uint32_t edgeColour);
    int (*drawTextRotated)(int x, int y, double scaleX, double scaleY, double angle,
                           const std::string& text, std::uint32_t colour, int font,
                           std::uint32_t edgeColour);
    int (*measureTextWidth)(const std::string& text, int font);
    int (*isFontCacheOnTexture)(int font);
    int (*isFontHandleUsable)(int font);
    std::uint32_t (*composeScreenColor)(int red, int green, int blue);
    int (*putGraphStretched)(int x1, int y1, int x2, int y2, int graph);
    int (*putGraphRotated)(int x, int y, double scaleX, double scaleY, double angle, int graph);
    int (*deriveGraph)(int x, int y, int width, int height, int graph);
    void (*destroyGraph)(int graph);
    void (*getGraphSize)(int graph, int* width, int* height);
    void (*selectTextureFilter)(int filter);
    // Loads an inline image by its data-relative name (once per name) and gives its whole graph;
    // 0 or below when it cannot be loaded (the loader reports the missing file).
    int (*loadInlineImage)(const std::string& name);
};
TextDrawLibrary& GetTextDrawLibrary();
void ResetTextDrawLibrary();

// Settings of the running game the text engine reads that the system object does not keep yet.
struct TextEngineSettings {
    // Non-zero: the glyph-cache check is skipped (and the key-wait cursor is drawn at alpha 254).
    std::int32_t opacityCap = 0;
    // 1: the glyph baseline factor is 2 whatever the screen scale.
    std::int32_t baselineSetting = 0;
    // The operating system's platform id: below 2 is Windows before NT (other font sizes).
    std::int32_t platformId = 2;
    // The reveal speed of "\sp[0]" and "\sp[65535]".
    std::int32_t instantSpeed = 1000000;
    // The texture filter the runtime draws with by default.
    std::int32_t defaultTextureFilter = 1;
};
extern TextEngineSettings TheTextEngineSettings;

class Game_Text {
  public:
    std::string workingText;
    std::string sourceText;
    std::string startedText;
    float originX = 0.0f;
    float originY = 0.0f;
    // Pen in device pixels relative to the origin.
    std::int32_t cursorX = 0;
    std::int32_t cursorY = 0;
    std::int32_t lineIndex = 0;
    std::int32_t byteIndex = 0;
    std::int32_t colourIndex = 0;
    // Logical pixels.
    std::int32_t fontSize = 24;
    std::int32_t edgeSize = 0;
    // Reveal units per 30 sixtieths of a second.
    double revealSpeed = 240.0;
    RevealUnit revealPosition = 0.0;
    RevealUnit previousPosition = 0.0;
    std::uint8_t instantFlag = 0;
    // Per line: widest pen x (logical), the line's top (logical), its height, widest pen x in
    // device pixels. In choice mode the heights have one entry per choice, 0 for an empty one.
    std::vector<std::int32_t> lineWidths;
    std::vector<std::int32_t> lineTops;
    std::vector<std::int32_t> lineHeights;
    std::vector<std::int32_t> lineRawWidths;
    std::int32_t fontSlot = 0;
    std::uint8_t choiceMode = 0;
    // Held at a key wait until the owner clears it.
    std::uint8_t paused = 0;
    std::uint8_t closeAfterReveal = 0;
    std::int32_t timedWaitPosition = 0;
    std::int32_t timedWaitCounter = 0;
    std::int32_t pausePosition = 0;
    std::int32_t widestLine = 0;
    std::int32_t widestRawLine = 0;
    // Bytes walked so far that are not reveal units.
    std::int32_t skippedBytes = 0;
    std::int32_t imageOffset = 0;
    // Twice the screen scale (halved in the doubled text mode).
    std::int32_t scaleFactor = 1;
    std::uint8_t coloursDirty = 1;
    std::int32_t edgeColourIndex = -1;
    std::int32_t shadowColourIndex = -1;
    std::vector<std::int32_t> colourTable;
    // 1: the owner draws with nearest-neighbour filtering.
    std::int32_t filterMode = 0;

    Game_Text();
    // A member-wise copy (a picture record copied with its text).
    void CopyFrom(const Game_Text& other);

    void SetColorsDirty() { coloursDirty = 1; }
    void Start();
    void Step();
    bool IsFinished() const;
    bool WillFinishThisStep() const;
    // A layout pass; the widest line and the bottom of the lowest line, 0 by 0 without lines.
    void Measure(int* width, int* height);
    // Entry n of the colour table, black outside it.
    std::int32_t ColorOf(int n) const;
    static int GetFontThickness();
    static int ClampFontSize(int size);
    void RecordLineMetrics(int lineHeight);

    // Walks the text (layout pass: draw false). Angle in radians.
    void Draw(bool draw, double scaleX, double scaleY, double angle);

    // The colour table from system database type 12.
    void RebuildColourTable();
};
