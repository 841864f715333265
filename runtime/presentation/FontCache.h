// The runtime's fonts and text icons: one font handle per font slot, edge size, anti-alias variant
// and pixel size, made on first use and all dropped together when too many were made; the faces of
// the four user font slots and the default face chosen for the game's character set; and the
// numbered icon graphs that texts show inline, read from the game's "BasicData" folder.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The library calls of the font cache. The defaults use the game library; tests replace entries.
struct FontCacheLibrary {
    void (*setGlyphCacheCapacity)(int count);
    // A new font handle (0 or below when it could not be made).
    int (*createFont)(const char* face, int size, int thickness, int fontType, int charSet,
                      int edgeSize);
    // Deletes every font handle and makes the library's default font again.
    void (*resetFontHandles)();
    // Anything but 0: the face is installed for that character set (-1: any).
    int (*isFontFaceInstalled)(const char* face, int charSet);
    void (*setDefaultFontSize)(int size);
    void (*setDefaultFontThickness)(int thickness);
    void (*setDefaultFontFace)(const char* face, int charSet);
    // Reads a file whole through the library's file layer (archives too); false when it does not
    // open.
    bool (*readWholeFile)(const std::string& path, std::string& contents);
    // The names (not paths) of the files in a folder.
    std::vector<std::string> (*listFolder)(const std::string& folder);
    // Loads an icon image quietly, without the graphic cache: a graph handle, or 0 or below.
    int (*loadIconGraph)(const std::string& path);
    void (*destroyGraph)(int graph);
    void (*getGraphSize)(int graph, int* width, int* height);
};
FontCacheLibrary& GetFontCacheLibrary();
void ResetFontCacheLibrary();

inline constexpr int kFontHandleListCount = 100;
inline constexpr int kFontHandleListSize = 200;
inline constexpr int kTextIconLimit = 10000;
// More creations than this since the last reset empty the cache before the next request.
inline constexpr int kFontCreationLimit = 100;
inline constexpr int kFontGlyphCacheCapacity = 170;
inline constexpr int kTextCodePageUtf8 = 65001;
// The character set every slot font is made with.
inline constexpr int kSlotCharSet = 7;

class FontCache {
  public:
    // List ((slot × 10 + edge size) × 2 + variant) holds at index n the handle of size n, 0 when
    // not made yet.
    std::array<std::vector<std::int32_t>, kFontHandleListCount> handleLists;
    // The font types of anti-alias variants other than 0 and 1.
    std::int32_t normalFontType = 0;
    std::int32_t edgeFontType = 0;
    std::int32_t createdCount = 0;
    std::array<std::int32_t, 4> slotCharSets{};
    // The anti-alias variant a text starts with.
    std::int32_t antiAliasFlag = 0;
    std::string defaultFace;
    std::array<std::string, 4> slotFaces;
    // Indexed by icon number; 0 or a missing entry: no such icon.
    std::vector<std::int32_t> iconGraphs;
    std::vector<std::int32_t> iconWidths;
    std::vector<std::int32_t> iconHeights;
    // Percent: 200 in the doubled text mode.
    std::int32_t textScale = 0;
    std::int32_t textCodePage = 0;

    static int ListIndex(int slot, int edgeSize, int variant) {
        return (slot * 10 + edgeSize) * 2 + variant;
    }
    // Makes the font of these settings ready; afterwards Handle gives it.
    void EnsureFont(int slot, int size, int thickness, int edgeSize, int variant);
    // The handle EnsureFont made ready (variants other than 0 and 1 read the anti-alias flag's
    // list); 0 when there is none.
    std::int32_t Handle(int slot, int size, int edgeSize, int variant) const;
    // The number of icon entries (graph list size).
    int IconCount() const { return static_cast<int>(iconGraphs.size()); }
};
extern FontCache TheFontCache;

// Every font handle is deleted and every list refilled with 200 empty entries.
void ResetFontCache();
// Slot faces from the game's font names, the default face by the game's character set, the
// library's default font and the font types by the game's glyph smoothing setting.
void SelectDefaultFonts();
// A script or a loaded save asks for a face in slot 0..4; records the status in the system state.
bool SetFontSlot(int slot, const std::string& face);
// Loads the text icons again from the list file or the folder scan.
void LoadTextIcons();
