// X cursor names and the standard names they stand for.
#include <gtest/gtest.h>

#include <string>

#include "platform/cursor_source.h"
#include "platform/linux/x_cursor_names.h"

namespace input_test {

TEST(XCursorNames, AliasesMapToTheirStandardCursor) {
    const std::pair<const char*, const char*> expected[] = {
        {"left_ptr", "Arrow"},           {"default", "Arrow"},
        {"arrow", "Arrow"},              {"top_left_arrow", "Arrow"},
        {"xterm", "IBeam"},              {"text", "IBeam"},
        {"hand2", "Hand"},               {"pointer", "Hand"},
        {"hand1", "Hand"},               {"watch", "Wait"},
        {"wait", "Wait"},                {"left_ptr_watch", "AppStarting"},
        {"progress", "AppStarting"},     {"crosshair", "Cross"},
        {"cross", "Cross"},              {"question_arrow", "Help"},
        {"help", "Help"},                {"not-allowed", "No"},
        {"crossed_circle", "No"},        {"fleur", "SizeAll"},
        {"all-scroll", "SizeAll"},       {"sb_h_double_arrow", "SizeWE"},
        {"ew-resize", "SizeWE"},         {"sb_v_double_arrow", "SizeNS"},
        {"ns-resize", "SizeNS"},         {"bd_double_arrow", "SizeNWSE"},
        {"nwse-resize", "SizeNWSE"},     {"fd_double_arrow", "SizeNESW"},
        {"nesw-resize", "SizeNESW"},     {"sb_up_arrow", "UpArrow"},
        {"9d800788f1b08800ae810202380a0822", "Hand"},
    };
    for (const auto& [xName, standard] : expected) {
        const char* found = standardNameForXCursor(xName);
        ASSERT_NE(found, nullptr) << xName;
        EXPECT_STREQ(found, standard) << xName;
    }
}

TEST(XCursorNames, OtherNamesAreNoStandardCursor) {
    for (const char* xName : {"", "pencil", "X_cursor", "Left_ptr", "left_ptr ", "dnd-move", "zoom-in"}) {
        EXPECT_EQ(standardNameForXCursor(xName), nullptr) << "'" << xName << "'";
    }
}

TEST(XCursorNames, EveryStandardCursorButSizeHasXNamesThatMapBack) {
    for (const char* standard : standardCursorNames) {
        const auto& xNames = xCursorNamesOf(standard);
        if (std::string(standard) == "Size") {
            EXPECT_TRUE(xNames.empty());
            continue;
        }
        ASSERT_FALSE(xNames.empty()) << standard;
        for (const char* xName : xNames) EXPECT_STREQ(standardNameForXCursor(xName), standard) << xName;
    }
    EXPECT_TRUE(xCursorNamesOf("Unknown").empty());
}

}  // namespace input_test
