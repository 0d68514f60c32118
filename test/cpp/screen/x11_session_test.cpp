// When a Wayland session makes the X11 capture partial. (The words for a missing display, end to
// end: environments.test.js.)
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

}  // namespace screen_test
