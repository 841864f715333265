// The colour and alpha filters through the public front end on the software renderer: the
// arguments as a game passes them, decoded by the dispatcher, run by the bodies on a graph, equal
// the per-pixel references of the filters' formulas.
#include <gtest/gtest.h>

#include <functional>

#include "FilterReference.h"
#include "FilterTestSupport.h"

using namespace velk_filter_test;
using velk_graph_test::GraphFixture;

namespace {

class FilterEndToEndTest : public GraphFixture {
  protected:
    void SetUp() override {
        GraphFixture::SetUp();
        StartSoftware(32);
    }
};

constexpr float kPercentOf255 = 100.0f / 255.0f;

TEST_F(FilterEndToEndTest, RunImageFilterEqualsTheReferenceOfEachMode) {
    struct Case {
        const char* what;
        std::function<int(HandleValue)> run;
        std::function<std::uint32_t(std::uint32_t)> reference;
    };
    const std::uint32_t target = 0x80C04020u;
    const Case cases[] = {
        {"Invert", [](HandleValue g) { return RunImageFilter(g, 6); },
         [](std::uint32_t w) { return filterref::Invert(w, false); }},
        {"Invert, premultiplied form", [](HandleValue g) { return RunImageFilter(g, 24); },
         [](std::uint32_t w) { return filterref::Invert(w, true); }},
        {"Hsb, relative hue", [](HandleValue g) { return RunImageFilter(g, 5, 0, 40, 100, -60); },
         [](std::uint32_t w) {
             return filterref::Hsb(w, 0, 40.0f, 100 * kPercentOf255, -60 * kPercentOf255, false);
         }},
        {"Hsb, absolute hue", [](HandleValue g) { return RunImageFilter(g, 5, 1, 200, -30, 0); },
         [](std::uint32_t w) {
             return filterref::Hsb(w, 1, 200.0f, -30 * kPercentOf255, 0.0f, false);
         }},
        {"Level", [](HandleValue g) { return RunImageFilter(g, 7, 20, 230, 150, 10, 240); },
         [](std::uint32_t w) { return filterref::Level(w, 20, 230, 1.5f, 10, 240, false); }},
        {"Replacement",
         [](HandleValue g) { return RunImageFilter(g, 10, 0xC0, 0x40, 0x20, 0x80, 1, 2, 3, 4); },
         [target](std::uint32_t w) {
             return filterref::Replacement(w, target, 0x04010203u, false);
         }},
        {"PremultipliedAlpha", [](HandleValue g) { return RunImageFilter(g, 11); },
         [](std::uint32_t w) { return filterref::Premultiply(w); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pixels px = RandomPixels(23, 17, 5);
        px.at(3, 4) = target;
        px.at(20, 9) = target;
        const HandleValue g = MakeGraph(px);
        ASSERT_GE(g, 0);
        ASSERT_EQ(c.run(g), 0);
        const Pixels got = ReadGraph(g);
        for (int y = 0; y < px.h; ++y)
            for (int x = 0; x < px.w; ++x)
                ASSERT_EQ(got.at(x, y), c.reference(px.at(x, y))) << "pixel " << x << "," << y;
        DestroyGraph(g);
    }
}

}  // namespace
