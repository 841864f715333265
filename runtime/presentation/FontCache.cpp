#include "runtime/presentation/FontCache.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "Main/DxFile.h"
#include "Main/DxFont.h"
#include "Main/DxGraphicsGraph.h"
#include "Main/Windows/DxFontWin.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

FontCache TheFontCache;

namespace {

void LibrarySetGlyphCacheCapacity(int count) {
    ZiDaz::SetGlyphCacheCapacity(count);
}

// Faces are UTF-8 whatever the library's narrow encoding is, so they reach it as UTF-16.
int LibraryCreateFont(const char* face, int size, int thickness, int fontType, int charSet,
                      int edgeSize) {
    ZiDaz::FontCreateParams params;
    ZiDaz::InitFontCreateParams(&params);
    const std::u16string wide = ConvertUtf8ToWide(face);
    return ZiDaz::MakeFontHandle(&params, wide.c_str(), size, thickness, fontType, charSet,
                                 edgeSize, 0, -1, 0);
}

void LibraryResetFontHandles() {
    ZiDaz::ResetFontHandles();
}

int LibraryIsFontFaceInstalled(const char* face, int charSet) {
    const std::u16string wide = ConvertUtf8ToWide(face);
    return ZiDaz::IsFontFaceInstalledWide(wide.c_str(), charSet);
}

void LibrarySetDefaultFontSize(int size) {
    ZiDaz::SetDefaultFontSize(size);
}

void LibrarySetDefaultFontThickness(int thickness) {
    ZiDaz::SetDefaultFontThickness(thickness);
}

void LibrarySetDefaultFontFace(const char* face, int charSet) {
    const std::u16string wide = ConvertUtf8ToWide(face);
    ZiDaz::SetDefaultFontFaceWide(wide.c_str(), charSet);
}

bool LibraryReadWholeFile(const std::string& path, std::string& contents) {
    const int handle = ZiDaz::OpenReadFileHandle(path.c_str(), 0);
    if (handle <= 0) return false;
    const std::int64_t size = ZiDaz::GetFileSizeByPath(path.c_str());
    contents.assign(static_cast<std::size_t>(std::clamp<std::int64_t>(size, 0, 1 << 26)), '\0');
    if (!contents.empty()) {
        const int read =
            ZiDaz::ReadFileHandle(contents.data(), static_cast<int>(contents.size()), handle);
        contents.resize(static_cast<std::size_t>(std::max(read, 0)));
    }
    ZiDaz::CloseFileHandle(handle);
    return true;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

int LibraryLoadIconGraph(const std::string& path) {
    return LoadGraphicUncached(1, 1, nullptr, true, path);
}

void LibraryDestroyGraph(int graph) {
    ZiDaz::DestroyGraph(graph);
}

void LibraryGetGraphSize(int graph, int* width, int* height) {
    ZiDaz::GetGraphSize(graph, width, height);
}

FontCacheLibrary DefaultLibrary() {
    FontCacheLibrary l{};
    l.setGlyphCacheCapacity = LibrarySetGlyphCacheCapacity;
    l.createFont = LibraryCreateFont;
    l.resetFontHandles = LibraryResetFontHandles;
    l.isFontFaceInstalled = LibraryIsFontFaceInstalled;
    l.setDefaultFontSize = LibrarySetDefaultFontSize;
    l.setDefaultFontThickness = LibrarySetDefaultFontThickness;
    l.setDefaultFontFace = LibrarySetDefaultFontFace;
    l.readWholeFile = LibraryReadWholeFile;
    l.listFolder = ListFolder;
    l.loadIconGraph = LibraryLoadIconGraph;
    l.destroyGraph = LibraryDestroyGraph;
    l.getGraphSize = LibraryGetGraphSize;
    return l;
}

FontCacheLibrary& Library() {
    static FontCacheLibrary library = DefaultLibrary();
    return library;
}

struct FontTypes {
    int normal;
    int edge;
};

FontTypes TypesOfVariant(const FontCache& cache, int variant) {
    if (variant == 0) return {ZiDaz::DX_FONTTYPE_NORMAL, ZiDaz::DX_FONTTYPE_EDGE};
    if (variant == 1) {
        return {ZiDaz::DX_FONTTYPE_ANTIALIASING_8X8, ZiDaz::DX_FONTTYPE_ANTIALIASING_EDGE_8X8};
    }
    return {cache.normalFontType, cache.edgeFontType};
}

int ListVariant(const FontCache& cache, int variant) {
    return variant == 0 || variant == 1 ? variant : (cache.antiAliasFlag != 0 ? 1 : 0);
}

// The game's font name of a slot (string settings 3 to 6), empty when the game has none.
std::string GameFontName(int slot) {
    const auto& texts = TheBasicData.settingTexts;
    const std::size_t index = static_cast<std::size_t>(3 + slot);
    return slot >= 0 && slot < 4 && index < texts.size() ? texts[index] : std::string();
}

int SettingByte(std::size_t index) {
    const auto& bytes = TheBasicData.settingBytes;
    return index < bytes.size() ? static_cast<int>(static_cast<std::int8_t>(bytes[index])) : 0;
}

struct FaceRow {
    std::vector<const char*> candidates;
    const char* lastResort;
};

// The faces tried for the game's character set, by its code modulo 100.
const FaceRow* FaceRowOf(int remainder) {
    static const FaceRow japanese{{"Meiryo"}, "MS UI Gothic"};
    static const FaceRow korean{{"Malgun Gothic", "Batang", "Gulim"}, "Malgun Gothic"};
    static const FaceRow traditional{{"Microsoft JhengHei", "微軟正黑體", "PMingLiu", "新細明體"},
                                     "Microsoft JhengHei"};
    static const FaceRow simplified{{"Microsoft YaHei", "黑体", "SimHei", "KaiTi", "楷体", "SimSun",
                                     "宋体", "SimSun-ExtB", "中易宋体"},
                                    "Microsoft YaHei"};
    static const FaceRow western{{"Arial", "Segoe UI", "Times New Roman", "MS Serif", "System"},
                                 "Arial"};
    static const FaceRow euro{{"Segoe UI", "Times New Roman", "MS Serif"}, "Arial"};
    if (remainder <= 1) return &japanese;
    switch (remainder) {
        case 2:
            return &korean;
        case 3:
            return &traditional;
        case 4:
            return &simplified;
        case 5:
            return &western;
        case 6:
        case 7:
            return &euro;
        default:
            return nullptr;
    }
}

bool EqualsIgnoringCase(const std::string& a, std::size_t offset, const char* b) {
    for (std::size_t i = 0; b[i] != '\0'; ++i) {
        if (offset + i >= a.size()) return false;
        if (std::tolower(static_cast<unsigned char>(a[offset + i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "icon" + digits question marks + ".png", as the system's file search matches it.
bool MatchesIconPattern(const std::string& name, std::size_t digits) {
    return name.size() == 8 + digits && EqualsIgnoringCase(name, 0, "icon") &&
           EqualsIgnoringCase(name, 4 + digits, ".png");
}

int NumberAt(const std::string& text, std::size_t offset, std::size_t count) {
    if (offset >= text.size()) return 0;
    return std::atoi(text.substr(offset, count).c_str());
}

}  // namespace

FontCacheLibrary& GetFontCacheLibrary() {
    return Library();
}

void ResetFontCacheLibrary() {
    Library() = DefaultLibrary();
}

std::int32_t FontCache::Handle(int slot, int size, int edgeSize, int variant) const {
    const int index = ListIndex(slot, edgeSize, ListVariant(*this, variant));
    if (index < 0 || index >= kFontHandleListCount || size < 0) return 0;
    const auto& list = handleLists[static_cast<std::size_t>(index)];
    return static_cast<std::size_t>(size) < list.size() ? list[static_cast<std::size_t>(size)] : 0;
}

void FontCache::EnsureFont(int slot, int size, int thickness, int edgeSize, int variant) {
    FontCacheLibrary& lib = Library();
    slot = std::clamp(slot, 0, 3);
    edgeSize = std::clamp(edgeSize, 0, 9);
    size = std::max(size, 0);
    if (lib.setGlyphCacheCapacity) lib.setGlyphCacheCapacity(kFontGlyphCacheCapacity);
    const FontTypes types = TypesOfVariant(*this, variant);
    const int fontType = edgeSize >= 1 ? types.edge : types.normal;
    const std::size_t index =
        static_cast<std::size_t>(ListIndex(slot, edgeSize, ListVariant(*this, variant)));
    if (createdCount > kFontCreationLimit) ResetFontCache();
    const std::size_t at = static_cast<std::size_t>(size);
    auto grow = [&] {
        if (handleLists[index].size() <= at) handleLists[index].resize(at + 1, 0);
    };
    grow();
    if (handleLists[index][at] != 0) return;
    const std::string& face = slotFaces[static_cast<std::size_t>(slot)];
    const int charSet = slotCharSets[static_cast<std::size_t>(slot)];
    auto create = [&](const std::string& name) {
        return lib.createFont
                   ? lib.createFont(name.c_str(), size, thickness, fontType, charSet, edgeSize)
                   : 0;
    };
    handleLists[index][at] = create(face);
    if (handleLists[index][at] <= 0) {
        ResetFontCache();
        grow();
        handleLists[index][at] = create(face);
        if (handleLists[index][at] <= 0) {
            ReportRuntimeError(true, face, "This font was not generable.", "");
            slotFaces[static_cast<std::size_t>(slot)] = defaultFace;
            handleLists[index][at] = create(defaultFace);
        }
    }
    ++createdCount;
}

void ResetFontCache() {
    FontCacheLibrary& lib = Library();
    if (lib.resetFontHandles) lib.resetFontHandles();
    TheFontCache.createdCount = 0;
    for (auto& list : TheFontCache.handleLists) list.assign(kFontHandleListSize, 0);
}

void SelectDefaultFonts() {
    FontCacheLibrary& lib = Library();
    FontCache& cache = TheFontCache;
    for (int slot = 0; slot < 4; ++slot)
        cache.slotFaces[static_cast<std::size_t>(slot)] = GameFontName(slot);
    if (lib.setDefaultFontSize) lib.setDefaultFontSize(10);
    if (lib.setDefaultFontThickness) lib.setDefaultFontThickness(5);
    if (const FaceRow* row = FaceRowOf(SettingByte(17) % 100)) {
        cache.defaultFace = row->lastResort;
        for (const char* candidate : row->candidates) {
            if (lib.isFontFaceInstalled && lib.isFontFaceInstalled(candidate, -1) != 0) {
                cache.defaultFace = candidate;
                break;
            }
        }
    }
    cache.textCodePage = kTextCodePageUtf8;
    TheSystemState.fontSelectionName = cache.defaultFace;
    if (lib.setDefaultFontFace) lib.setDefaultFontFace(cache.defaultFace.c_str(), kSlotCharSet);
    for (auto& face : cache.slotFaces) {
        if (face.empty()) face = cache.defaultFace;
    }
    cache.slotCharSets.fill(kSlotCharSet);
    ResetFontCache();
    cache.textScale = 100;
    switch (SettingByte(14)) {
        case 0:
            cache.normalFontType = ZiDaz::DX_FONTTYPE_ANTIALIASING_8X8;
            cache.edgeFontType = ZiDaz::DX_FONTTYPE_ANTIALIASING_EDGE_8X8;
            cache.antiAliasFlag = 1;
            break;
        case 1:
            cache.antiAliasFlag = 0;
            cache.normalFontType = ZiDaz::DX_FONTTYPE_NORMAL;
            cache.edgeFontType = ZiDaz::DX_FONTTYPE_EDGE;
            break;
        case 2:
            cache.textScale = 200;
            cache.normalFontType = ZiDaz::DX_FONTTYPE_NORMAL;
            cache.edgeFontType = ZiDaz::DX_FONTTYPE_EDGE;
            break;
        default:
            break;
    }
}

bool SetFontSlot(int slot, const std::string& face) {
    if (slot < 0 || slot > 4) return true;
    FontCacheLibrary& lib = Library();
    FontCache& cache = TheFontCache;
    Game_SystemState& state = TheSystemState;
    const std::size_t at = static_cast<std::size_t>(slot);
    if (state.fontNames.size() < 5) state.fontNames.resize(5);
    if (state.fontSelection.size() < 5) state.fontSelection.resize(5);
    state.fontNames[at] = face;
    const bool installed = !face.empty() && lib.isFontFaceInstalled &&
                           lib.isFontFaceInstalled(face.c_str(), kSlotCharSet) != 0;
    if (installed) {
        state.fontSelection[at] = 1;
        if (slot < 4) {
            cache.slotFaces[at] = face;
        } else {
            state.fontSelectionName = face;
        }
    } else {
        state.fontSelection[at] = face.empty() ? 0 : -1;
        if (slot < 4) {
            const std::string gameName = GameFontName(slot);
            cache.slotFaces[at] = gameName.empty() ? cache.defaultFace : gameName;
        } else {
            state.fontSelectionName = cache.defaultFace;
        }
    }
    ResetFontCache();
    return true;
}

void LoadTextIcons() {
    FontCacheLibrary& lib = Library();
    FontCache& cache = TheFontCache;
    ResetFontCache();
    for (const std::int32_t graph : cache.iconGraphs) {
        if (graph > 0 && lib.destroyGraph) lib.destroyGraph(graph);
    }
    cache.iconGraphs.clear();
    cache.iconWidths.assign(kTextIconLimit, 0);
    cache.iconHeights.assign(kTextIconLimit, 0);

    std::vector<std::pair<std::string, int>> pairs;
    std::string contents;
    const std::string listPath = DataPath + "BasicData\\EncodedIconList.xxxxx";
    if (lib.readWholeFile && lib.readWholeFile(listPath, contents)) {
        contents.resize(std::min(contents.size(), contents.find('\0')));
        contents.erase(std::remove(contents.begin(), contents.end(), '\r'), contents.end());
        std::size_t start = 0;
        while (start < contents.size()) {
            std::size_t end = contents.find('\n', start);
            if (end == std::string::npos) end = contents.size();
            const std::string line = contents.substr(start, end - start);
            start = end + 1;
            // A line too short to hold a number names no icon.
            if (line.size() < 4) continue;
            pairs.emplace_back("BasicData\\" + line, NumberAt(line, 4, 4));
        }
    } else if (lib.listFolder) {
        const std::vector<std::string> names = lib.listFolder(DataPath + "BasicData/");
        for (const std::string& name : names) {
            if (MatchesIconPattern(name, 3))
                pairs.emplace_back("BasicData\\" + name, NumberAt(name, 4, 3));
        }
        for (const std::string& name : names) {
            if (!MatchesIconPattern(name, 4)) continue;
            const int number = NumberAt(name, 4, 4);
            if (number >= 1000) pairs.emplace_back("BasicData\\" + name, number);
        }
    }

    for (const auto& [name, number] : pairs) {
        if (number < 0 || number >= kTextIconLimit || !lib.loadIconGraph) continue;
        const int graph = lib.loadIconGraph(name);
        if (graph <= 0) continue;
        const std::size_t at = static_cast<std::size_t>(number);
        if (cache.iconGraphs.size() < at + 1) cache.iconGraphs.resize(at + 1, 0);
        if (cache.iconGraphs[at] > 0 && cache.iconGraphs[at] != graph && lib.destroyGraph) {
            lib.destroyGraph(cache.iconGraphs[at]);
        }
        cache.iconGraphs[at] = graph;
        int width = 0, height = 0;
        if (lib.getGraphSize) lib.getGraphSize(graph, &width, &height);
        cache.iconWidths[at] = width;
        cache.iconHeights[at] = height;
    }
}
