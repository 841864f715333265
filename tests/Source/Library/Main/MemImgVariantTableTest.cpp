// The variant tables: entry i of every table runs the kernel whose settings VariantIndex maps to i.
#include <gtest/gtest.h>

#include "Main/DxMemImgBlend.h"

namespace {

using namespace ZiDaz::memimg;

// A walker that reports the settings of its kernel as the index they select.
template <class K>
struct ProbeWalker {
    static int Run() {
        return VariantIndex(K::kColorType, K::kKind, K::kOp, K::kBlend, K::kWhite, K::kKey);
    }
};

template <class K>
struct RulesProbeWalker {
    static bool Run() { return K::kAlphaCopiesWhole; }
};

TEST(MemImgVariantTableTest, EveryEntryRunsTheKernelOfItsIndex) {
    constexpr auto plain = MakeVariantTable<ProbeWalker, kPlainTransferRules>();
    constexpr auto stretch = MakeVariantTable<ProbeWalker, kStretchTransferRules>();
    static_assert(plain.size() == kVariantCount);
    for (int i = 0; i < kVariantCount; ++i) {
        ASSERT_EQ(plain[i](), i);
        ASSERT_EQ(stretch[i](), i);
    }
    // The rules reach the kernels: an alpha source copied opaque with white and no blend image
    // copies whole pixels only under the plain transfer's rules.
    constexpr int copy = VariantIndex(1, Kind::kAlpha, Op::kNone, false, true, false);
    EXPECT_TRUE((MakeVariantTable<RulesProbeWalker, kPlainTransferRules>()[copy]()));
    EXPECT_FALSE((MakeVariantTable<RulesProbeWalker, kStretchTransferRules>()[copy]()));
}

}  // namespace
