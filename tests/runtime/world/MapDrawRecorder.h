// Records what the panorama, the fog and the character sprites would draw, over a graphic cache
// filled by the test with made-up graph handles of known sizes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "runtime/presentation/GraphicCache.h"
#include "runtime/world/MapDrawCalls.h"

namespace world_test {

struct DrawCall {
    std::string what;  // "blend", "bright", "put", "stretch", "sub", "derive", "destroy"
    std::vector<int> args;
    bool operator==(const DrawCall&) const = default;
};

class MapDrawRecorder {
  public:
    explicit MapDrawRecorder(int softMode = 1) : saved_(GetMapDrawCalls()) {
        MapDrawCalls& c = GetMapDrawCalls();
        c.selectBlendMode = [](int m, int p) { return Add("blend", {m, p}); };
        c.setBrightness = [](int r, int g, int b) { return Add("bright", {r, g, b}); };
        c.putGraph = [](int x, int y, std::int32_t g, int t) { return Add("put", {x, y, g, t}); };
        c.putGraphStretched = [](int x1, int y1, int x2, int y2, std::int32_t g, int t) {
            return Add("stretch", {x1, y1, x2, y2, g, t});
        };
        c.putGraphSubRect = [](int x, int y, int sx, int sy, int w, int h, std::int32_t g, int t) {
            return Add("sub", {x, y, sx, sy, w, h, g, t});
        };
        c.deriveGraph = [](int x, int y, int w, int h, std::int32_t g) {
            const int handle = NextHandle()++;
            Sizes()[handle] = {w, h};
            Add("derive", {x, y, w, h, g});
            return handle;
        };
        c.destroyGraph = [](std::int32_t g) { return Add("destroy", {g}); };
        c.getGraphSize = [](std::int32_t g, int* w, int* h) {
            const auto found = Sizes().find(g);
            if (found == Sizes().end()) return -1;
            *w = found->second.first;
            *h = found->second.second;
            return 0;
        };
        c.useMaskScreen = [](std::int32_t) {};
        c.softMode = softMode;
        Calls().clear();
        Sizes().clear();
        GraphicCache = GraphicCacheData{};
    }
    ~MapDrawRecorder() {
        GetMapDrawCalls() = saved_;
        GraphicCache = GraphicCacheData{};
    }
    MapDrawRecorder(const MapDrawRecorder&) = delete;
    MapDrawRecorder& operator=(const MapDrawRecorder&) = delete;

    // A cached file of w x h pixels cut into columns x rows cells (1 x 1: the whole image
    // alone). Returns the whole graph's handle; cell n (1-based) is that handle + n.
    static int AddImage(const std::string& name, int w, int h, int columns = 1, int rows = 1) {
        GraphicCacheEntry entry;
        const int whole = NextHandle();
        NextHandle() += 1 + columns * rows;
        entry.handles.push_back(whole);
        Sizes()[whole] = {w, h};
        if (columns * rows > 1) {
            for (int i = 1; i <= columns * rows; ++i) {
                entry.handles.push_back(whole + i);
                Sizes()[whole + i] = {w / columns, h / rows};
            }
            entry.divisionX = columns;
            entry.divisionY = rows;
        }
        GraphicCache.nameMap[name] = static_cast<std::int32_t>(GraphicCache.entries.size());
        GraphicCache.entries.push_back(entry);
        return whole;
    }

    static std::vector<DrawCall>& Calls() {
        static std::vector<DrawCall> calls;
        return calls;
    }
    // The recorded calls of one kind.
    static std::vector<DrawCall> Only(const std::string& what) {
        std::vector<DrawCall> out;
        for (const DrawCall& c : Calls())
            if (c.what == what) out.push_back(c);
        return out;
    }

  private:
    static int Add(const std::string& what, std::vector<int> args) {
        Calls().push_back({what, std::move(args)});
        return 0;
    }
    static int& NextHandle() {
        static int next = 5000;
        return next;
    }
    static std::map<int, std::pair<int, int>>& Sizes() {
        static std::map<int, std::pair<int, int>> sizes;
        return sizes;
    }
    MapDrawCalls saved_;
};

}  // namespace world_test
