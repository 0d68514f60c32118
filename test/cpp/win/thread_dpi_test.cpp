// SetThreadDpiAwarenessContext as its page describes it: per thread, returning the old context,
// NULL for a context the system does not know.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "platform/thread_dpi.h"

namespace {

template <class F>
F user32(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

bool threadContextIs(DPI_AWARENESS_CONTEXT expected) {
    const auto get = user32<DPI_AWARENESS_CONTEXT(WINAPI*)()>("GetThreadDpiAwarenessContext");
    const auto equal = user32<BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT)>("AreDpiAwarenessContextsEqual");
    return get != nullptr && equal != nullptr && equal(get(), expected);
}

TEST(ThreadDpi, TheThreadCountsInPhysicalPixelsForTheScopeOnly) {
    if (user32<void*>("SetThreadDpiAwarenessContext") == nullptr) GTEST_SKIP() << "before Windows 10 1607";
    std::thread([] {
        const auto set = user32<DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT)>("SetThreadDpiAwarenessContext");
        set(DPI_AWARENESS_CONTEXT_UNAWARE);  // as in node.exe, which declares nothing
        {
            const PhysicalPixelsOnThisThread physical;
            ASSERT_EQ(physical.awareness(), PhysicalPixelsOnThisThread::Awareness::perMonitorV2);
            EXPECT_TRUE(threadContextIs(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2));
            std::thread([] { EXPECT_FALSE(threadContextIs(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) << "per thread"; }).join();
        }
        EXPECT_TRUE(threadContextIs(DPI_AWARENESS_CONTEXT_UNAWARE)) << "the earlier awareness is back";
    }).join();
}

}  // namespace
