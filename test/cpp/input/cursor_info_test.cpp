// cursor_info.json and the rules it is measured by: the monochrome height rule, the first name
// for a shared system cursor, sorted members, and "null" when nothing could be measured.
#include <gtest/gtest.h>

#include "input/cursor_catalogue.h"
#include "platform/standard_cursor_table.h"

namespace input_test {

TEST(CursorHeight, AMonochromeMaskIsHalvedAndMadeEven) {
    EXPECT_EQ(monochromeCursorHeight(64), 32);
    EXPECT_EQ(monochromeCursorHeight(66), 34);
    EXPECT_EQ(monochromeCursorHeight(65), 32);
    EXPECT_EQ(monochromeCursorHeight(1), 0);

    const CursorShape mono = shapeFromMask(3, 4, 32, 64, false);
    EXPECT_EQ(mono.height, 32);
    EXPECT_EQ(mono.width, 32);
    EXPECT_FALSE(mono.isColor);
}

TEST(CursorHeight, AColourCursorKeepsItsMaskHeight) {
    const CursorShape color = shapeFromMask(1, 2, 48, 48, true);
    EXPECT_EQ(color.height, 48);
    EXPECT_TRUE(color.isColor);
    EXPECT_EQ(color.x, 1);
    EXPECT_EQ(color.y, 2);
}

TEST(StandardCursorTable, TheFirstNameKeepsASharedHandle) {
    StandardCursorTable table;
    table.add(0x10, "Arrow");
    table.add(0x20, "Size");
    table.add(0x20, "SizeAll");  // the system gave the same cursor for both
    table.add(0, "Icon");        // a failed load
    EXPECT_STREQ(table.find(0x20), "Size");
    EXPECT_STREQ(table.find(0x10), "Arrow");
    EXPECT_EQ(table.find(0x30), nullptr);
    EXPECT_EQ(table.entries().size(), 3u);

    CursorShapes shapes;
    for (const auto& [handle, name] : table.entries()) {
        if (handle != 0) shapes[name] = shapeFromMask(0, 0, 32, 32, true);
    }
    const std::string json = cursorInfoJson(shapes);
    EXPECT_NE(json.find("\"Size\""), std::string::npos);
    EXPECT_EQ(json.find("\"SizeAll\""), std::string::npos);
}

TEST(CursorInfoJson, MembersComeSortedWithFourSpaces) {
    CursorShapes shapes;
    shapes["Wait"] = shapeFromMask(11, 11, 32, 32, true);
    shapes["Arrow"] = shapeFromMask(0, 0, 32, 64, false);
    EXPECT_EQ(cursorInfoJson(shapes),
              "{\n"
              "    \"Arrow\": {\n"
              "        \"height\": 32,\n"
              "        \"isColor\": false,\n"
              "        \"width\": 32,\n"
              "        \"x\": 0,\n"
              "        \"y\": 0\n"
              "    },\n"
              "    \"Wait\": {\n"
              "        \"height\": 32,\n"
              "        \"isColor\": true,\n"
              "        \"width\": 32,\n"
              "        \"x\": 11,\n"
              "        \"y\": 11\n"
              "    }\n"
              "}");
}

TEST(CursorInfoJson, AllSixteenNamesInByteOrder) {
    CursorShapes shapes;
    for (const char* name : standardCursorNames) shapes[name] = CursorShape{};
    const std::string json = cursorInfoJson(shapes);
    size_t last = 0;
    for (const char* name : {"AppStarting", "Arrow", "Cross", "Hand", "Help", "IBeam", "Icon", "No", "Size",
                             "SizeAll", "SizeNESW", "SizeNS", "SizeNWSE", "SizeWE", "UpArrow", "Wait"}) {
        const size_t at = json.find(std::string("\"") + name + "\"");
        ASSERT_NE(at, std::string::npos) << name;
        EXPECT_GT(at, last) << name;
        last = at;
    }
}

TEST(CursorInfoJson, NothingMeasuredIsNull) { EXPECT_EQ(cursorInfoJson({}), "null"); }

}  // namespace input_test
