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
    // A thread of its own, set to unaware first as in node.exe, which declares nothing.
    if (user32<void*>("SetThreadDpiAwarenessContext") == nullptr) GTEST_SKIP() << "before Windows 10 1607";
    std::thread([] {
        const auto set = user32<DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT)>("SetThreadDpiAwarenessContext");
        set(DPI_AWARENESS_CONTEXT_UNAWARE);
        {
            const PhysicalPixelsOnThisThread physical;
            // Wine 8, like Windows 10 1607, refuses v2 and takes v1: the documented fallback.
            using Awareness = PhysicalPixelsOnThisThread::Awareness;
            ASSERT_NE(physical.awareness(), Awareness::hostDefault);
            const DPI_AWARENESS_CONTEXT expected = physical.awareness() == Awareness::perMonitorV2
                                                       ? DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
                                                       : DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE;
            EXPECT_TRUE(threadContextIs(expected));
        }
        EXPECT_TRUE(threadContextIs(DPI_AWARENESS_CONTEXT_UNAWARE)) << "the earlier awareness is back";
    }).join();
}

}  // namespace
