// When a Wayland session makes the X11 capture partial, and the X11 words for a missing display.
#include <gtest/gtest.h>

#include "platform/linux/x11_session.h"

namespace screen_test {

TEST(X11Session, OnlyXwaylandInAWaylandSessionIsPartial) {
    // Either variable marks the session; only Xwayland shows just the X11 windows.
    EXPECT_NE(waylandPartialReason("wayland-0", nullptr, true), "");
    EXPECT_NE(waylandPartialReason(nullptr, "wayland", true), "");
    EXPECT_NE(waylandPartialReason("", "Wayland", true), "");
    EXPECT_EQ(waylandPartialReason("wayland-0", "wayland", false), "") << "another X server is captured whole";
    EXPECT_EQ(waylandPartialReason(nullptr, "x11", true), "");
    EXPECT_EQ(waylandPartialReason("", "", true), "");
    EXPECT_NE(waylandPartialReason(nullptr, "wayland", true).find("only X11 windows are visible"), std::string::npos);
}

TEST(X11Session, TheMissingDisplayIsNamed) {
    EXPECT_EQ(noDisplayReason(nullptr).rfind("no X display: DISPLAY is not set", 0), 0u);
    EXPECT_EQ(noDisplayReason("").rfind("no X display: DISPLAY is not set", 0), 0u);
    EXPECT_EQ(noDisplayReason(":7").rfind("cannot open the X display \":7\"", 0), 0u);
}

}  // namespace screen_test
