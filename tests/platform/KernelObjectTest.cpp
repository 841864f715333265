#include <gtest/gtest.h>

#include "platform/Kernel32.h"
#include "platform/KernelObject.h"

namespace {

struct Probe : platform::KernelObject {
    explicit Probe(int* closes) : closes(closes) {}
    BOOL Close() override {
        ++*closes;
        return TRUE;
    }
    int* closes;
};
struct Other : platform::KernelObject {};

TEST(KernelHandles, CloseDispatchesOnceAndStaleHandlesFail) {
    using platform::kernel32::CloseHandle;
    int closes = 0;
    std::size_t before = platform::OpenHandleCount();
    HANDLE a = platform::RegisterHandle(std::make_shared<Probe>(&closes));
    HANDLE b = platform::RegisterHandle(std::make_shared<Other>());
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(a, b);
    EXPECT_NE(platform::LookupHandleAs<Probe>(a), nullptr);
    EXPECT_EQ(platform::LookupHandleAs<Probe>(b), nullptr);  // wrong kind
    auto held = platform::LookupHandleAs<Probe>(a);
    EXPECT_TRUE(CloseHandle(a));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(held->closes, &closes);  // a holder keeps the object alive after the close
    EXPECT_FALSE(CloseHandle(a));
    EXPECT_EQ(platform::kernel32::GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x12345)));
    EXPECT_TRUE(CloseHandle(b));
    EXPECT_EQ(platform::OpenHandleCount(), before);
}

}  // namespace
