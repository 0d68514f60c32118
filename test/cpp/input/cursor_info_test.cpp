// cursor_info.json and the names behind it: the monochrome height rule, the first name for a
// shared system cursor, sorted members, and an empty object when nothing was measured (also from
// a journal that held null for it).
#include <gtest/gtest.h>

#include "input/cursor_catalogue.h"
#include "platform/standard_cursor_table.h"

namespace input_test {

TEST(CursorInfo, TheFirstNameKeepsASharedHandle) {
    StandardCursorTable table;
    table.add(0x10, "Arrow");
    table.add(0x20, "Size");
    table.add(0x20, "SizeAll");  // the system gave the same cursor for both
    EXPECT_STREQ(table.find(0x20), "Size");
    EXPECT_STREQ(table.find(0x10), "Arrow");
    EXPECT_EQ(table.find(0x30), nullptr);
    EXPECT_EQ(table.entries().size(), 2u);
}

TEST(CursorInfo, AMonochromeMaskIsHalvedAndMadeEvenMembersSortedWithFourSpacesOrAnEmptyObject) {
    for (auto [mask, height] : {std::pair{64, 32}, {66, 34}, {65, 32}, {1, 0}}) {
        EXPECT_EQ(monochromeCursorHeight(mask), height) << mask;
    }
    EXPECT_EQ(cursorInfoJson({}), "{}");
    EXPECT_EQ(cursorInfoFromJournal("{\"kind\":\"cursors\",\"shapes\":null}\n"), "{}");
    CursorShapes shapes;
    shapes["Icon"] = shapeFromMask(11, 12, 32, 48, true);
    shapes["IBeam"] = shapeFromMask(0, 1, 32, 66, false);  // sorted byte-wise
    EXPECT_EQ(cursorInfoJson(shapes),
              "{\n    \"IBeam\": {\n        \"height\": 34,\n        \"isColor\": false,\n        \"width\": 32,\n"
              "        \"x\": 0,\n        \"y\": 1\n    },\n    \"Icon\": {\n        \"height\": 48,\n"
              "        \"isColor\": true,\n        \"width\": 32,\n        \"x\": 11,\n        \"y\": 12\n    }\n}");
}

}  // namespace input_test
