// CoInitializeEx as its page describes it: the multi-threaded apartment for threads that pump no
// messages, every success (S_FALSE too) balanced, a thread already in another apartment left there.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <thread>

#include "platform/win/com_apartment.h"

namespace {

APTTYPE apartmentOfThisThread() {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) ? type : APTTYPE_CURRENT;
}

TEST(ComApartment, AThreadWithoutMessagesJoinsTheMultiThreadedApartmentAndLeavesIt) {
    std::thread([] {
        {
            ComApartment apartment;
            EXPECT_EQ(apartment.join(), S_OK);
            EXPECT_EQ(apartmentOfThisThread(), APTTYPE_MTA);
            apartment.leave();
        }
        EXPECT_EQ(apartmentOfThisThread(), APTTYPE_CURRENT) << "COM is uninitialised again";
    }).join();
}

TEST(ComApartment, AThreadTheHostPutInASingleThreadedApartmentStaysThere) {
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            ComApartment apartment;
            EXPECT_EQ(apartment.join(), S_FALSE) << "usable as it is";
        }  // does not uninitialise what it did not initialise
        const APTTYPE type = apartmentOfThisThread();
        EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;
        CoUninitialize();
    }).join();
}

}  // namespace
