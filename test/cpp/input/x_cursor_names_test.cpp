// The standard cursor names that X cursor names stand for (the Linux cursor source).
#include <gtest/gtest.h>

#include "platform/linux/x_cursor_names.h"

namespace input_test {

TEST(XCursorNames, MapToStandardNames) {
    for (auto [xName, standard] : {std::pair{"left_ptr", "Arrow"}, {"xterm", "IBeam"}, {"hand2", "Hand"},
                                   {"left_ptr_watch", "AppStarting"}, {"watch", "Wait"}, {"nwse-resize", "SizeNWSE"},
                                   {"9d800788f1b08800ae810202380a0822", "Hand"}}) {
        const char* found = standardNameForXCursor(xName);
        EXPECT_STREQ(found ? found : "(none)", standard) << xName;
    }
    for (const char* xName : {"", "pencil", "Left_ptr", "left_ptr "}) {
        EXPECT_EQ(standardNameForXCursor(xName), nullptr) << "'" << xName << "'";
    }
    EXPECT_TRUE(xCursorNamesOf("Size").empty());
}

}  // namespace input_test
