#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/Kernel32.h"
#include "platform/KernelObject.h"

namespace {

using namespace platform::kernel32;

struct Shared {
    std::atomic<int> stage{0};
    HANDLE gate = nullptr;
    DWORD seenId = 0;
};

DWORD ReturnsSeven(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    shared->seenId = GetCurrentThreadId();
    WaitForSingleObject(shared->gate, INFINITE);
    return 7;
}

DWORD CallsExitThread(LPVOID) {
    ExitThread(42);
}

TEST(Threads, ExitCodeIsStillActiveUntilTheThreadEndsAndTheHandleSignals) {
    Shared shared;
    shared.gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &ReturnsSeven, &shared, 0, &id);
    ASSERT_NE(thread, nullptr);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
    SetEvent(shared.gate);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(shared.seenId, id);
    EXPECT_NE(id, GetCurrentThreadId());

    HANDLE exiting = CreateThread(nullptr, 0, &CallsExitThread, nullptr, 0, nullptr);
    EXPECT_EQ(WaitForSingleObject(exiting, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(exiting, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(CloseHandle(exiting));
    EXPECT_TRUE(CloseHandle(shared.gate));
}

DWORD CountsStages(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    shared->stage = 1;
    return 0;
}

TEST(Threads, CreateSuspendedWaitsForItsResume) {
    Shared shared;
    HANDLE thread = CreateThread(nullptr, 0, &CountsStages, &shared, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(10);
    EXPECT_EQ(shared.stage.load(), 0);
    EXPECT_EQ(SuspendThread(thread), 1u);  // a parked thread takes a further count
    EXPECT_EQ(ResumeThread(thread), 2u);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(shared.stage.load(), 1);
    EXPECT_EQ(ResumeThread(thread), 0u);
    CloseHandle(thread);
}

// The load threads' pattern: the thread suspends itself; a resume that arrives before that
// reports 0 and must be retried.
DWORD SuspendsItselfTwice(LPVOID parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    WaitForSingleObject(shared->gate, INFINITE);
    for (int round = 1; round <= 2; ++round) {
        EXPECT_EQ(SuspendThread(GetCurrentThread()), 0u);
        shared->stage = round;
    }
    return 0;
}

TEST(Threads, AResumeBeforeTheSelfSuspendReportsZeroAndIsRetried) {
    Shared shared;
    shared.gate = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, &SuspendsItselfTwice, &shared, 0, nullptr);
    EXPECT_EQ(ResumeThread(thread), 0u);                       // not suspended yet: nothing changes
    EXPECT_EQ(SuspendThread(thread), static_cast<DWORD>(-1));  // running: cannot be stopped
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    SetEvent(shared.gate);
    for (int round = 1; round <= 2; ++round) {
        while (ResumeThread(thread) == 0) Sleep(0);
        while (shared.stage.load() != round) Sleep(0);
    }
    EXPECT_EQ(WaitForSingleObject(thread, 1000), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(shared.gate);
}

TEST(Threads, PrioritiesAreRecordedAndBadValuesRefused) {
    Shared shared;
    shared.gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, &ReturnsSeven, &shared, 0, nullptr);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    for (int p : {THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_HIGHEST,
                  THREAD_PRIORITY_NORMAL}) {
        EXPECT_TRUE(SetThreadPriority(thread, p));
        EXPECT_EQ(GetThreadPriority(thread), p);
    }
    EXPECT_FALSE(SetThreadPriority(thread, 5));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    SetEvent(shared.gate);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(shared.gate);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_ERROR_RETURN);
    DWORD code;
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
}

}  // namespace
