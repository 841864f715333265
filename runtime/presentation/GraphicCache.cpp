#include "runtime/presentation/GraphicCache.h"

#include <cstdio>
#include <utility>

#include "Main/DxFile.h"
#include "Main/DxGraphicsGraph.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/LibraryFile.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

GraphicCacheData GraphicCache;

const GraphicCacheEntry* GraphicCacheData::Find(const std::string& name) const {
    const auto found = nameMap.find(name);
    if (found == nameMap.end()) return nullptr;
    const std::size_t index = static_cast<std::size_t>(found->second);
    return index < entries.size() ? &entries[index] : nullptr;
}

namespace {

// A message in the player's language; a text the dictionary lacks is shown as written rather
// than as the dictionary's miss text, so the report still says what went wrong.
std::string Message(const char16_t* japanese) {
    const std::string text = TranslateMessageUtf8(japanese);
    if (text != kMessageErrorString) return text;
    std::string utf8;
    for (const char16_t* p = japanese; *p != 0; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        }
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

template <typename... Args>
std::string Format(const std::string& format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), args...);
    if (length <= 0) return format;
    std::string out(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(out.data(), out.size(), format.c_str(), args...);
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// The graph of an image file held in memory, or -1 when it does not decode.
std::int32_t CreateGraph(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return -1;
    return ZiDaz::CreateGraphFromImageInMemory(bytes.data(), static_cast<int>(bytes.size()),
                                               nullptr, 0, 1, 0);
}

// Appends the cells of a whole graph, row by row.
void AppendCells(std::vector<std::int32_t>& handles, std::int32_t whole, std::int32_t across,
                 std::int32_t down) {
    if (across <= 0 || down <= 0) return;
    int width = 0, height = 0;
    ZiDaz::GetGraphSize(whole, &width, &height);
    const int cellWidth = width / across;
    const int cellHeight = height / down;
    for (int y = 0; y < down; ++y) {
        for (int x = 0; x < across; ++x) {
            handles.push_back(ZiDaz::DeriveGraphFromRect(x * cellWidth, y * cellHeight, cellWidth,
                                                         cellHeight, whole));
        }
    }
}

bool EndsWithMovieExtension(std::string_view name) {
    if (name.size() < 4) return false;
    std::string tail(name.substr(name.size() - 4));
    for (char& c : tail) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return tail == ".MP4" || tail == ".OGV" || tail == ".MPG" || tail == ".AVI";
}

void ReportReloadFailure(const std::string& path, const std::string& name) {
    ReportRuntimeError(true,
                       Format(Message(u"■ReLoadGraphic error:ファイル %s が見つかりません\n%s"),
                              path.c_str(), name.c_str()),
                       Message(u"ファイル読み込みエラー"), "");
}

void ReportUndecodable(const std::string& name) {
    ReportRuntimeError(
        true,
        Format(Message(u"【ERROR】 ファイル[ %s ]が正常に読み込めませんでした。"), name.c_str()),
        "", GetScriptLocationText());
}

}  // namespace

bool LoadGraphicCached(std::int32_t first, std::int32_t second, GraphicSizeKind kind,
                       const std::string& name) {
    if (GraphicCache.nameMap.count(name) != 0) return true;
    if (name.empty()) return true;
    const std::string path = DataPath + name;
    std::vector<std::uint8_t> bytes;
    if (!ReadLibraryFile(path, bytes)) {
        ReportRuntimeError(true, Message(u"■LoadGraphic error:以下のファイルが見つかりません"),
                           Format(Message(u"■エラー:「%s」が見つかりません\n"), path.c_str()),
                           Message(u"ファイル読み込みエラー　※このままプレイを続行すると強制終了の"
                                   u"恐れがあります"));
        return false;
    }
    const std::int32_t whole = CreateGraph(bytes);
    if (whole == -1) {
        if (EndsWithMovieExtension(name)) {
            ReportRuntimeError(true, Message(u"■LoadGraphic error:動画ファイルは読み込めません"),
                               name, "");
        } else {
            ReportRuntimeError(
                true, Message(u"【アクセスエラー】ファイルにアクセスできませんでした。 "),
                Message(u"WindowsVistaの場合「管理者として実行」でゲームを起動することで問題が"
                        u"解消されます。"),
                name);
        }
        return false;
    }
    int width = 0, height = 0;
    ZiDaz::GetGraphSize(whole, &width, &height);
    GraphicCacheEntry entry;
    if (kind == GraphicSizeKind::ByCellSize) {
        // Callers pass the tile size or half of it; a zero size would divide by zero.
        entry.divisionX = first > 0 ? width / first : 0;
        entry.divisionY = second > 0 ? height / second : 0;
    } else {
        entry.divisionX = first;
        entry.divisionY = second;
    }
    entry.handles.push_back(whole);
    AppendCells(entry.handles, whole, entry.divisionX, entry.divisionY);
    GraphicCache.nameMap.emplace(name, static_cast<std::int32_t>(GraphicCache.entries.size()));
    GraphicCache.entries.push_back(std::move(entry));
    return true;
}

bool ReloadCachedGraphics(std::int32_t mode) {
    bool allLoaded = true;
    for (const auto& [name, index] : GraphicCache.nameMap) {
        if (name.empty()) continue;
        if (index < 0 || static_cast<std::size_t>(index) >= GraphicCache.entries.size()) continue;
        GraphicCacheEntry& entry = GraphicCache.entries[static_cast<std::size_t>(index)];
        const std::string path = DataPath + name;
        std::vector<std::uint8_t> bytes;
        // A file that went missing leaves its entry as it is; the others still get their images.
        if (!ReadLibraryFile(path, bytes)) {
            ReportReloadFailure(path, name);
            allLoaded = false;
            continue;
        }
        if (mode == 1) {
            for (const std::int32_t handle : entry.handles) {
                if (handle != -1) ZiDaz::DestroyGraph(handle);
            }
            entry.handles.clear();
            const std::int32_t whole = CreateGraph(bytes);
            entry.handles.push_back(whole);
            if (whole == -1) {
                // Callers index the cells by position: keep the positions, without graphs.
                if (entry.divisionX > 0 && entry.divisionY > 0) {
                    entry.handles.resize(
                        1 + static_cast<std::size_t>(entry.divisionX) * entry.divisionY, -1);
                }
                ReportUndecodable(name);
                allLoaded = false;
            } else {
                AppendCells(entry.handles, whole, entry.divisionX, entry.divisionY);
            }
        } else if (!entry.handles.empty()) {
            if (ZiDaz::RecreateGraphFromImageInMemory(bytes.data(), static_cast<int>(bytes.size()),
                                                      entry.handles[0], nullptr, 0, 1, 0) == -1) {
                ReportUndecodable(name);
                allLoaded = false;
            }
        }
    }
    return allLoaded;
}

bool ClearGraphicCache() {
    for (const GraphicCacheEntry& entry : GraphicCache.entries) {
        for (const std::int32_t handle : entry.handles) {
            if (handle != -1) ZiDaz::DestroyGraph(handle);
        }
    }
    GraphicCache.entries.clear();
    GraphicCache.nameMap.clear();
    return true;
}

std::int32_t LoadGraphicUncached(std::int32_t divisionX, std::int32_t divisionY,
                                 std::vector<std::int32_t>* cells, bool quiet,
                                 const std::string& name) {
    if (name.empty()) return -1;
    const std::string path = DataPath + name;
    const int file = ZiDaz::OpenReadFileHandle(path.c_str(), 0);
    if (file <= 0) {
        if (!quiet) {
            ReportRuntimeError(true,
                               Format(Message(u"■ファイル %s (分割 %d,%d)が見つかりません\n"),
                                      path.c_str(), divisionX, divisionY),
                               Message(u"ファイル読み込みエラー"), "");
        }
        return -1;
    }
    std::int32_t whole = -1;
    if (TestPlay) {
        std::vector<std::uint8_t> bytes;
        if (ReadLibraryFile(path, bytes)) whole = CreateGraph(bytes);
    } else {
        whole = ZiDaz::LoadGraphFromImageFile(path.c_str(), 0);
    }
    ZiDaz::CloseFileHandle(file);
    if (whole == -1) {
        ReportUndecodable(name);
        return -1;
    }
    if (cells != nullptr && (divisionX > 1 || divisionY > 1)) {
        cells->clear();
        cells->push_back(whole);
        AppendCells(*cells, whole, divisionX, divisionY);
    }
    return whole;
}

bool IsMovieFileName(std::string_view name) {
    return EndsWithMovieExtension(name);
}
