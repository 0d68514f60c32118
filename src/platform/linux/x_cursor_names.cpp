#include "platform/linux/x_cursor_names.h"

namespace {

struct XCursorFamily {
    const char* standardName;
    std::vector<const char*> xNames;
};

// "Size" is Windows' old name for the move cursor and has no X counterpart of its own.
const std::vector<XCursorFamily>& families() {
    static const std::vector<XCursorFamily> table = {
        {"AppStarting",
         {"left_ptr_watch", "progress", "half-busy", "08e8e1c95fe2fc01f976f1e063a24ccd",
          "3ecb610c1bf2410f44200f48c40d3599"}},
        {"Arrow", {"left_ptr", "default", "arrow", "top_left_arrow"}},
        {"Cross", {"crosshair", "cross", "tcross", "cross_reverse", "diamond_cross"}},
        {"Help",
         {"question_arrow", "help", "left_ptr_help", "whats_this", "5c6cd98b3f3ebcb1f9c7f1c204630408",
          "d9ce0ab605698f320427677b458ad60b"}},
        {"IBeam", {"xterm", "text", "ibeam"}},
        {"Icon", {"icon"}},
        {"No",
         {"not-allowed", "crossed_circle", "no-drop", "forbidden", "circle", "03b6e0fcb3499374a867c041f52298f0"}},
        {"Size", {}},
        {"SizeAll", {"fleur", "all-scroll", "size_all"}},
        {"SizeNESW",
         {"fd_double_arrow", "nesw-resize", "size_bdiag", "top_right_corner", "bottom_left_corner", "ne-resize",
          "sw-resize", "fcf1c3c7cd4491d801f1e1c78f100000"}},
        {"SizeNS",
         {"sb_v_double_arrow", "v_double_arrow", "ns-resize", "size_ver", "row-resize", "top_side", "bottom_side",
          "n-resize", "s-resize", "split_v", "double_arrow", "00008160000006810000408080010102",
          "2870a09082c103050810ffdffffe0204"}},
        {"SizeNWSE",
         {"bd_double_arrow", "nwse-resize", "size_fdiag", "top_left_corner", "bottom_right_corner", "nw-resize",
          "se-resize", "c7088f0f3e6c8088236ef8e1e3e70000"}},
        {"SizeWE",
         {"sb_h_double_arrow", "h_double_arrow", "ew-resize", "size_hor", "col-resize", "left_side", "right_side",
          "e-resize", "w-resize", "split_h", "028006030e0e7ebffc7f7070c0600140", "14fef782d02440884392942c11205230"}},
        {"UpArrow", {"sb_up_arrow", "up-arrow", "center_ptr"}},
        {"Wait", {"watch", "wait"}},
        {"Hand",
         {"hand2", "pointer", "hand1", "hand", "pointing_hand", "9d800788f1b08800ae810202380a0822",
          "e29285e634086352946a0e7090d73106"}},
    };
    return table;
}

}  // namespace

const char* standardNameForXCursor(std::string_view xName) {
    for (const XCursorFamily& family : families()) {
        for (const char* alias : family.xNames) {
            if (xName == alias) return family.standardName;
        }
    }
    return nullptr;
}

const std::vector<const char*>& xCursorNamesOf(std::string_view standardName) {
    static const std::vector<const char*> none;
    for (const XCursorFamily& family : families()) {
        if (standardName == family.standardName) return family.xNames;
    }
    return none;
}
